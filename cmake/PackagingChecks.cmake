# Read by cpack before it builds each package (CPACK_PROJECT_CONFIG_FILE):
# refuses a package that would not work or would not say what it holds.

# The program looks for its impulse files in the data folder it was built
# with; the packages put them under /usr. A build configured for another
# prefix (the default /usr/local) would ship a program that cannot find them.
if(NOT CPACK_GENERATOR STREQUAL "ZIP" AND
   NOT CPACK_OSTRIVALE_DATA_DIR STREQUAL "${CPACK_PACKAGING_INSTALL_PREFIX}/share/ostrivale")
  message(FATAL_ERROR
    "This build looks for its impulse files in ${CPACK_OSTRIVALE_DATA_DIR}, but the package "
    "puts them in ${CPACK_PACKAGING_INSTALL_PREFIX}/share/ostrivale: configure the package "
    "build with -DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX}")
endif()

# The changelog's latest entry names the version being packaged.
if(CPACK_GENERATOR STREQUAL "DEB")
  file(STRINGS "${CPACK_OSTRIVALE_CHANGELOG}" firstLine LIMIT_COUNT 1)
  if(NOT firstLine MATCHES "^ostrivale \\(([^)]+)\\)")
    message(FATAL_ERROR "${CPACK_OSTRIVALE_CHANGELOG} does not start with an entry for ostrivale")
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL CPACK_PACKAGE_VERSION)
    message(FATAL_ERROR "The latest entry of ${CPACK_OSTRIVALE_CHANGELOG} is for version "
                        "${CMAKE_MATCH_1}, the project's version is ${CPACK_PACKAGE_VERSION}: "
                        "add an entry for ${CPACK_PACKAGE_VERSION}")
  endif()
endif()
