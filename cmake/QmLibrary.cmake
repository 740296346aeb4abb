# qm_expose_headers(<target> <prefix>)
#
# Gives a library an include folder that holds its own headers and nothing
# else: <build>/include/<target>/<prefix> is a link to the library's source
# folder. A target that links the library includes "<prefix>/..." and
# cannot reach the sources of a library it does not link.
function(qm_expose_headers target prefix)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${prefix} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
