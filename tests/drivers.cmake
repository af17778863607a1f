# The drivers of the end-to-end tables (tests/drivers), for this machine: taken in by a build for
# this machine, and built on their own, with this machine's compilers, by a build for another.
# Sets console_test, real_loader_test and check_test to their paths.
if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(drivers "${CMAKE_CURRENT_BINARY_DIR}/host-drivers")
  ExternalProject_Add(host_drivers
    SOURCE_DIR "${CMAKE_CURRENT_SOURCE_DIR}/drivers"
    BINARY_DIR "${drivers}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_COMPILER_LAUNCHER=${MORVANTIQUELL_CCACHE}"
               "-DMORVANTIQUELL_GOOGLETEST_SOURCE=${MORVANTIQUELL_GOOGLETEST_SOURCE}"
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  foreach(driver IN ITEMS console_test real_loader_test check_test)
    set(${driver} "${drivers}/${driver}")
  endforeach()
else()
  add_subdirectory(drivers)
  foreach(driver IN ITEMS console_test real_loader_test check_test)
    set(${driver} $<TARGET_FILE:${driver}>)
  endforeach()
endif()
