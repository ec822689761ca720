// A companion program run from a Windows test program: started with its
// arguments, optionally with its standard output and error captured, waited
// for within bounds, and ended when its record goes if it still runs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace toolstest {

struct ChildProcess {
  PROCESS_INFORMATION info = {};
  HANDLE out_file = INVALID_HANDLE_VALUE;
  HANDLE err_file = INVALID_HANDLE_VALUE;
  std::string out_path;
  std::string err_path;
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();
};

// Starts `program` (a Unix path is taken as Wine's Z: drive) with `arguments`;
// with `capture`, its standard output and error go to files of their own.
bool StartChild(const std::string& program, const std::vector<std::string>& arguments, bool capture,
                ChildProcess& child);

// What a program that ran to its end left behind.
struct Finished {
  DWORD exit_code = 0;
  std::string out;  // line ends as LF, whatever the program wrote
  std::string err;
};

// Runs `program` to its end, within bounds, capturing both streams.
bool RunToEnd(const std::string& program, const std::vector<std::string>& arguments, Finished* finished);

// Waits, within bounds, for the child to end and takes its exit code.
bool WaitForChildExit(const ChildProcess& child, DWORD* exit_code);

// The top-level window of that class and title that belongs to the process,
// waited for within bounds; null when none came.
HWND WaitForWindowOf(const ChildProcess& child, const char* class_name, const char* title);

}  // namespace toolstest
