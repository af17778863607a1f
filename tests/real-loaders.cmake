# The programs against real Khronos loaders, the installed one and the newest built here from its
# sources, with Mesa's CPU driver: the listing against the loader's own enumeration, and the check
# with real layers.
math(EXPR program_bits "${CMAKE_SIZEOF_VOID_P} * 8")
set(real_loader_command ${real_loader_test} --program=$<TARGET_FILE:morvantiquell>
  "--launcher=${launch_words}" --program-bits=${program_bits})
set(check_command ${check_test} --program=$<TARGET_FILE:morvantiquell-check>
  --listing=$<TARGET_FILE:morvantiquell> --layers=${layers_folder} --stand-in=${stand_in_folder}
  "--launcher=${launch_words}")
# Under the sanitizers a layer's crash must end its trial as it would anywhere else, by the
# signal, and the leaks that Mesa's layers and their C++ runtime leave at exit are not ours.
set(check_environment "ASAN_OPTIONS=handle_segv=0:detect_leaks=0")
add_test(NAME real_loader COMMAND ${real_loader_command})
morvantiquell_runs(real_loader)
if(programs_start_themselves)
  add_test(NAME check COMMAND ${check_command})
  morvantiquell_runs(check)
else()
  morvantiquell_skipped_test(check "this build's programs do not start by themselves here \
(${starts_itself_error}: binfmt_misc does not start them ${runs}), as the check starts its trials \
(docs/linux-arm64.md, docs/linux-i386.md)")
endif()
# Under qemu-user a 32-bit program cannot list a folder on ext4 (the kernel hands the 64-bit
# emulator directory positions too large for the program's 32-bit getdents), so its loader would
# find no manifest there. The suite then reads the system's manifests from a copy on tmpfs, as the
# loader it asks itself does, and makes its own folders there too.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_CROSSCOMPILING_EMULATOR)
  string(SHA1 tmpfs "${PROJECT_BINARY_DIR}")
  string(SUBSTRING "${tmpfs}" 0 12 tmpfs)
  set(tmpfs "/dev/shm/morvantiquell-${tmpfs}")
  add_test(NAME manifests_to_tmpfs COMMAND sh -c [=[rm -rf "$1" && mkdir -p "$1/config" "$1/tmp" && cp -R /usr/share/vulkan "$1/"]=]
    copy "${tmpfs}")
  add_test(NAME manifests_off_tmpfs COMMAND rm -rf "${tmpfs}")
  set_tests_properties(manifests_to_tmpfs PROPERTIES FIXTURES_SETUP tmpfs)
  set_tests_properties(manifests_off_tmpfs PROPERTIES FIXTURES_CLEANUP tmpfs)
  set_property(TEST real_loader APPEND PROPERTY FIXTURES_REQUIRED tmpfs)
  if(programs_start_themselves)
    set_property(TEST check APPEND PROPERTY FIXTURES_REQUIRED tmpfs)
  endif()
  list(APPEND check_environment "XDG_DATA_DIRS=${tmpfs}" "XDG_CONFIG_DIRS=${tmpfs}/config" "TMPDIR=${tmpfs}/tmp")
  set_tests_properties(real_loader PROPERTIES
    ENVIRONMENT "XDG_DATA_DIRS=${tmpfs};XDG_CONFIG_DIRS=${tmpfs}/config;TMPDIR=${tmpfs}/tmp")
endif()
if(programs_start_themselves)
  set_tests_properties(check PROPERTIES ENVIRONMENT "${check_environment}")
endif()

# The CI page's recipe for a layer that must load, against the installed loader: status 0 where
# the layer loads, 1 where its manifest names no library, 2 where there is no driver.
if(NOT CMAKE_CROSSCOMPILING)
  foreach(case IN ITEMS "loads:$<TARGET_FILE:test_layer_passes>" "missing:${CMAKE_CURRENT_BINARY_DIR}/absent.so")
    string(REGEX MATCH "^([a-z]+):(.*)$" case "${case}")
    file(GENERATE OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/recipe-${CMAKE_MATCH_1}/layer.json" CONTENT
      "{\"file_format_version\":\"1.0.0\",\"layer\":{\"name\":\"VK_LAYER_KHRONOS_validation\",\"type\":\"GLOBAL\",\"library_path\":\"${CMAKE_MATCH_2}\",\"api_version\":\"1.0.0\",\"implementation_version\":\"1\",\"description\":\"test layer\"}}")
  endforeach()
  foreach(case IN ITEMS "0:loads:" "1:missing:" "2:loads:VK_DRIVER_FILES=/nonexistent.json")
    string(REGEX MATCH "^([0-9]):([a-z]+):(.*)$" case "${case}")
    add_test(NAME check_recipe_${CMAKE_MATCH_1}
      COMMAND sh -c [=[(out=$("$1") || [ -n "$out" ] || exit 2; printf '%s\n' "$out" | grep -qxF "$(printf 'VK_LAYER_KHRONOS_validation\tloads')"); test $? -eq "$2"]=]
              recipe $<TARGET_FILE:morvantiquell-check> ${CMAKE_MATCH_1})
    set_tests_properties(check_recipe_${CMAKE_MATCH_1} PROPERTIES ENVIRONMENT
      "VK_LAYER_PATH=${CMAKE_CURRENT_BINARY_DIR}/recipe-${CMAKE_MATCH_2};${CMAKE_MATCH_3};ASAN_OPTIONS=detect_leaks=0")
  endforeach()
endif()

# The same against the newest Khronos loader, built here from its sources, in place of the
# installed one.
if(NOT CMAKE_CROSSCOMPILING AND NOT MORVANTIQUELL_SANITIZE)
  include(khronos-loader.cmake)
  list(GET khronos_loader_versions -1 version)
  set(folder "${CMAKE_CURRENT_BINARY_DIR}/khronos-${version}/loader")
  morvantiquell_khronos_loader(${version} linux "${folder}"
    -DBUILD_WSI_XCB_SUPPORT=OFF -DBUILD_WSI_XLIB_SUPPORT=OFF -DBUILD_WSI_WAYLAND_SUPPORT=OFF)
  if(khronos_found)
    add_test(NAME real_loader_${version} COMMAND ${real_loader_command})
    add_test(NAME check_${version} COMMAND ${check_command})
    set_tests_properties(real_loader_${version} check_${version} PROPERTIES ENVIRONMENT "LD_LIBRARY_PATH=${folder}")
  else()
    morvantiquell_skipped_test(real_loader_${version} "${khronos_missing}")
    morvantiquell_skipped_test(check_${version} "${khronos_missing}")
  endif()
endif()
