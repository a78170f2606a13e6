# What Debian's policy asks of the package's documentation: manual pages and the
# changelog compressed (gzip -9n, so that the package is reproducible), and a
# copyright file in the machine-readable format, made from the root's LICENSE.
set(korval_debian_dir ${PROJECT_BINARY_DIR}/debian-docs)
file(MAKE_DIRECTORY ${korval_debian_dir})

set(KORVAL_MAN_PAGES_GZ)
foreach(page korvalcom.1 korval-netemu.1)
  set(source ${PROJECT_SOURCE_DIR}/doc/man/${page})
  set(compressed ${korval_debian_dir}/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND gzip -9n -c ${source} > ${compressed}
    DEPENDS ${source} VERBATIM)
  list(APPEND KORVAL_MAN_PAGES_GZ ${compressed})
endforeach()

# copyright: the LICENSE's copyright line, and its text as the Expat licence.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" copyright_line "${license_text}")
set(copyright_holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^[^\n]*\n\n[^\n]*\n\n" "" license_body "${license_text}")
string(STRIP "${license_body}" license_body)
string(REPLACE "\n\n" "\n.\n" license_body "${license_body}")
string(REPLACE "\n" "\n " license_body "${license_body}")
set(KORVAL_DEBIAN_COPYRIGHT ${korval_debian_dir}/copyright)
file(WRITE ${KORVAL_DEBIAN_COPYRIGHT}
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: korvalcom\n\n"
  "Files: *\n"
  "Copyright: ${copyright_holder}\n"
  "License: Expat\n"
  " ${license_body}\n")

# changelog.gz: a native package's one entry for this version. The date follows
# SOURCE_DATE_EPOCH when it is set.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(changelog ${korval_debian_dir}/changelog)
file(WRITE ${changelog}
  "korvalcom (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- korvalcom maintainers <korvalcom@example.org>  ${changelog_date}\n")
set(KORVAL_DEBIAN_CHANGELOG_GZ ${korval_debian_dir}/changelog.gz)
add_custom_command(OUTPUT ${KORVAL_DEBIAN_CHANGELOG_GZ}
  COMMAND gzip -9n -c ${changelog} > ${KORVAL_DEBIAN_CHANGELOG_GZ}
  DEPENDS ${changelog} VERBATIM)

add_custom_target(korval_debian_docs ALL DEPENDS ${KORVAL_MAN_PAGES_GZ}
  ${KORVAL_DEBIAN_CHANGELOG_GZ})
