# Cross-builds for Linux arm64 with Debian's aarch64-linux-gnu compilers, against the arm64
# libraries that multiarch installs beside the build machine's own (/usr/lib/aarch64-linux-gnu).
# The programs built run here under user-mode emulation, started explicitly through qemu-aarch64,
# so that nothing depends on the kernel being set up to run arm64 programs by itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
include("${CMAKE_CURRENT_LIST_DIR}/cross-compilers.cmake")

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 CACHE STRING "How this machine runs an arm64 program")

include("${CMAKE_CURRENT_LIST_DIR}/debian-11-libc.cmake")
