# The version and the date of a build come from debian/changelog, so that the project
# states its version once and every build of one tree writes the same dates: the
# upstream part of the newest entry's version, and SOURCE_DATE_EPOCH from its date
# (as dpkg-buildpackage exports it; a build that has it set keeps it).
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog XLOCD_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT XLOCD_CHANGELOG_TOP MATCHES "^xlocd \\(([0-9]+\\.[0-9]+\\.[0-9]+)-[^)]+\\)")
  message(FATAL_ERROR "debian/changelog: no upstream version in '${XLOCD_CHANGELOG_TOP}'")
endif()
set(XLOCD_UPSTREAM_VERSION ${CMAKE_MATCH_1})
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND dpkg-parsechangelog -l ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog
                          -S Timestamp
                  OUTPUT_VARIABLE XLOCD_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-parsechangelog (dpkg-dev) could not read debian/changelog")
  endif()
  set(ENV{SOURCE_DATE_EPOCH} ${XLOCD_EPOCH})
endif()
string(TIMESTAMP XLOCD_BUILD_DATE "%Y-%m-%d" UTC) # honours SOURCE_DATE_EPOCH
