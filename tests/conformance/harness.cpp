#include "harness.h"

#include <cstdarg>
#include <cstdio>

namespace {

struct Tally {
  int checks = 0;
  int failed_checks = 0;
  bool skipped = false;
};

Tally current;

std::string Format(const char* format, va_list arguments) {
  char text[1024];
  vsnprintf(text, sizeof text, format, arguments);
  return text;
}

}  // namespace

bool CheckAt(bool ok, const char* file, int line, const char* condition, const char* format, ...) {
  ++current.checks;
  if (ok) return true;
  ++current.failed_checks;
  va_list arguments;
  va_start(arguments, format);
  const std::string message = Format(format, arguments);
  va_end(arguments);
  printf("    failed %s:%d: %s\n      (%s)\n", file, line, message.c_str(), condition);
  fflush(stdout);
  return false;
}

void SkipCase(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::string reason = Format(format, arguments);
  va_end(arguments);
  current.skipped = true;
  printf("    skipped here: %s\n", reason.c_str());
  fflush(stdout);
}

void Note(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const std::string text = Format(format, arguments);
  va_end(arguments);
  printf("    note: %s\n", text.c_str());
  fflush(stdout);
}

int RunCases(const char* side, std::span<const ConformanceCase> cases, std::string (*left_held)()) {
  int passed = 0;
  int failed = 0;
  int skipped = 0;
  printf("conformance on %s: %d cases\n", side, static_cast<int>(cases.size()));
  for (const ConformanceCase& one : cases) {
    // Printed first, so that a case that never returns is named in the output.
    printf("RUN  %s\n", one.name);
    fflush(stdout);
    current = Tally();
    one.run();
    const std::string held = left_held();
    CHECK(held.empty(), "the case left held: %s", held.c_str());
    const char* verdict = "PASS";
    if (current.failed_checks > 0) {
      verdict = "FAIL";
      ++failed;
    } else if (current.skipped) {
      verdict = "SKIP";
      ++skipped;
    } else {
      ++passed;
    }
    printf("%s %s (%d checks)\n", verdict, one.name, current.checks);
    fflush(stdout);
  }
  printf("conformance on %s: %d passed, %d skipped, %d failed\n", side, passed, skipped, failed);
  fflush(stdout);
  return failed == 0 && passed > 0 ? 0 : 1;
}
