// The conformance cases, by kind of platform behaviour.
#pragma once

#include <span>

#include "harness.h"
#include "platform/windows_api.h"

std::span<const ConformanceCase> WindowCases();
std::span<const ConformanceCase> ThreadCases();
std::span<const ConformanceCase> ReadCases();

// Set as the last error before a call, so that a call that leaves the error
// alone is told apart from one that sets it.
constexpr DWORD kSentinelError = 0xDEADBEEF;

// A message the cases post to themselves to mark the end of what they expect.
constexpr UINT kMarkerMessage = WM_USER + 0x77;
