# The machine the build is for is named once: CMAKE_SYSTEM_PROCESSOR, which each toolchain file
# sets (CMake takes this machine's otherwise). Every name that files and tools give that machine
# comes from this table:
#   MORVANTIQUELL_ARCHITECTURE          Linux's, RPM's and the tarballs' name: x86_64, aarch64, i686
#   MORVANTIQUELL_DEBIAN_ARCHITECTURE   Debian's: amd64, arm64, i386
#   MORVANTIQUELL_WINDOWS_ARCHITECTURE  the zips' and MSVC's (/machine): x64, arm64, x86
#   MORVANTIQUELL_DLLTOOL_MACHINE       llvm-dlltool's (-m): i386:x86-64, arm64, i386
# The package checks get them in their environment (tests/packages.cmake).
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" processor)
if(processor MATCHES "^(x86_64|amd64|x64)$")
  set(names x86_64 amd64 x64 i386:x86-64)
elseif(processor MATCHES "^(aarch64|arm64)$")
  set(names aarch64 arm64 arm64 arm64)
elseif(processor MATCHES "^(i[3-6]86|x86)$")
  set(names i686 i386 x86 i386)
else()
  set(names ${processor} ${processor} ${processor} ${processor})
endif()
foreach(variable IN ITEMS ARCHITECTURE DEBIAN_ARCHITECTURE WINDOWS_ARCHITECTURE DLLTOOL_MACHINE)
  list(POP_FRONT names name)
  set(MORVANTIQUELL_${variable} "${name}" CACHE INTERNAL "The ${variable} name of the machine the build is for")
endforeach()

# The Vulkan loader's file name on the system the build is for, written here only: the query opens
# it, the tests build their stand-in under it and look for it, the benchmark opens it. C and C++
# code that links morvantiquell_loader_name has it as MORVANTIQUELL_LOADER_FILE_NAME.
if(WIN32)
  set(MORVANTIQUELL_LOADER_FILE_NAME vulkan-1.dll)
elseif(APPLE)
  set(MORVANTIQUELL_LOADER_FILE_NAME libvulkan.1.dylib)
else()
  set(MORVANTIQUELL_LOADER_FILE_NAME libvulkan.so.1)
endif()
add_library(morvantiquell_loader_name INTERFACE)
target_compile_definitions(morvantiquell_loader_name INTERFACE
  "MORVANTIQUELL_LOADER_FILE_NAME=\"${MORVANTIQUELL_LOADER_FILE_NAME}\"")
