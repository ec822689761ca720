// The Windows operations the agent is built against. On Windows these are the
// platform's own headers; on the host they come from the simulated Windows,
// which supplies the same names, types and constants.
#pragma once

#ifdef _WIN32
// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
// clang-format on
#else
#include "sim/win_api.h"
#endif
