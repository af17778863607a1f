# The Windows build's tests run under Wine: quietly, in a prefix of the build's own, with one
# wineserver kept alive across them and shut down at the end. The toolchain file names the Wine
# loader that runs this build's programs (wine64 for 64-bit ones, wine for 32-bit ones); the
# prefix is a 64-bit one, booted by wine64, in which both run.
find_program(WINE64 wine64 PATHS /usr/lib/wine)
find_program(WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine)
find_program(XVFB_RUN xvfb-run)
set(wine "${CMAKE_CROSSCOMPILING_EMULATOR}")

# A prefix is booted once per build, into wineprefix-booted, and each prefix a suite wants fresh
# starts from a copy of it (wine-prefix.sh). Quiet, without Mono and Gecko.
set(booted_prefix "${PROJECT_BINARY_DIR}/wineprefix-booted")
set(wine_settings "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=" "WINE64=${WINE64}" "WINE=${wine}"
  "WINESERVER=${WINESERVER}" "BOOTED_PREFIX=${booted_prefix}")
set(wine_prefix_script "${CMAKE_CURRENT_SOURCE_DIR}/wine-prefix.sh")
# The tests' own prefix has no display: Wine takes one from the first process of a prefix.
set(wine_environment -u DISPLAY -u WAYLAND_DISPLAY "WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix" ${wine_settings})
set(wine_launch env ${wine_environment} "${wine}")

# Each loader folder gets its own copy of the program, which finds the DLL beside it.
add_custom_target(program_beside_loaders ALL
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:morvantiquell> "${stand_in_folder}"
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:morvantiquell> "${without_entry_folder}"
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:morvantiquell> "${not_a_library_folder}"
  DEPENDS morvantiquell stand_in_loader stand_in_loader_without_entry)

# The zip a Windows user downloads, and a program built for the MSVC ABI against it, which runs
# where this machine runs the build's programs.
set(zip_launch "")
if(programs_run)
  set(zip_launch ${wine_launch})
endif()
add_test(NAME package_zip
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/windows/check-zip.sh" "${PROJECT_BINARY_DIR}" "${stand_in_folder}"
          ${zip_launch})

if(NOT programs_run)
  return()
endif()
if(NOT WINE64 OR NOT WINESERVER OR NOT XVFB_RUN)
  message(FATAL_ERROR "wine64, wineserver and xvfb-run are needed to test the Windows build")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${wine_launch})

add_test(NAME wine_start COMMAND env ${wine_environment} sh "${wine_prefix_script}")
add_test(NAME wine_stop COMMAND env ${wine_environment} "${WINESERVER}" -k)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
set_tests_properties(package_zip PROPERTIES FIXTURES_REQUIRED wine)

# What a user of Wine gets from Wine's own vulkan-1.dll. Without a display, what Wine's loader
# answers itself (Wine 8 refuses the instance, Wine 10 creates one); under Xvfb it creates one and
# offers no layers.
add_test(NAME wine_loader_without_display
  COMMAND ${CMAKE_COMMAND} "-DCOMMAND=${wine_launch};$<TARGET_FILE:morvantiquell>"
          "-DEXPECTED_FROM=${wine_launch};$<TARGET_FILE:enumerate_layers>;--instance"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_run.cmake)
add_test(NAME wine_loader_under_xvfb
  COMMAND ${CMAKE_COMMAND}
          "-DCOMMAND=${XVFB_RUN};-a;-n;100;env;WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix-display;${wine_settings};sh;${wine_prefix_script};${wine};$<TARGET_FILE:morvantiquell>"
          -DEXPECTED_OUT= -DEXPECTED_ERR= -DEXPECTED_STATUS=0
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_run.cmake)
set_tests_properties(wine_loader_under_xvfb PROPERTIES FIXTURES_REQUIRED wine)

# No DLL planting: with Wine's own vulkan-1.dll moved out of the system folders (as on a Windows
# without Vulkan; the 32-bit one is in syswow64), a vulkan-1.dll in the working directory is not
# loaded. The table above shows that one beside the program is.
set(system "${PROJECT_BINARY_DIR}/wineprefix/drive_c/windows")
add_test(NAME wine_loader_not_from_working_directory
  COMMAND ${CMAKE_COMMAND}
          "-DCOMMAND=env;${wine_environment};WINEDLLOVERRIDES=vulkan-1=n;${wine};$<TARGET_FILE:morvantiquell>"
          "-DHIDE=${system}/system32/vulkan-1.dll;${system}/syswow64/vulkan-1.dll"
          -DEXPECTED_OUT= "-DEXPECTED_ERR=failed to load \"vulkan-1.dll\" library\n"
          -DEXPECTED_STATUS=1 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_run.cmake
  WORKING_DIRECTORY "${stand_in_folder}")
# It moves Wine's own vulkan-1.dll away, which the case without a display wants.
set_tests_properties(wine_loader_not_from_working_directory wine_loader_without_display PROPERTIES
  FIXTURES_REQUIRED wine RESOURCE_LOCK wine_own_loader)

add_subdirectory(windows)
