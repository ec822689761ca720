# Cross build for Windows with Debian's MinGW-w64. The including file sets
# MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR first.

set(CMAKE_SYSTEM_NAME Windows)

# The win32 thread model needs no winpthread library; the generic name is the
# fallback when only one flavour is installed.
foreach(tool IN ITEMS gcc g++)
  find_program(MINGW_${tool} NAMES ${MINGW_TRIPLET}-${tool}-win32 ${MINGW_TRIPLET}-${tool} REQUIRED)
endforeach()
set(CMAKE_C_COMPILER ${MINGW_gcc})
set(CMAKE_CXX_COMPILER ${MINGW_g++})
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLET}-windres REQUIRED)
find_program(MINGW_OBJDUMP NAMES ${MINGW_TRIPLET}-objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs built here run under Wine when CTest runs them.
get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ABSOLUTE)
