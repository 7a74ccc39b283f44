# Where an installed copy puts its files. The window program and the converter live together in
# lib/tovrin3, since the program looks for nconvert and conf.ini beside itself; bin/tovrin3 is a
# link to it, which the program resolves to its real folder.
include(GNUInstallDirs)

set(TOVRIN3_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/tovrin3)

install(TARGETS tovrin3 nconvert RUNTIME DESTINATION ${TOVRIN3_PROGRAM_DIR})
install(TARGETS tovrin3-decode tovrin3-cw RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

file(RELATIVE_PATH program_from_bin
  /${CMAKE_INSTALL_BINDIR} /${TOVRIN3_PROGRAM_DIR}/tovrin3)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ${program_from_bin} ${CMAKE_BINARY_DIR}/install-links/tovrin3 SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install-links/tovrin3 DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES assets/tovrin3.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES assets/tovrin3.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
install(FILES docs/tovrin3-decode.1 docs/tovrin3-cw.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME tovrin3)
set(CPACK_PACKAGE_VENDOR NOCALL)
set(CPACK_PACKAGE_CONTACT "NOCALL <nocall@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "KAMO TOVRIN-III CW beacon telemetry decoder")
set(CPACK_PACKAGE_DESCRIPTION
  "Decodes the Morse-code telemetry beacon of the small satellite KAMO TOVRIN-III: a window that
decodes pasted beacon text into a report and a chart, and tovrin3-decode, which writes the
report, CSV or JSON Lines from files and pipes.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The library dependencies come from the programs themselves; the platform plugins are loaded
# at run time and so are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
include(CPack)
