# What the programs need at run time: never the Vulkan loader; on Linux nothing but the C library,
# and hardened; on Windows only system DLLs.
if(NOT WIN32 OR CMAKE_OBJDUMP)
  foreach(program IN ITEMS morvantiquell morvantiquell-check)
    add_test(NAME linked_libraries_${program}
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DOBJDUMP=${CMAKE_OBJDUMP}
              -DWINDOWS=${WIN32} -DPOINTER_SIZE=${CMAKE_SIZEOF_VOID_P} -DSANITIZED=${MORVANTIQUELL_SANITIZE}
              -P ${CMAKE_CURRENT_SOURCE_DIR}/check_linked_libraries.cmake)
  endforeach()
endif()

# The dependency installer as other distributions run it, their package managers stood in for.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING AND NOT MORVANTIQUELL_SANITIZE)
  add_test(NAME install_deps COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/check-install-deps.sh" "${stand_in_folder}")
endif()
