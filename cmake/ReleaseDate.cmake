# The release time, 00:00 UTC on 2026-12-08, in seconds since 1970: the time of every file a
# release holds, and the date of the manual page and the changelogs, so that two builds of one
# commit give the same files, whoever builds them, wherever and whenever. A builder that sets
# SOURCE_DATE_EPOCH (as Debian's tools do) gives that time instead.
#   MORVANTIQUELL_SOURCE_DATE_EPOCH   the time, in seconds
#   MORVANTIQUELL_RELEASE_DATE        2026-12-08 (the manual page)
#   MORVANTIQUELL_CHANGELOG_DATE      Tue, 08 Dec 2026 00:00:00 +0000 (Debian's changelog)
#   MORVANTIQUELL_RPM_CHANGELOG_DATE  Tue Dec 08 2026 (RPM's)
set(MORVANTIQUELL_SOURCE_DATE_EPOCH 1796688000)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(MORVANTIQUELL_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
endif()
# string(TIMESTAMP) writes the time SOURCE_DATE_EPOCH names.
set(builder_epoch "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} "${MORVANTIQUELL_SOURCE_DATE_EPOCH}")
string(TIMESTAMP MORVANTIQUELL_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP MORVANTIQUELL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP MORVANTIQUELL_RPM_CHANGELOG_DATE "%a %b %d %Y" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${builder_epoch}")
