# Release artifacts: where `cmake --install` puts things, the compressed
# manual page and Debian changelog, and the CPack packages built from the
# same install rules.
#
#   cmake -S . -B build-packages -DCMAKE_INSTALL_PREFIX=/usr \
#         -DOSTRIVALE_BUILD_TESTS=OFF -DOSTRIVALE_BUILD_BENCH=OFF
#   cmake --build build-packages -j2 --target packages
#
# leaves in build-packages/packages/:
#   ostrivale_<version>_amd64.deb              Debian package
#   ostrivale-<version>-linux-x86_64.tar.gz    the same tree under one top folder
# (`cpack -G DEB` or `cpack -G TGZ` in the build folder make one of them.)
# The same target of the Windows build (cmake --preset windows) leaves
#   ostrivale-<version>-windows-x86_64.zip     in build-windows/packages/.
#
# The version is the one given to project() at the top; packaging/changelog
# must have an entry for it. Included after GNUInstallDirs and
# OSTRIVALE_DATA_DIR, before the install rules, which take their destinations
# from here.

set(OSTRIVALE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(OSTRIVALE_PACKAGE_BINARY_DIR ${PROJECT_BINARY_DIR}/packaging)

if(WIN32)
  # ---- Windows zip ------------------------------------------------------
  # ostrivale.exe with the six FilterX.dat beside it, where the program looks
  # for them; README.txt, written for Windows; the licence. Both texts with
  # CR LF line ends. No manual page.
  set(OSTRIVALE_INSTALL_PROGRAM_DIR .)
  set(OSTRIVALE_INSTALL_FILTER_DIR .)
  # README.txt: packaging/windows/README.txt.md with the sections of README.md
  # that it takes, made plain text by packaging/windows/readme_text.awk. The
  # build stops when README.md no longer has what it takes, and when a word
  # that holds only on Linux (packaging/windows/linux_words.txt) would reach
  # README.txt.
  find_program(OSTRIVALE_AWK NAMES awk mawk gawk REQUIRED)
  set(OSTRIVALE_WINDOWS_README ${OSTRIVALE_PACKAGE_BINARY_DIR}/README.txt)
  set(OSTRIVALE_WINDOWS_README_SOURCES ${PROJECT_SOURCE_DIR}/README.md
      ${OSTRIVALE_PACKAGING_DIR}/windows/README.txt.md ${OSTRIVALE_PACKAGING_DIR}/windows/linux_words.txt)
  add_custom_command(
    OUTPUT ${OSTRIVALE_WINDOWS_README}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${OSTRIVALE_PACKAGE_BINARY_DIR}
    COMMAND ${OSTRIVALE_AWK} -v version=${PROJECT_VERSION} -v out=${OSTRIVALE_WINDOWS_README}
            -f ${OSTRIVALE_PACKAGING_DIR}/windows/readme_text.awk ${OSTRIVALE_WINDOWS_README_SOURCES}
    DEPENDS ${OSTRIVALE_PACKAGING_DIR}/windows/readme_text.awk ${OSTRIVALE_WINDOWS_README_SOURCES}
    COMMENT "Writing README.txt for Windows"
    VERBATIM)
  add_custom_target(ostrivale_documents ALL DEPENDS ${OSTRIVALE_WINDOWS_README})
  configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${OSTRIVALE_PACKAGE_BINARY_DIR}/LICENSE.txt @ONLY
                 NEWLINE_STYLE CRLF)
  install(FILES ${OSTRIVALE_WINDOWS_README} ${OSTRIVALE_PACKAGE_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "ostrivale-${PROJECT_VERSION}-windows-x86_64")
else()
  # ---- Debian package and Linux archive ---------------------------------
  set(OSTRIVALE_INSTALL_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
  set(OSTRIVALE_INSTALL_FILTER_DIR ${CMAKE_INSTALL_DATADIR}/ostrivale)

  # The manual page and the changelog are installed compressed, as Debian
  # wants them; -n keeps the name and time out of the gzip header, so the
  # same sources give the same bytes.
  find_program(OSTRIVALE_GZIP gzip REQUIRED)
  function(ostrivale_compress source compressed)
    get_filename_component(plain ${compressed} NAME_WLE)
    add_custom_command(
      OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${OSTRIVALE_PACKAGE_BINARY_DIR}
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${OSTRIVALE_PACKAGE_BINARY_DIR}/${plain}
      COMMAND ${OSTRIVALE_GZIP} -9nf ${OSTRIVALE_PACKAGE_BINARY_DIR}/${plain}
      DEPENDS ${source}
      VERBATIM)
  endfunction()
  set(OSTRIVALE_MAN_PAGE ${OSTRIVALE_PACKAGE_BINARY_DIR}/ostrivale.1.gz)
  set(OSTRIVALE_CHANGELOG ${OSTRIVALE_PACKAGE_BINARY_DIR}/changelog.gz)
  ostrivale_compress(${PROJECT_SOURCE_DIR}/docs/ostrivale.1 ${OSTRIVALE_MAN_PAGE})
  ostrivale_compress(${OSTRIVALE_PACKAGING_DIR}/changelog ${OSTRIVALE_CHANGELOG})
  add_custom_target(ostrivale_documents ALL DEPENDS ${OSTRIVALE_MAN_PAGE} ${OSTRIVALE_CHANGELOG})

  set(OSTRIVALE_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/ostrivale)
  install(FILES ${OSTRIVALE_PACKAGING_DIR}/copyright ${OSTRIVALE_CHANGELOG}
          DESTINATION ${OSTRIVALE_INSTALL_DOC_DIR})

  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PACKAGE_FILE_NAME "ostrivale-${PROJECT_VERSION}-linux-x86_64")
  # Both carry the tree as it lands in /usr; the program is built to look for
  # its impulse files in /usr/share/ostrivale (checked in the project config).
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # ostrivale_<version>_amd64.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://ostrivale.org")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # Depends from dpkg-shlibdeps (dpkg-dev)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
endif()

set(CPACK_PACKAGE_NAME ostrivale)
set(CPACK_PACKAGE_VENDOR "The Ostrivale developers")
set(CPACK_PACKAGE_CONTACT "Ostrivale maintainers <maintainers@ostrivale.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "filter high-resolution wave files with fixed FIR low-pass filters")
# The long description of the Debian package, in lines of at most 80
# characters as Debian policy asks (CPack indents them; "." keeps an empty line).
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Ostrivale is an interactive text-console tool that removes ultrasonic"
  "content from high-resolution recordings. It reads a 24-bit PCM wave file"
  "recorded at 96000 or 192000 samples per second, shows its header, asks"
  "which of six fixed FIR low-pass filters to apply (linear, minimum or"
  "asymmetric phase) and writes the filtered recording as a new 24-bit wave"
  "file with triangular dither. The same input and filter always give the"
  "same bytes."
  "."
  "When standard input or output is not a terminal it reads its answers"
  "from standard input, so it can be scripted.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

# Checks made by cpack before each package is built (see the file).
set(CPACK_OSTRIVALE_DATA_DIR "${OSTRIVALE_DATA_DIR}")
set(CPACK_OSTRIVALE_CHANGELOG "${OSTRIVALE_PACKAGING_DIR}/changelog")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackagingChecks.cmake)
# Folders of the staged tree 0755 whatever the builder's umask (see the file).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackagingStaging.cmake)

include(CPack)

# One command for every package of this system. cpack builds the whole
# project before it installs it, tests included when they are enabled: the
# package build above leaves them out.
add_custom_target(packages
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake
  # CPack's staging trees are of no use once the packages are made.
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  COMMENT "Making the packages in ${CPACK_PACKAGE_DIRECTORY}"
  VERBATIM)
add_dependencies(packages ostrivale)
if(TARGET ostrivale_documents)
  add_dependencies(packages ostrivale_documents)
endif()
