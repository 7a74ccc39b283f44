# SPDX-License-Identifier: GPL-3.0-or-later
# Where an installed copy puts its files. The window program and the converter live together in
# lib/tovrin3, since the program looks for nconvert and conf.ini beside itself; bin/tovrin3 is a
# link to it, which the program resolves to its real folder.
include(GNUInstallDirs)

set(TOVRIN3_PROGRAM_DIR ${CMAKE_INSTALL_LIBDIR}/tovrin3)

set(installed_programs tovrin3 nconvert tovrin3-decode tovrin3-cw)
install(TARGETS tovrin3 nconvert RUNTIME DESTINATION ${TOVRIN3_PROGRAM_DIR})
install(TARGETS tovrin3-decode tovrin3-cw RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The programs find Qt where the system keeps it; a search path of their own is of no use.
set_target_properties(${installed_programs} PROPERTIES INSTALL_RPATH "")
# Installing and packaging take what the last build made, and leave building to the build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

file(RELATIVE_PATH program_from_bin
  /${CMAKE_INSTALL_BINDIR} /${TOVRIN3_PROGRAM_DIR}/tovrin3)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ${program_from_bin} ${CMAKE_BINARY_DIR}/install-links/tovrin3 SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install-links/tovrin3 DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES assets/tovrin3.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES assets/org.example.tovrin3.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES assets/tovrin3.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
foreach(side 128 256)
  install(FILES assets/tovrin3-${side}.png RENAME tovrin3.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${side}x${side}/apps)
endforeach()

# Manual pages and the changelog are installed compressed, as Debian keeps them; -n leaves the
# time stamp out so that the same sources give the same package.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(compressed_files)
function(tovrin3_compress source folder)
  get_filename_component(name ${source} NAME)
  file(MAKE_DIRECTORY ${folder})
  add_custom_command(OUTPUT ${folder}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${folder}/${name}
    COMMAND ${GZIP_PROGRAM} -9 -n -f ${folder}/${name}
    DEPENDS ${source}
    VERBATIM)
  set(compressed_files ${compressed_files} ${folder}/${name}.gz PARENT_SCOPE)
endfunction()

file(GLOB manual_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.1)
foreach(manual_page ${manual_pages})
  get_filename_component(page_name ${manual_page} NAME)
  tovrin3_compress(${manual_page} ${CMAKE_BINARY_DIR}/man)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page_name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
# A package whose version has no Debian revision is native, and its changelog is changelog.gz.
tovrin3_compress(${PROJECT_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/doc)
add_custom_target(compressed-docs ALL DEPENDS ${compressed_files})

install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz packaging/copyright
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME tovrin3)
set(CPACK_PACKAGE_VENDOR NOCALL)
set(CPACK_PACKAGE_CONTACT "NOCALL <nocall@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "KAMO TOVRIN-III CW beacon telemetry decoder")
# Debian shows the description in 80 columns: each line stays under that.
set(CPACK_PACKAGE_DESCRIPTION
  "Decodes the Morse-code telemetry beacon of the small satellite KAMO
TOVRIN-III for radio amateurs: a window that decodes pasted beacon text
into a report and a chart, and tovrin3-decode, which writes the report,
CSV or JSON Lines from files and pipes.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://example.org/tovrin3)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# The dependencies are the libraries the programs link, as dpkg-shlibdeps finds them; the X11
# platform plugin comes with libqt6gui6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/installed-size.cmake)
include(CPack)
