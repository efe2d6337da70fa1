# SPDX-License-Identifier: MIT
# Run by cpack on the staged tree before it is packed. cpack makes the
# leading directories (usr/, usr/bin/) itself, with the packager's umask;
# a package's directories must be 0755 whatever that umask.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
      WORLD_EXECUTE)
  endif()
endforeach()
