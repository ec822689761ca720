#include "agent_process.h"

#include <cstring>
#include <vector>

#include "check.h"

namespace wintest {

void EndAndClose(PROCESS_INFORMATION& info) {
  if (info.hProcess != nullptr) {
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(info.hProcess, 99);
      WaitForSingleObject(info.hProcess, kProcessWaitMs);
    }
    CloseHandle(info.hProcess);
  }
  if (info.hThread != nullptr) CloseHandle(info.hThread);
  info = {};
}

AgentProcess::~AgentProcess() {
  EndAndClose(info);
}

std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows_path = "Z:" + path;
  for (char& c : windows_path) {
    if (c == '/') c = '\\';
  }
  return windows_path;
}

bool StartAgent(const std::string& program, AgentProcess& agent) {
  std::string path = WindowsPath(program);
  std::vector<char> command_line(path.begin(), path.end());
  command_line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  SetLastError(0xDEADBEEF);
  BOOL started = CreateProcessA(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &agent.info);
  return CHECK(started, "could not start %s (error %lu)", path.c_str(), GetLastError());
}

bool IsRunning(const AgentProcess& agent) {
  return WaitForSingleObject(agent.info.hProcess, 0) == WAIT_TIMEOUT;
}

bool WaitForAgentWindow(const AgentProcess& agent, HWND* window) {
  // Short enough to notice the window soon, long enough not to spin.
  constexpr DWORD kPollMs = 50;
  const ULONGLONG started = GetTickCount64();
  for (;;) {
    // Returns once the agent waits for messages, or at once while the new
    // process has not yet set up what it signals idleness with.
    WaitForInputIdle(agent.info.hProcess, kPollMs);
    HWND found = FindAgentWindow();
    if (found != nullptr && WindowProcessId(found) == agent.info.dwProcessId) {
      *window = found;
      return true;
    }
    if (WaitForSingleObject(agent.info.hProcess, kPollMs) == WAIT_OBJECT_0) {
      DWORD exit_code = 0;
      GetExitCodeProcess(agent.info.hProcess, &exit_code);
      return CHECK(false, "the agent ended with exit code %lu before its window was found", exit_code);
    }
    if (GetTickCount64() - started >= kProcessWaitMs) {
      return CHECK(false, "no window of class \"%s\" titled \"%s\" of process %lu within %lu ms%s",
                   kAgentClass, kAgentTitle, agent.info.dwProcessId, kProcessWaitMs,
                   found != nullptr ? " (there is one of another process)" : "");
    }
  }
}

bool WaitForProcessExit(HANDLE process, const char* who, DWORD* exit_code) {
  DWORD waited = WaitForSingleObject(process, kProcessWaitMs);
  if (!CHECK(waited == WAIT_OBJECT_0, "%s did not end within %lu ms (wait result %lu)", who, kProcessWaitMs,
             waited)) {
    return false;
  }
  return CHECK(GetExitCodeProcess(process, exit_code), "no exit code (error %lu)", GetLastError());
}

bool WaitForExit(const AgentProcess& agent, DWORD* exit_code) {
  return WaitForProcessExit(agent.info.hProcess, "the agent", exit_code);
}

HWND FindAgentWindow() {
  return FindWindowA(kAgentClass, kAgentTitle);
}

namespace {

struct WindowSearch {
  const char* class_name;
  const char* title;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectMatchingWindow(HWND window, LPARAM search_address) {
  auto* search = reinterpret_cast<WindowSearch*>(search_address);
  char class_name[256] = {};
  char title[256] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  GetWindowTextA(window, title, sizeof title);
  if (strcmp(class_name, search->class_name) == 0 && strcmp(title, search->title) == 0) {
    search->found.push_back(window);
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> WindowsCalled(const char* class_name, const char* title) {
  WindowSearch search = {class_name, title, {}};
  EnumWindows(CollectMatchingWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int CountWindows(const char* class_name, const char* title) {
  return static_cast<int>(WindowsCalled(class_name, title).size());
}

DWORD WindowProcessId(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  return process_id;
}

bool SendWithin(HWND window, UINT message, WPARAM w_param, LPARAM l_param, LRESULT* result) {
  DWORD_PTR answer = 0;
  SetLastError(0xDEADBEEF);
  LRESULT sent = SendMessageTimeoutA(window, message, w_param, l_param, SMTO_NORMAL, kProcessWaitMs, &answer);
  if (!CHECK(sent != 0, "message 0x%04X was not handled within %lu ms (error %lu)", message, kProcessWaitMs,
             GetLastError())) {
    return false;
  }
  if (result != nullptr) *result = static_cast<LRESULT>(answer);
  return true;
}

bool CheckNoAgentRunning() {
  return CHECK(FindAgentWindow() == nullptr,
               "an agent window is there before the scenario started: an earlier agent is still running");
}

bool StartAgentAndFindWindow(const std::string& program, AgentProcess& agent, HWND* window) {
  if (!StartAgent(program, agent) || !WaitForAgentWindow(agent, window)) return false;
  // A sent message comes back handled only once the agent's loop runs, so
  // creation and hiding are over by then.
  if (!SendWithin(*window, WM_NULL, 0, 0, nullptr)) return false;
  CHECK(CountWindows(kAgentClass, kAgentTitle) == 1, "%d agent windows, expected one",
        CountWindows(kAgentClass, kAgentTitle));
  CHECK(!IsWindowVisible(*window), "the agent's window is visible");
  LONG style = GetWindowLongA(*window, GWL_STYLE);
  CHECK((style & WS_POPUP) != 0 && (style & (WS_VISIBLE | WS_CHILD | WS_CAPTION)) == 0,
        "window style 0x%08lX is not a hidden pop-up", static_cast<unsigned long>(style));
  CHECK(GetParent(*window) == nullptr, "the agent's window has a parent or owner");
  return CHECK(IsRunning(agent), "the agent ended after creating its window");
}

bool EndAgentWith(AgentProcess& agent, HWND window, UINT message) {
  SetLastError(0xDEADBEEF);
  if (!CHECK(PostMessageA(window, message, 0, 0), "could not post 0x%04X to the agent (error %lu)", message,
             GetLastError())) {
    return false;
  }
  DWORD exit_code = 0;
  if (!WaitForExit(agent, &exit_code)) return false;
  CHECK(exit_code == 0, "the agent ended with exit code %lu, expected 0", exit_code);
  CHECK(FindAgentWindow() == nullptr, "the agent window is still there after the agent ended");
  return CHECK(!IsWindow(window), "the agent's window handle is still valid after the agent ended");
}

}  // namespace wintest
