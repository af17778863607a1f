# Included by the Linux toolchain files. Where MORVANTIQUELL_LIBC_DEBS is set (the Linux package
# presets set it), the build links against Debian 11's C library, glibc 2.31, rather than this
# machine's: its programs then ask for glibc 2.17 at most (arm64's first version; 2.14 on x86-64)
# and run on every Linux still in use, RHEL 8 and Ubuntu 20.04 among them. The folder holds
# Debian 11's libc6, libc6-dev and linux-libc-dev packages for the machine the build is for; they
# are unpacked with ar and tar (any distribution has them) into a sysroot in the build folder.
# The compilers stay this machine's: only the C library and its headers come from the sysroot.
# Where the folder holds none of them (a checkout without ../shared), they are fetched from
# Debian's archive (scripts/fetch-debian-11-libc.sh), once, into the folder of third-party builds;
# where they cannot be had, the build stops, saying why: as "skipped" for the tests, as an error
# for scripts/release.sh, which sets MORVANTIQUELL_RELEASE in the environment. A release file
# linked against this machine's C library, which would need a newer one, is never made.
if(NOT MORVANTIQUELL_LIBC_DEBS) # (also in the builds CMake tries, which get the sysroot from it)
  return()
endif()
# The machine's multiarch name (a cross toolchain file sets it; else this machine's) and Debian's.
set(triplet "${CMAKE_LIBRARY_ARCHITECTURE}")
if(NOT triplet)
  string(REGEX REPLACE "^i[3-6]86-" "i386-" triplet "${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu")
endif()
set(architectures x86_64-linux-gnu=amd64 aarch64-linux-gnu=arm64 i386-linux-gnu=i386)
list(FILTER architectures INCLUDE REGEX "^${triplet}=")
string(REGEX REPLACE ".*=" "" debian_architecture "${architectures}")

file(GLOB debs "${MORVANTIQUELL_LIBC_DEBS}/libc6_*_${debian_architecture}.deb")
if(NOT debs AND debian_architecture)
  set(fetched "${MORVANTIQUELL_THIRD_PARTY_BUILDS}")
  if(NOT fetched)
    set(fetched "${CMAKE_BINARY_DIR}/third-party")
  endif()
  set(fetched "${fetched}/debian-11-libc")
  execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/../scripts/fetch-debian-11-libc.sh" "${fetched}"
    ${debian_architecture} RESULT_VARIABLE status ERROR_VARIABLE why)
  if(NOT status EQUAL 0)
    string(STRIP "${why}" why)
    set(stop "the Linux release files are linked against Debian 11's C library, so that they run on \
glibc 2.17 and later, and ${MORVANTIQUELL_LIBC_DEBS} holds none for ${debian_architecture}: ${why}")
    if("$ENV{MORVANTIQUELL_RELEASE}")
      message(FATAL_ERROR "${stop}")
    endif()
    message(FATAL_ERROR "skipped: ${stop}")
  endif()
  set(MORVANTIQUELL_LIBC_DEBS "${fetched}" CACHE PATH "Folder with Debian 11's C library packages" FORCE)
endif()

set(sysroot "${CMAKE_BINARY_DIR}/debian-11-libc")
if(NOT EXISTS "${sysroot}/unpacked")
  file(REMOVE_RECURSE "${sysroot}")
  file(MAKE_DIRECTORY "${sysroot}")
  foreach(package IN ITEMS libc6 libc6-dev linux-libc-dev)
    file(GLOB deb "${MORVANTIQUELL_LIBC_DEBS}/${package}_*_${debian_architecture}.deb")
    if(NOT deb OR NOT debian_architecture)
      message(FATAL_ERROR "The Linux release files are linked against Debian 11's C library, so that \
they run on older systems, and ${MORVANTIQUELL_LIBC_DEBS} holds no ${package}_*_${debian_architecture}.deb. \
Put Debian 11's libc6, libc6-dev and linux-libc-dev for ${debian_architecture} there (from \
https://packages.debian.org/bullseye/), or name their folder with -DMORVANTIQUELL_LIBC_DEBS=FOLDER. \
(The release preset builds against this machine's C library, for this machine.)")
    endif()
    execute_process(COMMAND ar x "${deb}" WORKING_DIRECTORY "${sysroot}" RESULT_VARIABLE status)
    file(GLOB data "${sysroot}/data.tar.*")
    if(status EQUAL 0 AND data)
      execute_process(COMMAND tar -xf "${data}" -C "${sysroot}" RESULT_VARIABLE status)
    endif()
    if(NOT status EQUAL 0 OR NOT data)
      message(FATAL_ERROR "could not unpack ${deb} with ar and tar")
    endif()
    file(REMOVE "${data}" "${sysroot}/control.tar.xz" "${sysroot}/control.tar.gz" "${sysroot}/debian-binary")
  endforeach()
  # Its links name files absolutely, as on the system it was made for: they are made to point
  # within it.
  file(GLOB_RECURSE links LIST_DIRECTORIES true "${sysroot}/*")
  foreach(link IN LISTS links)
    if(IS_SYMLINK "${link}")
      file(READ_SYMLINK "${link}" target)
      if(IS_ABSOLUTE "${target}")
        get_filename_component(folder "${link}" DIRECTORY)
        file(RELATIVE_PATH target "${folder}" "${sysroot}${target}")
        file(REMOVE "${link}")
        file(CREATE_LINK "${target}" "${link}" SYMBOLIC)
      endif()
    endif()
  endforeach()
  file(TOUCH "${sysroot}/unpacked")
endif()
set(CMAKE_SYSROOT "${sysroot}")
# The start files and libraries from the sysroot first (the compiler would find its own machine's
# through paths of its own), and its multiarch headers also for a compiler that does not look
# for them (a compiler of Fedora's, say).
foreach(kind IN ITEMS EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-B${sysroot}/usr/lib/${triplet}")
endforeach()
# A cross compiler of Debian's searches a C library's headers of its own too, this machine's
# (/usr/i686-linux-gnu/include), ahead of the sysroot's: against glibc 2.41's headers a program asks
# for symbols that 2.31 lacks (strtol becomes __isoc23_strtol). For such a compiler its folders are
# named one by one, in its order and without that one.
foreach(language IN ITEMS C CXX)
  set(flags "-idirafter ${sysroot}/usr/include/${triplet}")
  if(CMAKE_${language}_COMPILER)
    string(REPLACE CXX c++ source_language "${language}")
    string(TOLOWER "${source_language}" source_language)
    execute_process(COMMAND "${CMAKE_${language}_COMPILER}" "--sysroot=${sysroot}" -E -v -x ${source_language} -
      INPUT_FILE /dev/null OUTPUT_QUIET ERROR_VARIABLE search)
    string(REGEX REPLACE ".*#include <...> search starts here:\n(.*)End of search list.*" "\\1" search "${search}")
    string(REGEX REPLACE "[ \n]+" ";" search "${search}")
    list(FILTER search EXCLUDE REGEX "^$")
    get_filename_component(real_sysroot "${sysroot}" REALPATH)
    set(folders "")
    set(foreign FALSE)
    foreach(folder IN LISTS search)
      get_filename_component(folder "${folder}" REALPATH)
      string(FIND "${folder}/" "${real_sysroot}/" at)
      if(NOT at EQUAL 0 AND EXISTS "${folder}/features.h")
        set(foreign TRUE)
      else()
        string(APPEND folders " -isystem ${folder}")
      endif()
    endforeach()
    if(foreign)
      set(flags "-nostdinc${folders} ${flags}")
    endif()
  endif()
  set(CMAKE_${language}_FLAGS_INIT "${flags}")
endforeach()
