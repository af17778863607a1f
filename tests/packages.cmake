# The release files this build made in its package step, checked where they lie, so that what is
# shipped is what was checked: what each holds, what it says of itself, its linter's verdict, the
# programs in it, consumers built against it, and the same files from a second build. The shared
# library's build checks its consumers instead. Each check learns what it needs of the build from
# its environment.
set(facts "VERSION=${PROJECT_VERSION}" "ARCHITECTURE=${MORVANTIQUELL_ARCHITECTURE}"
  "DEBIAN_ARCHITECTURE=${MORVANTIQUELL_DEBIAN_ARCHITECTURE}" "WINDOWS_ARCHITECTURE=${MORVANTIQUELL_WINDOWS_ARCHITECTURE}"
  "DLLTOOL_MACHINE=${MORVANTIQUELL_DLLTOOL_MACHINE}" "LOADER_FILE_NAME=${MORVANTIQUELL_LOADER_FILE_NAME}"
  "LIBDIR=${CMAKE_INSTALL_LIBDIR}" "RPM_SONAME_MARK=${MORVANTIQUELL_RPM_SONAME_MARK}"
  "ARCHIVE_NAME=${MORVANTIQUELL_ARCHIVE_NAME}" "LIBC_DEBS=$<$<BOOL:${CMAKE_SYSROOT}>:${MORVANTIQUELL_LIBC_DEBS}>"
  "CC=${CMAKE_C_COMPILER}" "CXX=${CMAKE_CXX_COMPILER}" "CMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}"
  "MORVANTIQUELL_VULKAN_HEADERS=${MORVANTIQUELL_VULKAN_HEADERS}" "RC_COMPILER=${CMAKE_RC_COMPILER}"
  "OBJDUMP=${CMAKE_OBJDUMP}")
foreach(list IN ITEMS DEB_PACKAGES DEB_FILES RPM_PACKAGES RPM_FILES)
  string(JOIN " " words ${MORVANTIQUELL_${list}})
  list(APPEND facts "${list}=${words}")
endforeach()
set(packages "${PROJECT_BINARY_DIR}/packages")
set(package_tests "")

if(BUILD_SHARED_LIBS)
  # What users of the library get: consumers built against an installed copy, through the CMake
  # package and pkg-config, and a parent project that takes the checkout in through FetchContent.
  add_test(NAME package_consumers COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/package/check-consumers.sh"
    "${PROJECT_BINARY_DIR}" "${stand_in_folder}" ${launch})
  list(APPEND package_tests package_consumers)
  if(EXISTS "${PROJECT_SOURCE_DIR}/.git")
    add_test(NAME package_fetch_content COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/package/check-consumers.sh"
      "${PROJECT_SOURCE_DIR}" "${stand_in_folder}" ${launch})
    list(APPEND package_tests package_fetch_content)
  else()
    morvantiquell_skipped_test(package_fetch_content "${PROJECT_SOURCE_DIR} is not a git checkout")
  endif()
elseif(WIN32)
  set(zip_launch "")
  if(programs_run)
    set(zip_launch ${launch})
  else()
    morvantiquell_skipped_test(package_zip_consumer_runs
      "the MSVC-ABI consumer is built, not run: this machine cannot run the build's programs")
  endif()
  add_test(NAME package_zip COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/windows/check-zip.sh" "${packages}"
    "${stand_in_folder}" ${zip_launch})
  list(APPEND package_tests package_zip)
elseif(programs_run)
  add_test(NAME package_files COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/package/check-packages.sh"
    "${packages}" "${stand_in_folder}" ${launch})
  list(APPEND package_tests package_files)
else()
  morvantiquell_skipped_test(package_files
    "this machine cannot run the build's programs (${launcher_error}), which the checks start")
endif()

# Each format's linter: nothing to say on the Debian packages; on the RPM packages no error but
# the signature, which the publisher adds.
if(MORVANTIQUELL_INSTALL_LAYOUT STREQUAL "debian")
  set(linter lintian)
  list(TRANSFORM MORVANTIQUELL_DEB_FILES PREPEND "${packages}/" OUTPUT_VARIABLE files)
  set(lint_command sh -c [=[! lintian "$@" 2>&1 | grep -v 'running with root privileges' | grep -E '^[EW]:']=] lint)
elseif(MORVANTIQUELL_INSTALL_LAYOUT STREQUAL "rpm")
  set(linter rpmlint)
  list(TRANSFORM MORVANTIQUELL_RPM_FILES PREPEND "${packages}/" OUTPUT_VARIABLE files)
  set(lint_command sh -c [=[! rpmlint -r "$0" --ignore-unused-rpmlintrc "$@" 2>&1 | grep ': E: ' | grep -v ': E: no-signature']=]
    "${PROJECT_SOURCE_DIR}/packaging/rpmlintrc")
endif()
if(linter)
  find_program(MORVANTIQUELL_${linter} ${linter})
  if(MORVANTIQUELL_${linter})
    add_test(NAME package_lint COMMAND ${lint_command} ${files})
  else()
    morvantiquell_skipped_test(package_lint "the packages are checked with ${linter}, which this machine lacks")
  endif()
endif()

# The same files from a second build of a copy of the tree elsewhere, under another umask and
# time zone, byte for byte.
if(NOT BUILD_SHARED_LIBS)
  add_test(NAME package_reproducible COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/package/check-reproducible.sh"
    "${PROJECT_SOURCE_DIR}" "${MORVANTIQUELL_PRESET}" "${PROJECT_BINARY_DIR}")
  list(APPEND package_tests package_reproducible)
endif()
set_tests_properties(${package_tests} PROPERTIES ENVIRONMENT "${facts}")
# The consumers' builds are kept in the build folder, so that a run builds again only what changed.
foreach(test IN ITEMS package_consumers package_fetch_content)
  if(TEST ${test})
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "CONSUMERS_FOLDER=${PROJECT_BINARY_DIR}/${test}")
  endif()
endforeach()
morvantiquell_runs(${package_tests})
