# In process and end to end, against the stand-in loader: the query's tables and its allocation
# sweep, the programs' end-to-end table, the README's recipe for scripts, and memcheck.
set(sanitizer_environment "ASAN_OPTIONS=allocator_may_return_null=1" "UBSAN_OPTIONS=print_stacktrace=1")

# In process. The Windows tests sit beside the stand-in, where the system finds it; elsewhere the
# library search path names its folder.
add_executable(api_test api_test.cpp test_platform.cpp)
target_link_libraries(api_test PRIVATE Morvantiquell::layer_query morvantiquell_loader_name)
target_compile_definitions(api_test PRIVATE
  "STAND_IN_WITHOUT_ENTRY_POINT=\"${without_entry_folder}/${MORVANTIQUELL_LOADER_FILE_NAME}\"")
# The same query built with a seam that makes any allocation fail, swept allocation by allocation.
morvantiquell_add_loader(morvantiquell_loader_seam)
morvantiquell_add_layer_query(morvantiquell_layer_query_seam STATIC morvantiquell_loader_seam)
target_compile_definitions(morvantiquell_loader_seam PUBLIC MORVANTIQUELL_ALLOCATION_SEAM)
target_compile_definitions(morvantiquell_layer_query_seam PUBLIC MORVANTIQUELL_ALLOCATION_SEAM)
add_executable(allocation_sweep_test allocation_sweep_test.cpp test_platform.cpp)
target_include_directories(allocation_sweep_test PRIVATE ${PROJECT_SOURCE_DIR}/platform)
target_link_libraries(allocation_sweep_test PRIVATE morvantiquell_layer_query_seam morvantiquell_loader_name)
foreach(test IN ITEMS api allocation_sweep)
  target_link_libraries(${test}_test PRIVATE GTest::gtest_main morvantiquell_warnings)
  set_target_properties(${test}_test PROPERTIES CROSSCOMPILING_EMULATOR "${launch}")
  add_test(NAME ${test} COMMAND ${test}_test)
  morvantiquell_runs(${test})
  if(WIN32)
    set_target_properties(${test}_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${stand_in_folder}")
  else()
    set_tests_properties(${test} PROPERTIES
      ENVIRONMENT "LD_LIBRARY_PATH=${stand_in_folder};${sanitizer_environment}")
  endif()
endforeach()

# The calls that run the check's trials, on Linux, where the test starts itself again as the
# check does.
if(NOT WIN32 AND programs_start_themselves)
  add_executable(process_test process_test.cpp)
  target_link_libraries(process_test PRIVATE morvantiquell_process GTest::gtest morvantiquell_warnings)
  set_target_properties(process_test PROPERTIES CROSSCOMPILING_EMULATOR "${launch}")
  add_test(NAME process COMMAND process_test)
  set_tests_properties(process PROPERTIES ENVIRONMENT "${sanitizer_environment}")
  morvantiquell_runs(process)
elseif(NOT WIN32)
  morvantiquell_skipped_test(process "this build's programs do not start by themselves here \
(${starts_itself_error}), as the trials do")
endif()

# End to end. Windows finds the loader beside the program, so each loader folder has a copy of
# it; elsewhere the library search path points at the folder.
if(WIN32)
  set(program_option --program-beside-loader=$<TARGET_FILE_NAME:morvantiquell> --crlf)
  add_custom_target(program_beside_loaders ALL
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:morvantiquell> "${stand_in_folder}"
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:morvantiquell> "${without_entry_folder}"
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:morvantiquell> "${not_a_library_folder}"
    DEPENDS morvantiquell stand_in_loader stand_in_loader_without_entry)
else()
  set(program_option --program=$<TARGET_FILE:morvantiquell>)
endif()
set(console_options ${program_option} --stand-in=${stand_in_folder}
  --without-entry=${without_entry_folder} --not-a-library=${not_a_library_folder})
if(lazily_bound_folder)
  list(APPEND console_options --lazily-bound=${lazily_bound_folder})
endif()
add_test(NAME console COMMAND ${console_test} ${console_options} "--launcher=${launch_words}")
set_tests_properties(console PROPERTIES ENVIRONMENT "${sanitizer_environment}")
morvantiquell_runs(console)

# The README's recipe for scripts, against the stand-in loader: status 0 where the layer is
# listed, 1 where it is not (only a longer name is), 2 where the program fails.
if(NOT CMAKE_CROSSCOMPILING)
  foreach(case IN ITEMS "0:layers=VK_LAYER_ONE,VK_LAYER_KHRONOS_validation"
                        "1:layers=VK_LAYER_KHRONOS_validation_2,VK_LAYER_ONE" "2:create=-9")
    string(REGEX MATCH "^([0-9]):(.*)$" case "${case}")
    add_test(NAME script_recipe_${CMAKE_MATCH_1}
      COMMAND sh -c [=[(out=$("$1") || exit 2; printf '%s\n' "$out" | grep -qx VK_LAYER_KHRONOS_validation); test $? -eq "$2"]=]
              recipe $<TARGET_FILE:morvantiquell> ${CMAKE_MATCH_1})
    set_tests_properties(script_recipe_${CMAKE_MATCH_1} PROPERTIES ENVIRONMENT
      "LD_LIBRARY_PATH=${stand_in_folder};STAND_IN_LOADER_SCRIPT=${CMAKE_MATCH_2};${sanitizer_environment}")
  endforeach()
endif()

# Memory errors and definite leaks, in the program and in process, under valgrind. This machine's
# valgrind cannot run a program that an emulator starts: the native build of another machine
# runs these there.
find_program(VALGRIND valgrind)
if(CMAKE_CROSSCOMPILING_EMULATOR AND NOT MORVANTIQUELL_SANITIZE)
  morvantiquell_skipped_test(memcheck "this machine's valgrind cannot run programs that run ${runs}: \
a native build runs it")
elseif(VALGRIND AND NOT MORVANTIQUELL_SANITIZE)
  set(memcheck "${VALGRIND} -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite")
  # The table in two halves, which can run at once.
  foreach(shard IN ITEMS 0 1)
    add_test(NAME console_memcheck_${shard} COMMAND ${console_test} ${console_options} "--launcher=${memcheck}")
    set_tests_properties(console_memcheck_${shard} PROPERTIES
      ENVIRONMENT "GTEST_TOTAL_SHARDS=2;GTEST_SHARD_INDEX=${shard}")
  endforeach()
  separate_arguments(memcheck_words UNIX_COMMAND "${memcheck}")
  add_test(NAME api_memcheck COMMAND ${memcheck_words} $<TARGET_FILE:api_test>)
  set_tests_properties(api_memcheck PROPERTIES ENVIRONMENT "LD_LIBRARY_PATH=${stand_in_folder}")
endif()
