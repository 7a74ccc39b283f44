# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack after it has built the Debian package: gives the package the Installed-Size that
# dpkg-gencontrol would, since CPack counts every folder as 4 KiB and a link as the file it
# points to. Each file counts its size in KiB rounded up, each folder and link 1 KiB, the top
# folder included. The package is then rebuilt with dpkg-deb.
find_program(DPKG_DEB dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/installed-size)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${DPKG_DEB} --raw-extract ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)

  set(kibibytes 1)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true ${tree}/*)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^${tree}/DEBIAN(/|$)")
      continue()
    endif()
    if(IS_SYMLINK ${entry} OR IS_DIRECTORY ${entry})
      math(EXPR kibibytes "${kibibytes} + 1")
    else()
      file(SIZE ${entry} bytes)
      math(EXPR kibibytes "${kibibytes} + (${bytes} + 1023) / 1024")
    endif()
  endforeach()

  file(READ ${tree}/DEBIAN/control control)
  string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kibibytes}\n"
    control "${control}")
  string(STRIP "${control}" control)
  file(WRITE ${tree}/DEBIAN/control "${control}\n")
  execute_process(COMMAND ${DPKG_DEB} --root-owner-group --build ${tree} ${package}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
