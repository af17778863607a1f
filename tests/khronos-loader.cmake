# The Khronos loader, built from its release sources for the build's machine, to run the program
# against real loaders of more than one version. The sources are tarballs in
# MORVANTIQUELL_KHRONOS_SOURCES (by default ../shared/third-party beside the checkout), under the
# names below; where they are not there, the release tarballs that GitHub serves for the tags
# below, from MORVANTIQUELL_KHRONOS_DOWNLOADS (the KhronosGroup organisation's address), fetched
# once into the folder of third-party builds. Each is checked against its SHA-256. A version whose
# tarballs can be had neither way is left out, and the tests that want it say so.
#   version  loader tarball, its tag and SHA-256; headers tarball, its tag and SHA-256; whether the
#            loader reads a loader settings file
set(khronos_loader_versions 1.3.239 1.4.357)
set(khronos_1.3.239
  vulkan-loader-1.3.239.tar.gz v1.3.239 ee16736efe110c0437d897dde088264ba9814e92efa8f0e5ea173136eede813d
  vulkan-headers-1.3.239.tar.gz v1.3.239 3be5172e22ba8e3320108edfd135c31559fb92e2787199ed847e898d244a8a9a
  OFF)
set(khronos_1.4.357
  vulkan-loader-sdk-1.4.357.0.tar.gz vulkan-sdk-1.4.357.0 2e9432879b41a9a70a61c2e80a863ac67532c49c48d81a61aca509d7cb32e6fa
  vulkan-headers-sdk-1.4.357.0.tar.gz vulkan-sdk-1.4.357.0 01ae7398b3bbefa414070acb47159ae898957e3498ebbaf9940846e833a87897
  ON)
cmake_path(SET default_sources NORMALIZE "${PROJECT_SOURCE_DIR}/../shared/third-party")
set(MORVANTIQUELL_KHRONOS_SOURCES "${default_sources}" CACHE PATH
  "Folder with the Khronos Vulkan-Loader and Vulkan-Headers release tarballs")
set(MORVANTIQUELL_KHRONOS_DOWNLOADS "https://github.com/KhronosGroup" CACHE STRING
  "Where the Khronos release tarballs are fetched from where MORVANTIQUELL_KHRONOS_SOURCES lacks them: REPOSITORY/archive/refs/tags/TAG.tar.gz below it")
set(MORVANTIQUELL_THIRD_PARTY_BUILDS "${PROJECT_BINARY_DIR}/third-party" CACHE PATH
  "Where the Khronos loaders are built, once per version and machine, for any build folder to take")
include(ExternalProject)

# The tarball NAME of REPOSITORY's TAG in `path` of the caller: from MORVANTIQUELL_KHRONOS_SOURCES,
# else fetched (once, checked against HASH); empty, with why in `why`, where it cannot be had.
function(morvantiquell_khronos_tarball name repository tag hash)
  set(path "${MORVANTIQUELL_KHRONOS_SOURCES}/${name}")
  set(why "" PARENT_SCOPE)
  if(NOT EXISTS "${path}")
    set(path "${MORVANTIQUELL_THIRD_PARTY_BUILDS}/downloads/${name}")
    set(url "${MORVANTIQUELL_KHRONOS_DOWNLOADS}/${repository}/archive/refs/tags/${tag}.tar.gz")
    if(NOT EXISTS "${path}")
      string(RANDOM LENGTH 8 part)
      file(DOWNLOAD "${url}" "${path}.${part}" INACTIVITY_TIMEOUT 30 STATUS status)
      list(GET status 0 code)
      list(GET status 1 message)
      if(code EQUAL 0)
        file(SHA256 "${path}.${part}" fetched)
        if(NOT fetched STREQUAL hash)
          set(code 1)
          set(message "its SHA-256 is ${fetched}, not ${hash}")
        endif()
      endif()
      if(code EQUAL 0)
        file(RENAME "${path}.${part}" "${path}")
      else()
        file(REMOVE "${path}.${part}")
        set(why "not in ${MORVANTIQUELL_KHRONOS_SOURCES} (MORVANTIQUELL_KHRONOS_SOURCES), and ${url} could not be had: ${message}"
          PARENT_SCOPE)
        set(path "")
      endif()
    endif()
  endif()
  set(path "${path}" PARENT_SCOPE)
endfunction()

#   morvantiquell_khronos_loader(VERSION VARIANT FOLDER [CMAKE_ARGUMENT...])
# Builds the loader of VERSION for the build's machine (an external project,
# khronos_loader_VERSION_VARIANT), with the headers of its version, in a folder of its own in
# MORVANTIQUELL_THIRD_PARTY_BUILDS, so that this build folder wiped finds it built. Only one
# preset builds a given machine's variant: builds that run side by side share no folder. The target
# khronos_VERSION_VARIANT copies it into FOLDER under the loader's file name. Sets khronos_found
# (whether the tarballs can be had), khronos_missing (what says they cannot) and
# khronos_reads_settings in the caller.
function(morvantiquell_khronos_loader version variant folder)
  set(entry ${khronos_${version}})
  list(POP_FRONT entry loader loader_tag loader_hash headers headers_tag headers_hash reads_settings)
  set(khronos_reads_settings ${reads_settings} PARENT_SCOPE)
  set(khronos_found OFF PARENT_SCOPE)
  morvantiquell_khronos_tarball(${loader} Vulkan-Loader ${loader_tag} ${loader_hash})
  set(loader "${path}")
  if(loader)
    morvantiquell_khronos_tarball(${headers} Vulkan-Headers ${headers_tag} ${headers_hash})
    set(headers "${path}")
  endif()
  if(NOT loader OR NOT headers)
    set(khronos_missing "the Khronos loader ${version}'s sources: ${why}" PARENT_SCOPE)
    return()
  endif()
  set(khronos_found ON PARENT_SCOPE)
  set(build "${MORVANTIQUELL_THIRD_PARTY_BUILDS}/khronos-${version}/${MORVANTIQUELL_ARCHITECTURE}-${variant}")
  ExternalProject_Add(khronos_headers_${version}_${variant}
    URL "${headers}"
    URL_HASH "SHA256=${headers_hash}"
    DOWNLOAD_EXTRACT_TIMESTAMP ON
    PREFIX "${build}/headers-build"
    CMAKE_ARGS "-DCMAKE_INSTALL_PREFIX=${build}/headers")
  ExternalProject_Add(khronos_loader_${version}_${variant}
    URL "${loader}"
    URL_HASH "SHA256=${loader_hash}"
    DOWNLOAD_EXTRACT_TIMESTAMP ON
    PREFIX "${build}"
    BINARY_DIR "${build}/build"
    CMAKE_ARGS "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}"
               -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF -DENABLE_WERROR=OFF
               "-DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}"
               "-DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}"
               "-DVULKAN_HEADERS_INSTALL_DIR=${build}/headers" "-DCMAKE_PREFIX_PATH=${build}/headers"
               "-DVulkanHeaders_DIR=${build}/headers/share/cmake/VulkanHeaders" ${ARGN}
    INSTALL_COMMAND ""
    DEPENDS khronos_headers_${version}_${variant})
  add_custom_target(khronos_${version}_${variant} ALL
    COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}"
    COMMAND ${CMAKE_COMMAND} -E copy "${build}/build/loader/${MORVANTIQUELL_LOADER_FILE_NAME}" "${folder}"
    DEPENDS khronos_loader_${version}_${variant})
endfunction()
