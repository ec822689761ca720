# Runs a program once and checks its exit status and both output streams: the
# stream named by STREAM must equal the EXPECTED file byte for byte and the
# other stream must be empty.
#
#   cmake -DPROGRAM=<program> [-DARGS=<arg;arg;...>] -DWORKDIR=<dir>
#         -DEXPECTED=<file> -DSTREAM=stdout|stderr -DSTATUS=<exit status> -P compare_output.cmake
#
# Without ARGS (or with it empty) the program runs with no argument.

foreach(var PROGRAM WORKDIR EXPECTED STREAM STATUS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "compare_output.cmake: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND "${PROGRAM}" ${ARGS}
  WORKING_DIRECTORY "${WORKDIR}"
  OUTPUT_VARIABLE actual_stdout
  ERROR_VARIABLE actual_stderr
  RESULT_VARIABLE actual_status)

file(READ "${EXPECTED}" expected)
if(STREAM STREQUAL "stdout")
  set(checked "${actual_stdout}")
  set(other "${actual_stderr}")
  set(other_name "stderr")
else()
  set(checked "${actual_stderr}")
  set(other "${actual_stdout}")
  set(other_name "stdout")
endif()

set(failures "")
if(NOT actual_status STREQUAL STATUS)
  string(APPEND failures "exit status ${actual_status}, expected ${STATUS}\n")
endif()
if(NOT checked STREQUAL expected)
  string(APPEND failures "${STREAM} differs from ${EXPECTED}\n"
    "---- expected ${STREAM}\n${expected}---- actual ${STREAM}\n${checked}----\n")
endif()
if(NOT other STREQUAL "")
  string(APPEND failures "unexpected output on ${other_name}:\n${other}----\n")
endif()
if(NOT failures STREQUAL "")
  string(JOIN " " shown "${PROGRAM}" ${ARGS})
  message(FATAL_ERROR "${shown} (in ${WORKDIR})\n${failures}")
endif()
