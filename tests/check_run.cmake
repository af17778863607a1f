cmake_minimum_required(VERSION 3.25)
# Runs COMMAND (a list) and compares its standard output, standard error and exit status with
# EXPECTED_OUT, EXPECTED_ERR (where \n stands for a line end) and EXPECTED_STATUS, or else with
# those of EXPECTED_FROM (a list), a command that gives the answer COMMAND must give. Windows line
# ends count as line ends. HIDE lists files that are moved away, where they exist, while the
# commands run.
set(hidden "")
foreach(file IN LISTS HIDE)
  if(EXISTS "${file}")
    file(RENAME "${file}" "${file}.hidden")
    list(APPEND hidden "${file}")
  endif()
endforeach()
execute_process(COMMAND ${COMMAND} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
if(EXPECTED_FROM)
  execute_process(COMMAND ${EXPECTED_FROM} OUTPUT_VARIABLE EXPECTED_OUT ERROR_VARIABLE EXPECTED_ERR
                  RESULT_VARIABLE EXPECTED_STATUS)
  string(REPLACE "\r\n" "\n" EXPECTED_OUT "${EXPECTED_OUT}")
  string(REPLACE "\r\n" "\n" EXPECTED_ERR "${EXPECTED_ERR}")
endif()
foreach(file IN LISTS hidden)
  file(RENAME "${file}.hidden" "${file}")
endforeach()
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
