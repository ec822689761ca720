// The reader threads: each keeps one asynchronous read pending on its
// collection, sleeps alertably until a report or a wake-up arrives, and posts
// the code of each report's button byte to the target window.
#include "bridge/readers.h"

#include <cstring>

#include "bridge/bridge.h"

namespace {

constexpr DWORD kReportLength = 4;

ButtonCode Translate(ULONG slot, BYTE button_byte) {
  switch (slot) {
    case kReaderASlot:
      return TranslateReaderA(button_byte);
    case kReaderBSlot:
      return TranslateReaderB(button_byte, &bridge_state.toggle_state);
    default:
      return TranslateReaderC(button_byte);
  }
}

// Posts the button message. When the target application has been restarted
// its old window is gone: look the window up again by its identity and post
// there once; with no target window the code is lost.
void PostButtonEvent(ButtonCode code) {
  const LPARAM l_param = static_cast<LPARAM>(code) << 16;
  HWND target = bridge_state.target_window.load();
  if (PostMessageA(target, kButtonEventMessage, kButtonEventWParam, l_param)) return;
  if (GetLastError() != ERROR_INVALID_WINDOW_HANDLE) return;
  HWND current = FindWindowA(kTargetClassName, kTargetWindowTitle);
  if (current == nullptr) return;
  bridge_state.target_window.store(current);
  PostMessageA(current, kButtonEventMessage, kButtonEventWParam, l_param);
}

[[noreturn]] void RunReader(ULONG slot) {
  HidDeviceRecord* record = bridge_state.devices + bridge_state.selected[slot];
  alignas(DWORD) BYTE report[kReportLength] = {};
  OVERLAPPED overlapped;
  bool read_started = false;
  while (bridge_state.stopped.load() == 0) {
    std::memset(&overlapped, 0, sizeof overlapped);
    overlapped.Offset = 0;
    overlapped.OffsetHigh = 0;
    // Keep only the button byte of the report the last read delivered, so a
    // read that ends without a report leads to a pass that posts nothing.
    const BYTE button_byte = report[1];
    std::memset(report, 0, sizeof report);
    report[0] = button_byte;
    if (!ReadFileEx(record->handle, report, kReportLength, &overlapped, IgnoreCompletion)) ExitThread(1);
    read_started = true;
    const ButtonCode code = Translate(slot, button_byte);
    if (code != 0) PostButtonEvent(code);
    // The buffer belongs to the read until it has completed.
    do {
      SleepEx(INFINITE, TRUE);
    } while (!HasOverlappedIoCompleted(&overlapped) && bridge_state.stopped.load() == 0);
  }
  // Stopping: the read still pending must end before its buffer and control
  // record go away with this thread, and before the bridge closes the handle.
  if (read_started && !HasOverlappedIoCompleted(&overlapped)) {
    CancelIo(record->handle);
    while (!HasOverlappedIoCompleted(&overlapped)) SleepEx(INFINITE, TRUE);
  }
  ExitThread(0);
}

}  // namespace

DWORD WINAPI ReaderA(LPVOID) {
  RunReader(kReaderASlot);
}
DWORD WINAPI ReaderB(LPVOID) {
  RunReader(kReaderBSlot);
}
DWORD WINAPI ReaderC(LPVOID) {
  RunReader(kReaderCSlot);
}

void CALLBACK IgnoreCompletion(DWORD, DWORD, LPOVERLAPPED) {}
