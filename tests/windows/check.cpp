#include "check.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

int checks_run = 0;
int checks_failed = 0;
// Fixed storage: a program that counts its heap blocks sees no change from here.
char context[512] = "";

std::string Format(const char* format, va_list arguments) {
  char text[1024];
  vsnprintf(text, sizeof text, format, arguments);
  return text;
}

}  // namespace

void SetCheckContext(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(context, sizeof context, format, arguments);
  va_end(arguments);
  printf("-- %s\n", context);
  fflush(stdout);
}

bool CheckAt(bool ok, const char* file, int line, const char* condition, const char* format, ...) {
  ++checks_run;
  if (ok) return true;
  ++checks_failed;
  va_list arguments;
  va_start(arguments, format);
  std::string message = Format(format, arguments);
  va_end(arguments);
  fprintf(stderr, "FAIL %s:%d [%s] %s\n     (%s)\n", file, line, context, message.c_str(), condition);
  fflush(stderr);
  return false;
}

int CheckReport(const char* program) {
  printf("%s: %d checks, %d failed\n", program, checks_run, checks_failed);
  fflush(stdout);
  return checks_failed == 0 && checks_run > 0 ? 0 : 1;
}

int SkipProgram(const char* program, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string reason = Format(format, arguments);
  va_end(arguments);
  printf("%s: SKIPPED: %s\n", program, reason.c_str());
  fflush(stdout);
  return kSkipExitCode;
}
