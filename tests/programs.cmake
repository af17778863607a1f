# How this machine starts the build's programs: `launch`, the words before a program (none for
# this machine's own; the launcher the toolchain file names, qemu or Wine, for another's), and
# whether it can at all (`programs_run`): a kernel that runs no 32-bit x86 program cannot run
# 32-bit Wine, say. (Asked through the shell, whose exec says why a program cannot run.) Where
# the programs run, natively or under the emulator, ctest's label summary shows.
set(programs_run ON)
set(runs natively)
set(launch ${CMAKE_CROSSCOMPILING_EMULATOR})
if(CMAKE_CROSSCOMPILING_EMULATOR)
  execute_process(COMMAND sh -c "exec \"$@\" --version" launcher ${CMAKE_CROSSCOMPILING_EMULATOR}
    RESULT_VARIABLE launcher_status OUTPUT_QUIET ERROR_VARIABLE launcher_error
    ERROR_STRIP_TRAILING_WHITESPACE)
  if(NOT launcher_status EQUAL 0)
    set(programs_run OFF)
    string(REGEX REPLACE "^.*exec: " "" launcher_error "${launcher_error}")
  endif()
  list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 runs)
  get_filename_component(runs "${runs}" NAME)
  set(runs "under ${runs}")
endif()

# Under Wine: quietly, in a prefix of the build's own, with one wineserver kept alive across the
# tests (the fixture `wine`) and shut down at the end. The toolchain file names the Wine loader
# that runs this build's programs (wine64 for 64-bit ones, wine for 32-bit ones); the prefix is a
# 64-bit one, booted by wine64, in which both run. It is booted once per build, into
# wineprefix-booted, and each prefix a test wants fresh starts from a copy of it
# (wine-prefix.sh). Without Mono and Gecko; without a display, which Wine takes from the first
# process of a prefix.
if(WIN32 AND CMAKE_CROSSCOMPILING AND programs_run)
  find_program(WINE64 wine64 PATHS /usr/lib/wine)
  find_program(WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine)
  find_program(XVFB_RUN xvfb-run)
  if(NOT WINE64 OR NOT WINESERVER OR NOT XVFB_RUN)
    message(FATAL_ERROR "wine64, wineserver and xvfb-run are needed to test the Windows build")
  endif()
  set(wine_settings "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=" "WINE64=${WINE64}"
    "WINE=${CMAKE_CROSSCOMPILING_EMULATOR}" "WINESERVER=${WINESERVER}"
    "BOOTED_PREFIX=${PROJECT_BINARY_DIR}/wineprefix-booted")
  set(wine_prefix_script "${CMAKE_CURRENT_SOURCE_DIR}/wine-prefix.sh")
  set(wine_environment -u DISPLAY -u WAYLAND_DISPLAY "WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix" ${wine_settings})
  set(launch env ${wine_environment} ${CMAKE_CROSSCOMPILING_EMULATOR})
  add_test(NAME wine_start COMMAND env ${wine_environment} sh "${wine_prefix_script}")
  add_test(NAME wine_stop COMMAND env ${wine_environment} "${WINESERVER}" -k)
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
endif()
string(JOIN " " launch_words ${launch})

# Whether this build's programs start by themselves here, as the check program starts its trials
# (its own file again): another Linux machine's only where binfmt_misc hands them to the emulator
# (scripts/install-deps.sh test registers it where the machine allows). Asked of a program built
# now, started without the launcher.
set(programs_start_themselves ${programs_run})
if(programs_run AND CMAKE_CROSSCOMPILING_EMULATOR AND NOT WIN32)
  set(probe "${CMAKE_CURRENT_BINARY_DIR}/starts-itself")
  file(WRITE "${probe}/starts_itself.c" "int main(void) { return 0; }\n")
  try_compile(probe_built "${probe}/build" SOURCES "${probe}/starts_itself.c"
    COPY_FILE "${probe}/starts-itself")
  execute_process(COMMAND sh -c "exec \"$1\"" probe "${probe}/starts-itself"
    RESULT_VARIABLE probe_status OUTPUT_QUIET ERROR_VARIABLE starts_itself_error
    ERROR_STRIP_TRAILING_WHITESPACE)
  if(NOT probe_built OR NOT probe_status EQUAL 0)
    set(programs_start_themselves OFF)
    string(REGEX REPLACE "^.*exec: [^:]*: " "" starts_itself_error "${starts_itself_error}")
  endif()
endif()

#   morvantiquell_runs(TEST...): the tests start this build's programs, as `launch` says.
function(morvantiquell_runs)
  set_property(TEST ${ARGN} APPEND PROPERTY LABELS "programs run ${runs}")
  if(wine_environment)
    set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED wine)
  endif()
endfunction()
