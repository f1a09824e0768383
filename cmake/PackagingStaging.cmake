# Run by cpack on the staged tree before each package is made
# (CPACK_PRE_BUILD_SCRIPTS). Folders made implicitly by the install rules get
# the builder's umask (mkdir masks the mode CMake asks for): under umask 077
# a package would ship usr/, usr/bin/ and the rest as 0700. Every folder of a
# package is 0755.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
