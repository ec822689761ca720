#include "child_process.h"

#include "agent_process.h"
#include "check.h"

namespace toolstest {
namespace {

// Short enough to notice a window or an end soon, long enough not to spin.
constexpr DWORD kPollMs = 50;

std::string Quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  for (char c : argument) {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

HANDLE CreateCaptureFile(std::string* path) {
  char folder[MAX_PATH];
  char name[MAX_PATH];
  if (GetTempPathA(sizeof folder, folder) == 0 || GetTempFileNameA(folder, "tst", 0, name) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  *path = name;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

std::string ReadWhole(const std::string& path) {
  std::string text;
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  std::string lf;
  for (char c : text) {
    if (c != '\r') lf += c;
  }
  return lf;
}

void CloseCaptureFiles(ChildProcess& child) {
  if (child.out_file != INVALID_HANDLE_VALUE) CloseHandle(child.out_file);
  if (child.err_file != INVALID_HANDLE_VALUE) CloseHandle(child.err_file);
  child.out_file = INVALID_HANDLE_VALUE;
  child.err_file = INVALID_HANDLE_VALUE;
}

}  // namespace

ChildProcess::~ChildProcess() {
  wintest::EndAndClose(info);
  CloseCaptureFiles(*this);
  if (!out_path.empty()) DeleteFileA(out_path.c_str());
  if (!err_path.empty()) DeleteFileA(err_path.c_str());
}

bool StartChild(const std::string& program, const std::vector<std::string>& arguments, bool capture,
                ChildProcess& child) {
  const std::string path = wintest::WindowsPath(program);
  std::string command = Quoted(path);
  for (const std::string& argument : arguments) command += " " + Quoted(argument);
  std::vector<char> command_line(command.begin(), command.end());
  command_line.push_back('\0');

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (capture) {
    child.out_file = CreateCaptureFile(&child.out_path);
    child.err_file = CreateCaptureFile(&child.err_path);
    if (!CHECK(child.out_file != INVALID_HANDLE_VALUE && child.err_file != INVALID_HANDLE_VALUE,
               "no temporary files to capture %s's output (error %lu)", path.c_str(), GetLastError())) {
      return false;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = child.out_file;
    startup.hStdError = child.err_file;
  }
  SetLastError(0xDEADBEEF);
  const BOOL started = CreateProcessA(path.c_str(), command_line.data(), nullptr, nullptr, capture, 0,
                                      nullptr, nullptr, &startup, &child.info);
  // The child holds its own copies now.
  CloseCaptureFiles(child);
  return CHECK(started, "could not start %s (error %lu)", command.c_str(), GetLastError());
}

bool WaitForChildExit(const ChildProcess& child, DWORD* exit_code) {
  return wintest::WaitForProcessExit(child.info.hProcess, "the program", exit_code);
}

bool RunToEnd(const std::string& program, const std::vector<std::string>& arguments, Finished* finished) {
  ChildProcess child;
  if (!StartChild(program, arguments, true, child)) return false;
  if (!WaitForChildExit(child, &finished->exit_code)) return false;
  finished->out = ReadWhole(child.out_path);
  finished->err = ReadWhole(child.err_path);
  return true;
}

HWND WaitForWindowOf(const ChildProcess& child, const char* class_name, const char* title) {
  const ULONGLONG started = GetTickCount64();
  for (;;) {
    for (HWND window : wintest::WindowsCalled(class_name, title)) {
      if (wintest::WindowProcessId(window) == child.info.dwProcessId) return window;
    }
    // Waiting on the process both paces the search and notices an early end.
    if (WaitForSingleObject(child.info.hProcess, kPollMs) == WAIT_OBJECT_0) {
      DWORD exit_code = 0;
      GetExitCodeProcess(child.info.hProcess, &exit_code);
      CHECK(false, "the program ended with exit code %lu before its window \"%s\" was found", exit_code,
            title);
      return nullptr;
    }
    if (GetTickCount64() - started >= wintest::kProcessWaitMs) {
      CHECK(false, "no window of class \"%s\" titled \"%s\" of process %lu within %lu ms", class_name, title,
            child.info.dwProcessId, wintest::kProcessWaitMs);
      return nullptr;
    }
  }
}

}  // namespace toolstest
