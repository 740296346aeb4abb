# What `cmake --install` puts where, and the Debian package CPack makes of it.
# Native builds only: the Windows programs come from the windows preset's
# build folder when it was built (see QM_WINDOWS_BIN).
set(CMAKE_INSTALL_DOCDIR share/doc/quillmark CACHE PATH "Documentation folder")
include(GNUInstallDirs)
set(QM_MAINTAINER "The Quillmark developers <quillmark@example.org>")

# The manual pages carry the version and the date of the changelog's top
# entry, so a rebuild of the same release gives the same pages.
file(STRINGS ${CMAKE_SOURCE_DIR}/CHANGELOG.md qm_release_line REGEX "^## [0-9]" LIMIT_COUNT 1)
string(REGEX MATCH "^## ([^ ]+) - ([0-9-]+)" qm_release_match "${qm_release_line}")
set(QM_CHANGELOG_VERSION ${CMAKE_MATCH_1})
set(QM_MAN_DATE ${CMAKE_MATCH_2})
if(NOT QM_CHANGELOG_VERSION STREQUAL PROJECT_VERSION)
  message(WARNING "CHANGELOG.md's top entry is ${QM_CHANGELOG_VERSION}, the project is ${PROJECT_VERSION}")
endif()

set(QM_MAN_DIR ${CMAKE_BINARY_DIR}/man)
foreach(page quillmark-cli quillmark)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${QM_MAN_DIR}/${page}.1 @ONLY)
  # Debian's policy wants pages compressed, reproducibly (no name, no time).
  add_custom_command(OUTPUT ${QM_MAN_DIR}/${page}.1.gz COMMAND gzip -9nf -k ${QM_MAN_DIR}/${page}.1
                     DEPENDS ${QM_MAN_DIR}/${page}.1 VERBATIM)
  list(APPEND QM_MAN_PAGES ${QM_MAN_DIR}/${page}.1.gz)
endforeach()
add_custom_target(qm_man_pages ALL DEPENDS ${QM_MAN_PAGES})

set(QM_WINDOWS_BIN ${CMAKE_SOURCE_DIR}/build/windows/bin
    CACHE PATH "Where the windows preset left quillmark.exe (installed when present)")
configure_file(${CMAKE_SOURCE_DIR}/scripts/quillmark-launcher.in ${CMAKE_BINARY_DIR}/launcher/quillmark @ONLY)

# Debian's changelog beside the project's own, made from its top entry.
set(QM_DEBIAN_CHANGELOG ${CMAKE_BINARY_DIR}/package/changelog)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
execute_process(COMMAND date -u -R -d "${QM_MAN_DATE}" OUTPUT_VARIABLE qm_release_date OUTPUT_STRIP_TRAILING_WHITESPACE)
file(WRITE ${QM_DEBIAN_CHANGELOG}
     "quillmark (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}: see CHANGELOG.md in this folder.\n\n"
     " -- ${QM_MAINTAINER}  ${qm_release_date}\n")
add_custom_command(OUTPUT ${QM_DEBIAN_CHANGELOG}.gz COMMAND gzip -9nf -k ${QM_DEBIAN_CHANGELOG}
                   DEPENDS ${CMAKE_SOURCE_DIR}/CHANGELOG.md VERBATIM)
add_custom_target(qm_debian_changelog ALL DEPENDS ${QM_DEBIAN_CHANGELOG}.gz)

install(TARGETS quillmark-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QM_MAN_DIR}/quillmark-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES completions/quillmark-cli.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME quillmark-cli)
install(FILES completions/_quillmark-cli DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES completions/quillmark-cli.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The README's onward pages, where its links look for them.
install(FILES docs/guide.md docs/speed.md docs/design.md docs/editor.png DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
install(FILES ${QM_DEBIAN_CHANGELOG}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The editor and its launcher only when the Windows program was built.
if(EXISTS ${QM_WINDOWS_BIN}/quillmark.exe)
  install(FILES ${QM_WINDOWS_BIN}/quillmark.exe DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmark)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/launcher/quillmark DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${QM_MAN_DIR}/quillmark.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The Debian package: scripts/package.sh runs cpack in a release build.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QM_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show, edit and stamp the version resource of Windows modules")
set(CPACK_PACKAGE_DESCRIPTION
    "quillmark-cli reads and changes the version information of Windows modules
(.exe, .dll, .ocx, .scr, .efi; PE32 and PE32+ of any machine) and keeps it in
block files, from a shell and in build pipelines, without Wine. Edits are
lossless: every string table, translation, language and resource is kept,
and a module is either completely written or left as it was.
.
The package also holds the Quillmark editor, a small Windows program,
with a launcher that starts it under Wine.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillmark.example.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wine")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_SOURCE_DIR}/build/packages)
include(CPack)
