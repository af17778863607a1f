# The release date is the newest entry's in packaging/changelog.in. It is the date of the manual
# page and the time of every file the release holds, so that two builds of one commit give the
# same files, whoever builds them, wherever and whenever. A builder that sets SOURCE_DATE_EPOCH
# (as Debian's tools do) gives that time instead.
#   MORVANTIQUELL_RELEASE_DATE         YYYY-MM-DD
#   MORVANTIQUELL_SOURCE_DATE_EPOCH    seconds since 1970-01-01 00:00 UTC
file(STRINGS "${PROJECT_SOURCE_DIR}/packaging/changelog.in" release_line REGEX "^ -- " LIMIT_COUNT 1)
if(NOT release_line MATCHES
   ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) ([-+])([0-9][0-9])([0-9][0-9])$")
  message(FATAL_ERROR "packaging/changelog.in: its first entry has no date like \"Tue, 08 Dec 2026 00:00:00 +0000\"")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(clock "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
set(offset "${CMAKE_MATCH_7}(${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months "${CMAKE_MATCH_2}" month)
if(month LESS 0)
  message(FATAL_ERROR "packaging/changelog.in: no month called ${CMAKE_MATCH_2}")
endif()
math(EXPR month "${month} + 1")
math(EXPR day "${day}") # "08" would read as octal below
if(month LESS 10)
  set(MORVANTIQUELL_RELEASE_DATE "${year}-0${month}-${CMAKE_MATCH_1}")
else()
  set(MORVANTIQUELL_RELEASE_DATE "${year}-${month}-${CMAKE_MATCH_1}")
endif()

# Days since 1970-01-01 in the proleptic Gregorian calendar, counting years from March so that
# the leap day comes last.
if(month LESS_EQUAL 2)
  math(EXPR year "${year} - 1")
  math(EXPR month "${month} + 9")
else()
  math(EXPR month "${month} - 3")
endif()
math(EXPR days "${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400 + (153 * ${month} + 2) / 5 + ${day} - 1 - 719468")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(MORVANTIQUELL_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  math(EXPR MORVANTIQUELL_SOURCE_DATE_EPOCH "${days} * 86400 + ${clock} - ${offset}")
endif()
