# Cross-builds for Linux i386 (32-bit x86) with Debian's i686-linux-gnu compilers, against the i386
# libraries that multiarch installs beside the build machine's own (/usr/lib/i386-linux-gnu).
# An x86-64 kernel with IA-32 emulation runs the programs as they are; one without it (the
# 32-bit dynamic linker will not start) runs them under user-mode emulation, through qemu-i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
include("${CMAKE_CURRENT_LIST_DIR}/cross-compilers.cmake")

if(NOT DEFINED CACHE{CMAKE_CROSSCOMPILING_EMULATOR})
  # (binfmt_misc may hand them to qemu-i386 where the kernel does not run them: then too.)
  execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  set(binfmt /proc/sys/fs/binfmt_misc/qemu-i386)
  if(EXISTS ${binfmt})
    file(STRINGS ${binfmt} binfmt LIMIT_COUNT 1)
  endif()
  if(NOT status EQUAL 0 OR binfmt STREQUAL "enabled")
    set(emulator qemu-i386)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${emulator} CACHE STRING "How this machine runs an i386 program")
endif()

include("${CMAKE_CURRENT_LIST_DIR}/debian-11-libc.cmake")
