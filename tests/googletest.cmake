# GoogleTest: Debian's sources, built here (its headers as system headers, and a newer compiler's
# warnings in it as warnings, unlinted: they are not this project's), or else its CMake package.
# Sets googletest_found.
set(googletest_found ON)
if(EXISTS "${MORVANTIQUELL_GOOGLETEST_SOURCE}/CMakeLists.txt")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(CMAKE_COMPILE_WARNING_AS_ERROR OFF)
  set(CMAKE_CXX_CLANG_TIDY "")
  add_subdirectory("${MORVANTIQUELL_GOOGLETEST_SOURCE}" googletest EXCLUDE_FROM_ALL SYSTEM)
  unset(CMAKE_COMPILE_WARNING_AS_ERROR)
  unset(CMAKE_CXX_CLANG_TIDY)
else()
  find_package(GTest)
  set(googletest_found ${GTest_FOUND})
endif()
