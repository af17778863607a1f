# Run by CPack on the packages it has made, so that they are the same whoever makes them: CPack
# writes some of what it takes from the builder into them. (An RPM needs nothing here: rpm takes
# the release time and a fixed build host from the macros the build gives it.)
#   .zip     each entry's owner's user and group ids
#   .deb     the modes of its three ar members, which the builder's umask gave the files CPack
#            made them from (dpkg ignores them)
#   .tar.gz  each entry's owner, by id and by name, and the top folder's mode, from the umask
# Debian's strip-nondeterminism mends the first two; GNU tar writes the tarball anew.
set(time "$ENV{SOURCE_DATE_EPOCH}")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  set(normalise "")
  if(package MATCHES "\\.zip$")
    set(normalise "${CPACK_MORVANTIQUELL_STRIP_NONDETERMINISM}" --type zip)
  elseif(package MATCHES "\\.deb$")
    set(normalise "${CPACK_MORVANTIQUELL_STRIP_NONDETERMINISM}" --type ar --normalizers=+ar)
  elseif(package MATCHES "\\.tar\\.gz$")
    set(tree "${package}.tree")
    file(REMOVE_RECURSE "${tree}")
    file(MAKE_DIRECTORY "${tree}")
    execute_process(COMMAND tar -xzpf "${package}" -C "${tree}" RESULT_VARIABLE status)
    if(status EQUAL 0)
      file(GLOB top RELATIVE "${tree}" "${tree}/*")
      execute_process(COMMAND tar --sort=name --owner=0 --group=0 --numeric-owner --mode=go-w "--mtime=@${time}"
                              --format=gnu "--use-compress-program=gzip -9n" -cf "${package}" -C "${tree}" ${top}
                      RESULT_VARIABLE status)
    endif()
    file(REMOVE_RECURSE "${tree}")
  endif()
  if(normalise)
    if(NOT CPACK_MORVANTIQUELL_STRIP_NONDETERMINISM)
      message(WARNING "strip-nondeterminism not found: ${package} records what it takes from its builder, "
                      "so another builder's differs (Debian: apt-get install strip-nondeterminism)")
      continue()
    endif()
    execute_process(COMMAND ${normalise} --timestamp "${time}" "${package}" RESULT_VARIABLE status)
  endif()
  if(DEFINED status AND NOT status EQUAL 0)
    message(FATAL_ERROR "could not make ${package} the same for every builder")
  endif()
  unset(status)
endforeach()
