# The Windows programs under Wine, against real loaders: Wine's own vulkan-1.dll, and the Khronos
# loaders for Windows built here from their sources (windows/).

# What a user of Wine gets from Wine's own vulkan-1.dll. Without a display, what Wine's loader
# answers itself (Wine 8 refuses the instance, Wine 10 creates one); under Xvfb it creates one and
# offers no layers.
add_test(NAME wine_loader_without_display
  COMMAND ${CMAKE_COMMAND} "-DCOMMAND=${launch};$<TARGET_FILE:morvantiquell>"
          "-DEXPECTED_FROM=${launch};$<TARGET_FILE:enumerate_layers>;--instance"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_run.cmake)
add_test(NAME wine_loader_under_xvfb
  COMMAND ${CMAKE_COMMAND}
          "-DCOMMAND=${XVFB_RUN};-a;-n;100;env;WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix-display;${wine_settings};sh;${wine_prefix_script};${CMAKE_CROSSCOMPILING_EMULATOR};$<TARGET_FILE:morvantiquell>"
          -DEXPECTED_OUT= -DEXPECTED_ERR= -DEXPECTED_STATUS=0
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_run.cmake)

# No DLL planting: with Wine's own vulkan-1.dll moved out of the system folders (as on a Windows
# without Vulkan; the 32-bit one is in syswow64), a vulkan-1.dll in the working directory is not
# loaded. The table shows that one beside the program is.
set(system "${PROJECT_BINARY_DIR}/wineprefix/drive_c/windows")
add_test(NAME wine_loader_not_from_working_directory
  COMMAND ${CMAKE_COMMAND}
          "-DCOMMAND=env;${wine_environment};WINEDLLOVERRIDES=vulkan-1=n;${CMAKE_CROSSCOMPILING_EMULATOR};$<TARGET_FILE:morvantiquell>"
          "-DHIDE=${system}/system32/vulkan-1.dll;${system}/syswow64/vulkan-1.dll"
          -DEXPECTED_OUT= "-DEXPECTED_ERR=failed to load \"vulkan-1.dll\" library\n"
          -DEXPECTED_STATUS=1 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_run.cmake
  WORKING_DIRECTORY "${stand_in_folder}")
morvantiquell_runs(wine_loader_without_display wine_loader_under_xvfb wine_loader_not_from_working_directory)
# It moves Wine's own vulkan-1.dll away, which the case without a display wants.
set_tests_properties(wine_loader_not_from_working_directory wine_loader_without_display PROPERTIES
  RESOURCE_LOCK wine_own_loader)

add_subdirectory(windows)
