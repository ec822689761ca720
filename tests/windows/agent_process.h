// The agent program seen from outside, as a Windows session runs it: started
// as a process of its own, found by its window, told to end by a message, and
// waited for within bounds. Every failed step is reported through CHECK.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wintest {

// Every wait for another process ends after this long and fails its check.
constexpr DWORD kProcessWaitMs = 30000;

constexpr char kAgentClass[] = "KalvorethClass";
constexpr char kAgentTitle[] = "KalvorethTMSG";

// A started agent. Whatever a failed scenario leaves running is ended when the
// record goes, so no agent outlives its test program.
struct AgentProcess {
  PROCESS_INFORMATION info = {};
  AgentProcess() = default;
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;
  ~AgentProcess();
};

// Under Wine a program may be named by its Unix path; Windows calls need the
// Z: drive's name for it.
std::string WindowsPath(const std::string& path);

// Ends a started process that still runs and closes its handles: what a
// process record does when it goes.
void EndAndClose(PROCESS_INFORMATION& info);
// Waits, within bounds, for the process to end and takes its exit code; `who`
// names it in a failed check.
bool WaitForProcessExit(HANDLE process, const char* who, DWORD* exit_code);

bool StartAgent(const std::string& program, AgentProcess& agent);
bool IsRunning(const AgentProcess& agent);
// Waits, within bounds, until the agent's own window exists.
bool WaitForAgentWindow(const AgentProcess& agent, HWND* window);
bool WaitForExit(const AgentProcess& agent, DWORD* exit_code);

HWND FindAgentWindow();
// The top-level windows of that class and title, in enumeration order.
std::vector<HWND> WindowsCalled(const char* class_name, const char* title);
int CountWindows(const char* class_name, const char* title);
DWORD WindowProcessId(HWND window);

// Sends a message and waits, within bounds, for the window's thread to handle
// it: everything posted to that window earlier has been handled by then.
bool SendWithin(HWND window, UINT message, WPARAM w_param, LPARAM l_param, LRESULT* result);

// Checks that no agent window is there yet: a leftover agent would change what every scenario sees.
bool CheckNoAgentRunning();
// Starts the agent, waits until its loop runs and checks that it made one
// hidden pop-up window of its own and keeps running.
bool StartAgentAndFindWindow(const std::string& program, AgentProcess& agent, HWND* window);
// Posts `message` (WM_CLOSE or WM_DESTROY) to the agent's window and checks that
// the agent ends with exit code 0 and its window is gone.
bool EndAgentWith(AgentProcess& agent, HWND window, UINT message);

}  // namespace wintest
