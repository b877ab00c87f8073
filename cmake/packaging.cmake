# Installation into the usual Linux layout, and the Debian package made from it by
# "cpack -G DEB". Everything is installed from this build tree: the package is the install.
#
#   bin/                                    voskdbu, dbutool
#   share/applications/voskdbu.desktop      menu entry, offered for application/x-dbf files
#   share/icons/hicolor/scalable/apps/      voskdbu.svg
#   share/man/man1/                         voskdbu.1.gz (Italian), dbutool.1.gz
#   share/bash-completion/completions/      dbutool
#   share/doc/voskdbu/                      README.md, every .md guide of docs/ and screenshots

find_program(VOSK_GZIP gzip REQUIRED)
find_program(VOSK_SED sed REQUIRED)
set(VOSK_DIST_DIR ${CMAKE_BINARY_DIR}/dist)

# vosk_gzip_man(SOURCE OUTPUT_NAME DEPENDS...): compresses a man page the Debian way (gzip -9n:
# no name or time stamp, so the package is reproducible).
function(vosk_gzip_man source output)
  add_custom_command(OUTPUT ${VOSK_DIST_DIR}/${output}
    COMMAND ${VOSK_GZIP} -9nc ${source} > ${VOSK_DIST_DIR}/${output}
    DEPENDS ${source} ${ARGN}
    VERBATIM)
endfunction()

file(MAKE_DIRECTORY ${VOSK_DIST_DIR})
configure_file(${CMAKE_SOURCE_DIR}/data/voskdbu.1 ${VOSK_DIST_DIR}/voskdbu.1 @ONLY)
vosk_gzip_man(${VOSK_DIST_DIR}/voskdbu.1 voskdbu.1.gz)

# dbutool's man page and bash completion are written by the built dbutool from the table of
# commands and options that its parser and --help use.
add_custom_command(OUTPUT ${VOSK_DIST_DIR}/dbutool.1
  COMMAND dbutool --man > ${VOSK_DIST_DIR}/dbutool.1
  DEPENDS dbutool
  VERBATIM)
vosk_gzip_man(${VOSK_DIST_DIR}/dbutool.1 dbutool.1.gz)
add_custom_command(OUTPUT ${VOSK_DIST_DIR}/dbutool.bash
  COMMAND dbutool --bash-completion > ${VOSK_DIST_DIR}/dbutool.bash
  DEPENDS dbutool
  VERBATIM)

# The README beside the guides: its links into docs/ point to the same folder once installed.
add_custom_command(OUTPUT ${VOSK_DIST_DIR}/README.md
  COMMAND ${VOSK_SED} -e "s#](docs/#](#g" ${CMAKE_SOURCE_DIR}/README.md > ${VOSK_DIST_DIR}/README.md
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md
  VERBATIM)

add_custom_target(vosk_dist ALL DEPENDS ${VOSK_DIST_DIR}/voskdbu.1.gz ${VOSK_DIST_DIR}/dbutool.1.gz
                                        ${VOSK_DIST_DIR}/dbutool.bash ${VOSK_DIST_DIR}/README.md)

install(TARGETS dbutool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${VOSK_DIST_DIR}/dbutool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VOSK_DIST_DIR}/dbutool.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME dbutool)
if(TARGET voskdbu)
  install(TARGETS voskdbu RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_SOURCE_DIR}/data/voskdbu.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/data/voskdbu.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${VOSK_DIST_DIR}/voskdbu.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${VOSK_DIST_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The guides of docs/ (GUIDA.md and whatever joins it) are picked up at install time.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# The Debian package. Its dependencies are those of the binaries (dpkg-shlibdeps) and the Qt
# platform plugins, which the Qt libraries only recommend.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME voskdbu)
set(CPACK_PACKAGE_VENDOR "VOSK Software")
set(CPACK_PACKAGE_CONTACT "VOSK Software")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The control file's long description, after the summary line, in lines of Debian's width.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "${VOSK_PRODUCT_NAME} browses and edits dBase-family tables: DBF files with DBT"
  "or FPT memos, NTX and CDX indexes and SDF text, shared with other programs"
  "through their record and file locks. The window program voskdbu is in"
  "Italian; dbutool gives scripts the same table engine.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
