# Run by CPack on the packages it has made, so that they are the same whoever makes them.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.zip$" AND CPACK_MORVANTIQUELL_STRIP_NONDETERMINISM)
    # A zip entry records its owner's user and group ids, which CPack takes from the builder;
    # strip-nondeterminism, made for Debian's packages, sets them as every builder's.
    execute_process(COMMAND "${CPACK_MORVANTIQUELL_STRIP_NONDETERMINISM}" --type zip
                            --timestamp "$ENV{SOURCE_DATE_EPOCH}" "${package}"
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "strip-nondeterminism failed on ${package}")
    endif()
  elseif(package MATCHES "\\.deb$")
    # A .deb is an ar archive of three members, which CPack writes with the modes the builder's
    # umask gave the files it made them from. dpkg ignores them; they are set to 0644 here. Each
    # member's 60-byte header holds its mode in 8 characters from byte 40 and its size in 10 from
    # byte 48; the members follow the 8-byte "!<arch>\n", each padded to an even length.
    set(mode "${package}.mode")
    file(WRITE "${mode}" "100644  ")
    file(SIZE "${package}" size)
    set(offset 8)
    while(offset LESS size)
      file(READ "${package}" header OFFSET ${offset} LIMIT 60)
      string(SUBSTRING "${header}" 48 10 member_size)
      string(STRIP "${member_size}" member_size)
      if(NOT header MATCHES "^[^\n]+`\n$" OR NOT member_size MATCHES "^[0-9]+$")
        message(FATAL_ERROR "${package}: no ar member header at byte ${offset}")
      endif()
      math(EXPR mode_offset "${offset} + 40")
      execute_process(COMMAND dd "of=${package}" bs=1 seek=${mode_offset} conv=notrunc status=none
                      INPUT_FILE "${mode}" RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        message(FATAL_ERROR "${package}: could not set the mode of the ar member at byte ${offset}")
      endif()
      math(EXPR offset "${offset} + 60 + ${member_size} + ${member_size} % 2")
    endwhile()
    file(REMOVE "${mode}")
  endif()
endforeach()
