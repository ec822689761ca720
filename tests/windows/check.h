// A tiny check and report helper for the Windows test programs. A failed check
// prints where, what and why, under the scenario or table row it belongs to;
// the program's exit code says whether every check held.
#pragma once

// Exit code that CTest counts as a skipped test.
constexpr int kSkipExitCode = 77;

// Names the scenario or table row that the following checks belong to.
[[gnu::format(printf, 1, 2)]] void SetCheckContext(const char* format, ...);

// Records one check; returns `ok` so that a caller can stop a scenario that
// cannot go on.
[[gnu::format(printf, 5, 6)]] bool CheckAt(bool ok, const char* file, int line, const char* condition,
                                           const char* format, ...);

// Prints the summary and returns the program's exit code: 0 when every check held.
int CheckReport(const char* program);

// Prints why the program cannot test anything here and returns kSkipExitCode.
[[gnu::format(printf, 2, 3)]] int SkipProgram(const char* program, const char* format, ...);

#define CHECK(condition, ...) \
  CheckAt(static_cast<bool>(condition), __FILE__, __LINE__, #condition, __VA_ARGS__)
