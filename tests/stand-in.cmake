# The stand-in loader, scripted per case, and its variants; and real layers for the check
# program. Windows finds a library beside the program first; elsewhere the tests point the library
# search path at these folders.
set(stand_in_folder "${CMAKE_CURRENT_BINARY_DIR}/stand-in")
set(without_entry_folder "${CMAKE_CURRENT_BINARY_DIR}/without-entry")
set(not_a_library_folder "${CMAKE_CURRENT_BINARY_DIR}/not-a-library")
set(layers_folder "${CMAKE_CURRENT_BINARY_DIR}/layers")

# A shared library of the stand-in's or a layer's: its own C++ runtime on Linux, bound inside and
# hidden, so that its allocations stay out of the test programs' replaced operator new, as a real
# loader's would (a Windows DLL binds its own anyway; and a release file's build, against Debian
# 11's C library, cannot link this compiler's runtime in); no sanitizer; and on 32-bit Windows its
# exports undecorated, as the real loader's are (MinGW would export vkGetInstanceProcAddr@8).
function(morvantiquell_test_library target source folder)
  add_library(${target} MODULE ${source})
  target_link_libraries(${target} PRIVATE Vulkan::Headers morvantiquell_warnings)
  set_target_properties(${target} PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY "${folder}" RUNTIME_OUTPUT_DIRECTORY "${folder}")
  if(NOT WIN32 AND NOT APPLE AND NOT MORVANTIQUELL_LIBC_DEBS)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc
      "LINKER:--exclude-libs,ALL" "LINKER:-Bsymbolic")
  endif()
  if(MORVANTIQUELL_SANITIZE)
    target_compile_options(${target} PRIVATE -fno-sanitize=all)
    target_link_options(${target} PRIVATE -fno-sanitize=all)
  endif()
  if(MINGW)
    target_link_options(${target} PRIVATE "LINKER:--kill-at")
  endif()
endfunction()

morvantiquell_test_library(stand_in_loader stand_in_loader.cpp "${stand_in_folder}")
set_target_properties(stand_in_loader PROPERTIES OUTPUT_NAME "${MORVANTIQUELL_LOADER_FILE_NAME}" SUFFIX "")

# What the suites need besides: a stand-in that lacks the entry point, one that cannot be bound,
# a file of the loader's name that is no library, and the layers.
if(NOT MORVANTIQUELL_CHECK_PACKAGES)
  morvantiquell_test_library(stand_in_loader_without_entry stand_in_loader.cpp "${without_entry_folder}")
  set_target_properties(stand_in_loader_without_entry PROPERTIES OUTPUT_NAME "${MORVANTIQUELL_LOADER_FILE_NAME}" SUFFIX "")
  target_compile_definitions(stand_in_loader_without_entry PRIVATE STAND_IN_WITHOUT_ENTRY_POINT)
  if(NOT WIN32 AND NOT APPLE)
    # Loaded by its path, it then also answers to the loader's name, as a DLL does on Windows.
    target_link_options(stand_in_loader_without_entry PRIVATE "LINKER:-soname,${MORVANTIQUELL_LOADER_FILE_NAME}")

    # A stand-in that calls a function nothing defines, with its own references bound only when
    # first called (a -z now build binds them at load, whatever dlopen asks): opened with every
    # symbol bound at once, as it must be, it is refused. Windows binds a DLL's imports when it
    # loads it.
    set(lazily_bound_folder "${CMAKE_CURRENT_BINARY_DIR}/lazily-bound")
    morvantiquell_test_library(stand_in_loader_lazily_bound stand_in_loader.cpp "${lazily_bound_folder}")
    set_target_properties(stand_in_loader_lazily_bound PROPERTIES OUTPUT_NAME "${MORVANTIQUELL_LOADER_FILE_NAME}" SUFFIX "")
    target_compile_definitions(stand_in_loader_lazily_bound PRIVATE STAND_IN_CALLS_UNDEFINED)
    target_link_options(stand_in_loader_lazily_bound PRIVATE "LINKER:-z,lazy")
  endif()

  file(WRITE "${not_a_library_folder}/${MORVANTIQUELL_LOADER_FILE_NAME}" "not a library\n")

  # Real layers for the check program, one build for each thing its vkCreateInstance does.
  foreach(behaviour IN ITEMS passes prints escapes refuses dies aborts exits hangs)
    morvantiquell_test_library(test_layer_${behaviour} test_layer.cpp "${layers_folder}")
    target_compile_definitions(test_layer_${behaviour} PRIVATE "TEST_LAYER_BEHAVIOUR=\"${behaviour}\"")
  endforeach()
endif()
