# The machine that builds, for itself, as without a toolchain file: only so that its release files
# are linked against Debian 11's C library, as the cross builds' are.
include("${CMAKE_CURRENT_LIST_DIR}/debian-11-libc.cmake")
