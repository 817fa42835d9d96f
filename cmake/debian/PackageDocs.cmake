# The package's own documents in share/doc/kestrune: the copyright file in Debian's
# machine-readable form, its licence text taken from LICENSE, and the changelog, gzipped as
# Debian ships it (-9, no name or time stamp, so the same source gives the same bytes).
set(KESTRUNE_COPYRIGHT "2026 The Kestrune developers")
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})

# The licence's terms start at its first paragraph after the copyright line; in the copyright
# file every line is indented by one space and an empty line is a lone full stop.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(FIND "${licence}" "Redistribution" terms_start)
string(SUBSTRING "${licence}" ${terms_start} -1 terms)
string(STRIP "${terms}" terms)
string(REGEX REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REGEX REPLACE "\n" "\n " KESTRUNE_LICENSE_TEXT " ${terms}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

set(copyright ${PROJECT_BINARY_DIR}/package/copyright)
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${copyright} @ONLY)
set(changelog ${PROJECT_BINARY_DIR}/package/changelog)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${changelog} @ONLY)

find_program(KESTRUNE_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${changelog}.gz
  COMMAND ${KESTRUNE_GZIP} -9nkf ${changelog}
  DEPENDS ${changelog}
  COMMENT "Compressing the package changelog"
  VERBATIM)
add_custom_target(package-docs ALL DEPENDS ${changelog}.gz)

install(FILES ${copyright} ${changelog}.gz DESTINATION ${doc_dir} PERMISSIONS OWNER_READ
  OWNER_WRITE GROUP_READ WORLD_READ)
