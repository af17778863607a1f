# Included by the cross toolchain files, after they name their compilers: where this machine lacks
# them, configuring stops with one line, which test.sh reports as skipped.
find_program(MORVANTIQUELL_CROSS_COMPILER "${CMAKE_C_COMPILER}")
if(NOT MORVANTIQUELL_CROSS_COMPILER)
  message(FATAL_ERROR "skipped: no ${CMAKE_C_COMPILER} here, which builds for ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR} \
(on an x86-64 Debian or Ubuntu, scripts/install-deps.sh test installs it)")
endif()
