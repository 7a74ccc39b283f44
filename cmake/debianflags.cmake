# SPDX-License-Identifier: GPL-3.0-or-later
# Compile and link as Debian builds its packages, with the hardening flags of dpkg-buildflags
# (stack protector, fortified C library calls, read-only relocations). Debug builds keep their
# own flags, since fortified calls need an optimised build, and so do sanitizer builds, whose
# run-time checks replace them.
option(TOVRIN3_DEBIAN_FLAGS "Build with the flags of dpkg-buildflags where it is installed" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(TOVRIN3_DEBIAN_FLAGS AND DPKG_BUILDFLAGS AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug"
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  # Source paths stay as they are in the objects: the compiler cache shared between checkouts
  # needs the same flags in each.
  set(debian_options "reproducible=-fixfilepath,-fixdebugpath")
  if(DEFINED ENV{DEB_BUILD_MAINT_OPTIONS})
    string(PREPEND debian_options "$ENV{DEB_BUILD_MAINT_OPTIONS} ")
  endif()
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${debian_options}"
        ${DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE debian_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  string(APPEND CMAKE_CXX_FLAGS " ${debian_CPPFLAGS} ${debian_CXXFLAGS}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${debian_LDFLAGS}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${debian_LDFLAGS}")
endif()
