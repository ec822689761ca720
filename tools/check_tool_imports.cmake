# Checks that a companion program is of the expected format and subsystem and
# imports only DLLs every Windows has, each of which it names: no MinGW runtime DLL.
#   -DOBJDUMP=<cross objdump> -DEXE=<program> -DPE_FORMAT=pei-i386|pei-x86-64
#   -DSUBSYSTEM=2 (GUI) | 3 (console) -DALLOWED=<dll;dll;...>
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -f -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${EXE}")
endif()

set(problems "")
if(NOT dump MATCHES "file format ${PE_FORMAT}")
  string(APPEND problems "\n  not of the format ${PE_FORMAT}")
endif()
if(NOT dump MATCHES "Subsystem[ \t]+0000000${SUBSYSTEM}")
  string(APPEND problems "\n  not of subsystem ${SUBSYSTEM}")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
set(imported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  list(APPEND imported ${dll})
  if(NOT dll IN_LIST ALLOWED)
    string(APPEND problems "\n  imports ${dll}, which is not one of: ${ALLOWED}")
  endif()
endforeach()
if(NOT imported)
  string(APPEND problems "\n  imports nothing: the dump was not read as expected")
endif()

if(problems)
  message(FATAL_ERROR "${EXE}:${problems}")
endif()
message(STATUS "${EXE}: ${PE_FORMAT}, subsystem ${SUBSYSTEM}, imports ${imported}")
