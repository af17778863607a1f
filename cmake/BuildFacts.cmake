# What the check scripts need to know of a build, written once, by the build, into
# build-facts.sh in its folder, for them to read with `source`: nothing there reads the cache.
#   version
#   architecture, debian_architecture, windows_architecture, dlltool_machine
#                     the machine's names (cmake/Architecture.cmake)
#   loader_file_name  the Vulkan loader's file name
#   libdir            where the libraries go below the prefix
#   rpm_soname_mark   what RPM adds to a 64-bit library's name: ()(64bit), or nothing
#   c_compiler, toolchain_file  the build's C compiler and toolchain file (for consumers)
#   rc_compiler, objdump        its resource compiler and objdump (for what a Windows file holds)
#   emulator          how this machine starts the build's programs (an array; empty for its own)
#   host_tests        the folder whose test drivers start the build's programs
#   deb_packages, rpm_packages  the packages each format makes, program first
#   deb_files, rpm_files        their files, in the same order
#   archive_name      the archive's name (the zip's or tarball's, less .zip or .tar.gz) and top folder
#   libc_debs         where Debian 11's C library came from (cmake/debian-11-libc.cmake), or nothing
function(morvantiquell_shell_words variable)
  set(words "")
  foreach(word IN LISTS ARGN)
    string(REPLACE "'" "'\\''" word "${word}")
    list(APPEND words "'${word}'")
  endforeach()
  list(JOIN words " " words)
  set(${variable} "${words}" PARENT_SCOPE)
endfunction()

set(facts "")
foreach(fact IN ITEMS version=PROJECT_VERSION architecture=MORVANTIQUELL_ARCHITECTURE
                      debian_architecture=MORVANTIQUELL_DEBIAN_ARCHITECTURE
                      windows_architecture=MORVANTIQUELL_WINDOWS_ARCHITECTURE
                      dlltool_machine=MORVANTIQUELL_DLLTOOL_MACHINE
                      loader_file_name=MORVANTIQUELL_LOADER_FILE_NAME libdir=CMAKE_INSTALL_LIBDIR
                      rpm_soname_mark=MORVANTIQUELL_RPM_SONAME_MARK c_compiler=CMAKE_C_COMPILER
                      toolchain_file=CMAKE_TOOLCHAIN_FILE host_tests=MORVANTIQUELL_HOST_TESTS
                      rc_compiler=CMAKE_RC_COMPILER objdump=CMAKE_OBJDUMP
                      archive_name=MORVANTIQUELL_ARCHIVE_NAME libc_debs=MORVANTIQUELL_LIBC_DEBS)
  string(REPLACE "=" ";" fact "${fact}")
  list(GET fact 0 name)
  list(GET fact 1 variable)
  morvantiquell_shell_words(value "${${variable}}")
  string(APPEND facts "${name}=${value}\n")
endforeach()
foreach(array IN ITEMS emulator=CMAKE_CROSSCOMPILING_EMULATOR deb_packages=MORVANTIQUELL_DEB_PACKAGES
                       rpm_packages=MORVANTIQUELL_RPM_PACKAGES deb_files=MORVANTIQUELL_DEB_FILES
                       rpm_files=MORVANTIQUELL_RPM_FILES)
  string(REPLACE "=" ";" array "${array}")
  list(GET array 0 name)
  list(GET array 1 variable)
  morvantiquell_shell_words(value ${${variable}})
  string(APPEND facts "${name}=(${value})\n")
endforeach()
file(GENERATE OUTPUT "${PROJECT_BINARY_DIR}/build-facts.sh" CONTENT "${facts}")
