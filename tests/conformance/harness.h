// A tiny harness for the conformance cases, the same on both sides: each case
// runs in turn and prints its name with PASS, FAIL or SKIP (and the reason);
// a failed check prints where, what and what was seen. The program's exit code
// says whether every case that ran held.
#pragma once

#include <span>
#include <string>

struct ConformanceCase {
  const char* name;
  void (*run)();
};

// Records one check of the running case; returns `ok`, so that a case can stop
// when it cannot go on.
[[gnu::format(printf, 5, 6)]] bool CheckAt(bool ok, const char* file, int line, const char* condition,
                                           const char* format, ...);

// Ends the running case as skipped on this side, with the reason printed. The
// case returns right after; checks made before it still count.
[[gnu::format(printf, 1, 2)]] void SkipCase(const char* format, ...);

// Prints an observation under the running case: what this side does, and why
// the two sides may differ.
[[gnu::format(printf, 1, 2)]] void Note(const char* format, ...);

// Runs every case in order. After each, `left_held` names what the case left
// held (handles, threads, windows), or returns an empty text. Prints a summary
// and returns the program's exit code: 0 when no case failed.
int RunCases(const char* side, std::span<const ConformanceCase> cases, std::string (*left_held)());

#define CHECK(condition, ...) \
  CheckAt(static_cast<bool>(condition), __FILE__, __LINE__, #condition, __VA_ARGS__)
