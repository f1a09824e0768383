# The resources of ostrivale.exe (Windows build): its icon, version
# information and manifest, compiled by windres from
# packaging/windows/ostrivale.rc.in. Every version in them is the one given
# to project(); the copyright line is LICENSE's. Sets
# OSTRIVALE_WINDOWS_RESOURCES, the source that app/ adds to the program.
# Included after Packaging.cmake, whose vendor and summary it uses.
# The icon is drawn by tools/make_icon.py, whose output is kept in the tree.
enable_language(RC)

set(OSTRIVALE_WINDOWS_SOURCE_DIR ${PROJECT_SOURCE_DIR}/packaging/windows)
set(OSTRIVALE_ICON_FILE ${OSTRIVALE_WINDOWS_SOURCE_DIR}/ostrivale.ico)
set(OSTRIVALE_MANIFEST_FILE ${PROJECT_BINARY_DIR}/packaging/ostrivale.manifest)

# Windows wants four numbers: 1.0 is 1,0,0,0 and 1.0.0.0.
set(numbers ${PROJECT_VERSION_MAJOR})
foreach(part MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND numbers 0)
  else()
    list(APPEND numbers ${PROJECT_VERSION_${part}})
  endif()
endforeach()
string(JOIN "," OSTRIVALE_VERSION_NUMBERS ${numbers})
string(JOIN "." OSTRIVALE_VERSION_DOTTED ${numbers})

file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE OSTRIVALE_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)
# The packages' one-line summary, with a capital: "Filter high-resolution ...".
string(SUBSTRING "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}" 0 1 first)
string(SUBSTRING "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}" 1 -1 rest)
string(TOUPPER "${first}" first)
set(OSTRIVALE_DESCRIPTION "${first}${rest}")

configure_file(${OSTRIVALE_WINDOWS_SOURCE_DIR}/ostrivale.manifest.in ${OSTRIVALE_MANIFEST_FILE} @ONLY)
configure_file(${OSTRIVALE_WINDOWS_SOURCE_DIR}/ostrivale.rc.in ${PROJECT_BINARY_DIR}/packaging/ostrivale.rc @ONLY)
set(OSTRIVALE_WINDOWS_RESOURCES ${PROJECT_BINARY_DIR}/packaging/ostrivale.rc)
# windres knows nothing of the files the script names: the program is built
# again when the icon or the manifest changes.
set_source_files_properties(${OSTRIVALE_WINDOWS_RESOURCES} PROPERTIES
                            OBJECT_DEPENDS "${OSTRIVALE_ICON_FILE};${OSTRIVALE_MANIFEST_FILE}")
