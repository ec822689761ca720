// Tests that drive the bridge on the simulated Windows from the test's own
// thread, which plays the agent's main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "support/bridge_state_reset.h"
#include "support/sim_fixture.h"
#include "support/test_devices.h"

inline sim::DeviceSpec ConsumerCollection(const std::string& name) {
  return sim::ButtonCollection(name);
}

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
