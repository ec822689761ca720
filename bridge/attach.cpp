// Attaching the bridge to a target window and detaching it again.
#include "bridge/bridge.h"
#include "bridge/readers.h"

namespace {

// Reader i of reader_threads reads selection entry kReaderSlots[i]: the first
// collection found goes to ReaderC, the second to ReaderB, the third to ReaderA.
constexpr ULONG kReaderSlots[kReaderCount] = {kReaderASlot, kReaderBSlot, kReaderCSlot};
constexpr LPTHREAD_START_ROUTINE kReaderRoutines[kReaderCount] = {ReaderA, ReaderB, ReaderC};

void CALLBACK WakeReader(ULONG_PTR) {}

// Wakes every reader of the current attach, waits until each has seen the
// stop flag, cancelled its read and ended, and closes their handles. Only
// then may the records they read be released.
void EndReaders() {
  HANDLE running[kReaderCount];
  DWORD running_count = 0;
  for (HANDLE thread : bridge_state.reader_threads) {
    if (thread != nullptr) {
      QueueUserAPC(WakeReader, thread, 0);
      running[running_count++] = thread;
    }
  }
  if (running_count != 0) WaitForMultipleObjects(running_count, running, TRUE, INFINITE);
  for (HANDLE& thread : bridge_state.reader_threads) {
    if (thread != nullptr) CloseHandle(thread);
    thread = nullptr;
  }
}

}  // namespace

int SelectButtonCollections(HWND target_window) {
  if (bridge_state.stopped.load() == 0) return 2;
  EnumerateHidDevices(bridge_state.devices, bridge_state.device_count);
  const ULONG matches =
      ScanButtonCollections(bridge_state.devices, bridge_state.device_count, bridge_state.selected);
  bridge_state.selected_count = matches;
  bridge_state.target_window.store(target_window);
  return matches != 0 ? 1 : 0;
}

// Starts the reader of every selection entry the current scan filled; a reader
// whose entry was not filled would read a record of someone else's choosing.
int StartReaders() {
  bridge_state.stopped.store(0);
  for (HANDLE& thread : bridge_state.reader_threads) thread = nullptr;
  for (int i = 0; i < kReaderCount; ++i) {
    if (kReaderSlots[i] >= bridge_state.selected_count) continue;
    bridge_state.reader_threads[i] = CreateThread(nullptr, 0, kReaderRoutines[i], nullptr, 0, nullptr);
    if (bridge_state.reader_threads[i] == nullptr) {
      MarkStopped();
      EndReaders();
      ReleaseDevices();
      return 0;
    }
  }
  return 1;
}

int MarkStopped() {
  bridge_state.stopped.store(1);
  return 1;
}

int ReleaseDevices() {
  ReleaseDeviceList(bridge_state.devices, bridge_state.device_count);
  // Forget the released list, so that nothing can reach or release it again.
  bridge_state.devices = nullptr;
  bridge_state.device_count = 0;
  return 1;
}

int AttachBridge(HWND target_window) {
  switch (SelectButtonCollections(target_window)) {
    case 0:
      MarkStopped();
      ReleaseDevices();
      return 0;
    case 1:
      return StartReaders();
    default:
      return 0;
  }
}

int DetachBridge() {
  if (bridge_state.stopped.load() != 0) return 0;
  MarkStopped();
  EndReaders();
  ReleaseDevices();
  return 1;
}

bool BridgeRunsShortOfReaders() {
  if (bridge_state.stopped.load() != 0) return false;
  if (bridge_state.selected_count < kReaderCount) return true;
  for (HANDLE thread : bridge_state.reader_threads) {
    if (thread != nullptr && WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) return true;
  }
  return false;
}
