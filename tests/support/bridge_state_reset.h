// The bridge record at its start values, for tests and benchmarks that drive
// the bridge on the simulated Windows. Free of any test framework.
#pragma once

#include "bridge/bridge.h"

// Puts the process-wide bridge record back to its start values, so that a run
// does not depend on the ones before it in the same process.
inline void ResetBridgeState() {
  bridge_state.stopped.store(1);
  bridge_state.toggle_state = 1;
  bridge_state.devices = nullptr;
  bridge_state.device_count = 0;
  for (ULONG& entry : bridge_state.selected) entry = 0;
  bridge_state.target_window.store(nullptr);
  for (HANDLE& thread : bridge_state.reader_threads) thread = nullptr;
  bridge_state.selected_count = 0;
}
