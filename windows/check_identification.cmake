# Checks that the identification string is in the program's data as a narrow
# string. The version resource holds it too, but in UTF-16, which this search
# does not match, so only the agent's own copy counts.
#   -DEXE=<program> -DIDENTIFICATION=<string>

if(NOT EXISTS ${EXE})
  message(FATAL_ERROR "${EXE} does not exist")
endif()
string(REPLACE "." "\\." pattern "${IDENTIFICATION}")
file(STRINGS ${EXE} found REGEX "${pattern}")
if(NOT found)
  message(FATAL_ERROR "${EXE} does not carry \"${IDENTIFICATION}\" in its data")
endif()
message(STATUS "${EXE} carries \"${IDENTIFICATION}\"")
