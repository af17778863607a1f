# Read by CPack before it makes a package: every entry carries the release time, unless the
# builder gives one.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_MORVANTIQUELL_SOURCE_DATE_EPOCH}")
endif()
