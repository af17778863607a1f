# Windows programs and DLLs say what they are and which version they are in a version resource,
# filled here from the project's one version; the program also carries an application manifest.
enable_language(RC)

file(STRINGS "${PROJECT_SOURCE_DIR}/packaging/copyright" copyright_line REGEX "^Copyright: " LIMIT_COUNT 1)
string(REGEX REPLACE "^Copyright: " "Copyright " MORVANTIQUELL_COPYRIGHT "${copyright_line}")
string(APPEND MORVANTIQUELL_COPYRIGHT ". Licensed under the Apache License, Version 2.0.")

#   morvantiquell_add_version_resource(TARGET DESCRIPTION)
function(morvantiquell_add_version_resource target file_description)
  set(dotted_version "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
  string(REPLACE "." "," numeric_version "${dotted_version}")
  set(file_name "$<TARGET_FILE_NAME:${target}>")
  set(internal_name "$<TARGET_FILE_BASE_NAME:${target}>")
  set(manifest "")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(file_type VFT_APP)
    # 1: the manifest Windows reads when it starts the program; 24: RT_MANIFEST.
    set(manifest_file "${PROJECT_SOURCE_DIR}/packaging/windows/morvantiquell.exe.manifest")
    set(manifest "1 24 \"${manifest_file}\"")
    if(MSVC)
      target_link_options(${target} PRIVATE /MANIFEST:NO) # the linker would add one of its own
    endif()
  else()
    set(file_type VFT_DLL)
  endif()
  # The file names are known only when the build is generated.
  set(resource "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in" "${resource}.in" @ONLY)
  file(GENERATE OUTPUT "${resource}" INPUT "${resource}.in")
  target_sources(${target} PRIVATE "${resource}")
  if(manifest)
    set_source_files_properties("${resource}" PROPERTIES OBJECT_DEPENDS "${manifest_file}")
  endif()
endfunction()
