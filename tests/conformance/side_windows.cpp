// The Windows side: the real Windows API. No HID device can be had here, so
// reads are on a named pipe: its client end is opened for overlapped reading
// as the agent opens a HID collection, and writing to its server end plays a
// report arriving.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "side.h"

namespace {

// Where the handle count can be read (Wine's answer is always 0), a case that
// ends with more handles than it began with has left some open.
bool handle_counts_known = false;
DWORD handles_after_last_case = 0;
int pipes_made = 0;

// The windows this program makes have these class names; Windows may give a
// thread windows of its own (an input method window, say), which are not counted.
bool IsOurs(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return std::strncmp(name, "Kalvoreth", 9) == 0 || std::strncmp(name, "Conformance", 11) == 0;
}

BOOL CALLBACK CountOurWindow(HWND window, LPARAM count) {
  if (IsOurs(window)) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

std::string WineVersion() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  FARPROC found = ntdll == nullptr ? nullptr : GetProcAddress(ntdll, "wine_get_version");
  if (found == nullptr) return "";
  using GetVersionText = const char*(__cdecl*)();
  return reinterpret_cast<GetVersionText>(reinterpret_cast<void*>(found))();
}

}  // namespace

const char* SideName() {
  static const std::string name = [] {
    const std::string wine = WineVersion();
    return wine.empty() ? std::string("the Windows API") : "the Windows API under Wine " + wine;
  }();
  return name.c_str();
}

void PrepareSide() {
  handle_counts_known =
      GetProcessHandleCount(GetCurrentProcess(), &handles_after_last_case) && handles_after_last_case != 0;
  if (!handle_counts_known) {
    printf(
        "note: this side cannot count the process's handles, so handles left open are not seen here; "
        "the host side counts them for the same cases\n");
  }
}

std::string LeftHeld() {
  std::string text;
  DWORD handles = 0;
  if (handle_counts_known && GetProcessHandleCount(GetCurrentProcess(), &handles)) {
    if (handles > handles_after_last_case) {
      text += std::to_string(handles - handles_after_last_case) + " more handle(s) than before; ";
    }
    handles_after_last_case = handles;
  }
  int windows = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountOurWindow, reinterpret_cast<LPARAM>(&windows));
  if (windows != 0) text += std::to_string(windows) + " window(s); ";
  MSG msg;
  std::vector<UINT> left;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) left.push_back(msg.message);
  for (UINT message : left) text += "message " + std::to_string(message) + " queued; ";
  return text;
}

const char* ReportSourceKind() {
  return "a named pipe";
}

bool ReportSourceIsHid() {
  return false;
}

bool OpenReportSource(ReportSource* source) {
  char name[96];
  std::snprintf(name, sizeof name, "\\\\.\\pipe\\conformance-%lu-%d",
                static_cast<unsigned long>(GetCurrentProcessId()), ++pipes_made);
  source->writer = CreateNamedPipeA(
      name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
  if (source->writer == INVALID_HANDLE_VALUE) {
    source->writer = nullptr;
    return false;
  }
  source->reader = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (source->reader == INVALID_HANDLE_VALUE) {
    source->reader = nullptr;
    CloseReportSource(source);
    return false;
  }
  // The client end is open, so the pipe is connected already.
  if (!ConnectNamedPipe(source->writer, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
    CloseReportSource(source);
    return false;
  }
  return true;
}

bool ArriveReport(ReportSource* source, const BYTE (&report)[4]) {
  DWORD written = 0;
  return WriteFile(source->writer, report, sizeof report, &written, nullptr) && written == sizeof report;
}

void EndFarSide(ReportSource* source) {
  CloseHandle(source->writer);
  source->writer = nullptr;
}

void CloseReportSource(ReportSource* source) {
  if (source->reader != nullptr) CloseHandle(source->reader);
  if (source->writer != nullptr) CloseHandle(source->writer);
  source->reader = nullptr;
  source->writer = nullptr;
}

DWORD FarSideGoneError() {
  return ERROR_BROKEN_PIPE;
}

const char* FarSideGoneWhy() {
  return "the pipe's writing end was closed, which breaks the pipe";
}

DWORD ReaderClosedError() {
  return ERROR_BROKEN_PIPE;
}

const char* ReaderClosedWhy() {
  return "closing a pipe's reading end breaks the pipe, and the reads pending on that end end as they do "
         "when the writing end is closed";
}
