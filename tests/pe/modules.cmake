# The test modules, built by mingw-w64 and its resource compiler; shared by
# the native tests and the fuzz build's seed corpus. Set QM_PE_MODULES (the
# folder they go to) before including; QM_PE_HAVE_MINGW says whether the
# tools were found and QM_PE_MODULE_FILES lists what is built.
find_program(QM_MINGW32_CC i686-w64-mingw32-gcc)
find_program(QM_MINGW64_CC x86_64-w64-mingw32-gcc)
find_program(QM_MINGW32_WINDRES i686-w64-mingw32-windres)
find_program(QM_MINGW64_WINDRES x86_64-w64-mingw32-windres)

set(QM_PE_DATA ${CMAKE_CURRENT_LIST_DIR}/data)
set(QM_PE_MODULE_FILES "")
set(QM_PE_HAVE_MINGW 0)

if(QM_MINGW32_CC AND QM_MINGW64_CC AND QM_MINGW32_WINDRES AND QM_MINGW64_WINDRES)
  set(QM_PE_HAVE_MINGW 1)
  file(MAKE_DIRECTORY ${QM_PE_MODULES})

  function(qm_pe_resources output windres rc)
    add_custom_command(OUTPUT ${QM_PE_MODULES}/${output}
      COMMAND ${windres} ${ARGN} -i ${QM_PE_DATA}/${rc} -o ${QM_PE_MODULES}/${output}
      DEPENDS ${QM_PE_DATA}/${rc} VERBATIM)
  endfunction()

  # qm_pe_module(<file> <compiler> <source> [object] FLAGS <link options>)
  function(qm_pe_module output cc source)
    cmake_parse_arguments(M "" "OBJECT" "FLAGS" ${ARGN})
    set(inputs ${QM_PE_DATA}/${source})
    if(M_OBJECT)
      list(APPEND inputs ${QM_PE_MODULES}/${M_OBJECT})
    endif()
    add_custom_command(OUTPUT ${QM_PE_MODULES}/${output}
      COMMAND ${cc} -O1 ${inputs} ${M_FLAGS} -o ${QM_PE_MODULES}/${output}
      DEPENDS ${inputs} VERBATIM)
    set(QM_PE_MODULE_FILES ${QM_PE_MODULE_FILES} ${QM_PE_MODULES}/${output} PARENT_SCOPE)
  endfunction()

  qm_pe_resources(several32.o ${QM_MINGW32_WINDRES} several.rc -O coff)
  qm_pe_resources(several64.o ${QM_MINGW64_WINDRES} several.rc -O coff)
  qm_pe_resources(languages32.o ${QM_MINGW32_WINDRES} languages.rc -O coff)
  qm_pe_resources(languages64.o ${QM_MINGW64_WINDRES} languages.rc -O coff)
  qm_pe_resources(stamp.res ${QM_MINGW32_WINDRES} stamp.rc -O res)
  list(APPEND QM_PE_MODULE_FILES ${QM_PE_MODULES}/stamp.res)

  # Resource section last; its COFF symbol table lies after it.
  qm_pe_module(app32_last.exe ${QM_MINGW32_CC} app.c OBJECT several32.o
  FLAGS -Wl,--disable-reloc-section -Wl,--strip-debug)
  # Resource section last, with a debug directory (build id).
  qm_pe_module(app64_last.exe ${QM_MINGW64_CC} app.c OBJECT several64.o
    FLAGS -s -Wl,--disable-reloc-section -Wl,--build-id)
  # Only the relocation section follows the resources.
  qm_pe_module(app32_reloc.exe ${QM_MINGW32_CC} app.c OBJECT several32.o FLAGS -s -Wl,--enable-reloc-section)
  qm_pe_module(lib32.dll ${QM_MINGW32_CC} lib.c OBJECT languages32.o FLAGS -s -shared)
  qm_pe_module(lib64.dll ${QM_MINGW64_CC} lib.c OBJECT several64.o FLAGS -s -shared)
  # Debug sections and a symbol table follow: the resources are in the middle.
  qm_pe_module(app64_middle.exe ${QM_MINGW64_CC} app.c OBJECT several64.o FLAGS -g)
  qm_pe_module(lib64_middle.dll ${QM_MINGW64_CC} lib.c OBJECT languages64.o FLAGS -g -shared)
  # No resources at all.
  qm_pe_module(app32_bare.exe ${QM_MINGW32_CC} app.c FLAGS -s)
  qm_pe_module(lib64_bare.dll ${QM_MINGW64_CC} lib.c FLAGS -s -shared)
  # The platform's own answers, run under Wine.
  qm_pe_module(oracle32.exe ${QM_MINGW32_CC} oracle.c FLAGS -limagehlp -lversion)
  qm_pe_module(oracle64.exe ${QM_MINGW64_CC} oracle.c FLAGS -limagehlp -lversion)

  add_custom_target(pe_test_modules DEPENDS ${QM_PE_MODULE_FILES})
endif()

