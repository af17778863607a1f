# The fuzz target of the check's manifest reading (fuzz/), built with clang and libFuzzer whatever
# compiler builds the rest, and run for a fixed short time from its seeds, in a corpus folder of
# its own that it adds to.
find_program(MORVANTIQUELL_CLANGXX NAMES clang++)
if(NOT MORVANTIQUELL_CLANGXX)
  morvantiquell_skipped_test(fuzz_manifests "no clang++ for libFuzzer (scripts/install-deps.sh test installs it)")
  return()
endif()
include(ExternalProject)
get_target_property(vulkan_includes Vulkan::Headers INTERFACE_INCLUDE_DIRECTORIES)
get_target_property(rapidjson_includes morvantiquell_rapidjson INTERFACE_INCLUDE_DIRECTORIES)
string(REPLACE ";" "|" includes "${vulkan_includes};${rapidjson_includes}")
ExternalProject_Add(fuzz_manifests_build
  SOURCE_DIR "${CMAKE_CURRENT_SOURCE_DIR}/fuzz"
  BINARY_DIR "${CMAKE_CURRENT_BINARY_DIR}/fuzz"
  LIST_SEPARATOR |
  CMAKE_ARGS "-DCMAKE_CXX_COMPILER=${MORVANTIQUELL_CLANGXX}" "-DSOURCE=${PROJECT_SOURCE_DIR}"
             "-DINCLUDES=${includes}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")
add_test(NAME fuzz_manifests
  COMMAND sh -c [=[rm -rf "$1" && mkdir -p "$1" && cp "$2"/* "$1" && exec "$3" -max_total_time=20 -max_len=65536 -rss_limit_mb=4096 "-artifact_prefix=$1/" "$1"]=]
          fuzz "${CMAKE_CURRENT_BINARY_DIR}/fuzz/corpus" "${CMAKE_CURRENT_SOURCE_DIR}/fuzz/seeds"
          "${CMAKE_CURRENT_BINARY_DIR}/fuzz/fuzz_manifests")
