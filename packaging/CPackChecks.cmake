# SPDX-License-Identifier: MIT
# Read by cpack for each generator, before it packs anything.
if(CPACK_GENERATOR STREQUAL "DEB")
  if(NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "a Debian package installs under /usr: configure with -DCMAKE_INSTALL_PREFIX=/usr")
  endif()
  find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(NOT DPKG_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps is missing (Debian package dpkg-dev): "
      "without it the package would have no Depends field")
  endif()
endif()
