cmake_minimum_required(VERSION 3.25)
# Runs COMMAND (a list) and compares its standard output, standard error and exit status with
# EXPECTED_OUT, EXPECTED_ERR (where \n stands for a line end) and EXPECTED_STATUS. Windows line
# ends count as line ends. HIDE names a file that is moved away while the command runs.
if(HIDE)
  file(RENAME "${HIDE}" "${HIDE}.hidden")
endif()
execute_process(COMMAND ${COMMAND} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(HIDE)
  file(RENAME "${HIDE}.hidden" "${HIDE}")
endif()
string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")
string(REPLACE "\\n" "\n" EXPECTED_OUT "${EXPECTED_OUT}")
string(REPLACE "\\n" "\n" EXPECTED_ERR "${EXPECTED_ERR}")
if(NOT out STREQUAL EXPECTED_OUT OR NOT err STREQUAL EXPECTED_ERR OR NOT status STREQUAL EXPECTED_STATUS)
  message(FATAL_ERROR "${COMMAND}\n"
    "standard output: [${out}], expected [${EXPECTED_OUT}]\n"
    "standard error: [${err}], expected [${EXPECTED_ERR}]\n"
    "status: ${status}, expected ${EXPECTED_STATUS}")
endif()
