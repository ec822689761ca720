// hid-probe.exe: lists the HID collections as the agent enumerates them and,
// with --watch, prints every report of the collections its readers would read
// until Ctrl+C.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/windows_api.h"
#include "tools/probe/probe_run.h"
#include "tools/probe/probe_watch.h"

namespace {

constexpr char kUsage[] = "usage: hid-probe [--watch]\n";

std::atomic<bool> stop_requested{false};

// The thread that watches, for the control handler's APC; guarded, because
// the handler runs on a thread of its own and may come at any moment.
CRITICAL_SECTION watch_thread_lock;
HANDLE watch_thread = nullptr;

// Ctrl+C and Ctrl+Break end the watch; closing the console, logging off and
// shutting down keep their default action, which ends the process at once and
// with it every read and handle.
BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stop_requested.store(true);
      EnterCriticalSection(&watch_thread_lock);
      if (watch_thread != nullptr) QueueUserAPC(probe::WakeWatch, watch_thread, 0);
      LeaveCriticalSection(&watch_thread_lock);
      return TRUE;
    default:
      return FALSE;
  }
}

int Watch() {
  InitializeCriticalSection(&watch_thread_lock);
  HANDLE this_thread = nullptr;
  // Without a handle to wake this thread with, Ctrl+C keeps its default
  // action, and the system closes the device handles as the process ends.
  const bool handled = DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                       &this_thread, 0, FALSE, DUPLICATE_SAME_ACCESS) != FALSE;
  if (handled) {
    watch_thread = this_thread;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  }
  const int status = probe::RunProbe(true, stop_requested, stdout);
  if (handled) {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    EnterCriticalSection(&watch_thread_lock);
    watch_thread = nullptr;
    LeaveCriticalSection(&watch_thread_lock);
    CloseHandle(this_thread);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) return probe::RunProbe(false, stop_requested, stdout);
  if (argc == 2 && std::strcmp(argv[1], "--watch") == 0) return Watch();
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "/?") == 0)) {
    std::fputs(kUsage, stdout);
    return probe::kExitFound;
  }
  const bool watch_first = std::strcmp(argv[1], "--watch") == 0;
  std::fprintf(stderr, "hid-probe: unexpected argument '%s'\n%s", argv[watch_first ? 2 : 1], kUsage);
  return probe::kExitBadArguments;
}
