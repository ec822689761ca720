// Tests that drive the bridge on the simulated Windows from the test's own
// thread, which plays the agent's main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "support/sim_fixture.h"

// Puts the process-wide bridge record back to its start values, so that a test
// does not depend on the ones that ran before it in the same process.
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

inline sim::DeviceSpec Keyboard(const std::string& name) {
  sim::DeviceSpec spec;
  spec.name = name;
  spec.usage_page = 0x01;
  spec.usage = 0x06;
  spec.input_report_length = 4;
  return spec;
}

inline sim::DeviceSpec ConsumerCollection(const std::string& name) { return sim::ButtonCollection(name); }

// The lParams of the button messages a window received, in order.
inline std::vector<LPARAM> ButtonCodesReceived(HWND window) {
  std::vector<LPARAM> codes;
  for (const MSG& message : sim::ReceivedMessages(window)) {
    EXPECT_EQ(message.message, 1124u);
    EXPECT_EQ(message.wParam, 1u);
    codes.push_back(message.lParam >> 16);
  }
  return codes;
}

// Sends one report with this button byte, then the release report, and waits
// until the reader has handled both.
inline void Press(sim::DeviceId device, std::uint8_t button_byte) {
  sim::SendReport(device, {0x00, button_byte, 0x00, 0x00});
  sim::WaitQuiet();
  sim::SendReport(device, {0x00, 0x00, 0x00, 0x00});
  sim::WaitQuiet();
}

class BridgeTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ResetBridgeState();
    target_ = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  }

  int RunningReaders() const { return sim::Held().threads; }

  HWND target_ = nullptr;
};
