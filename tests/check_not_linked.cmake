# Fails when the program names the Vulkan loader among the libraries it needs.
execute_process(COMMAND readelf -d "${PROGRAM}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "readelf could not read ${PROGRAM}")
endif()
if(dynamic MATCHES "NEEDED[^\n]*vulkan")
  message(FATAL_ERROR "${PROGRAM} links the Vulkan loader:\n${dynamic}")
endif()
message(STATUS "${PROGRAM} needs no Vulkan loader")
