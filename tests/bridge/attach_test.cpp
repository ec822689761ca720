// Attach and detach on the simulated Windows, driven from the test's thread.
#include <gtest/gtest.h>

#include "bridge/readers.h"
#include "support/bridge_fixture.h"

namespace {

using AttachTest = BridgeTest;

TEST_F(AttachTest, ThreeCollectionsGoToReaderCThenBThenA) {
  const sim::DeviceId first = sim::AddDevice(ConsumerCollection("first"));
  sim::AddDevice(Keyboard("keyboard"));
  const sim::DeviceId second = sim::AddDevice(ConsumerCollection("second"));
  const sim::DeviceId third = sim::AddDevice(ConsumerCollection("third"));

  EXPECT_EQ(AttachBridge(target_), 1);
  sim::WaitQuiet();
  EXPECT_EQ(bridge_state.stopped.load(), 0);
  EXPECT_EQ(bridge_state.device_count, 4u);
  EXPECT_EQ(bridge_state.selected[0], 0u);
  EXPECT_EQ(bridge_state.selected[1], 2u);
  EXPECT_EQ(bridge_state.selected[2], 3u);
  EXPECT_EQ(bridge_state.target_window.load(), target_);
  EXPECT_EQ(RunningReaders(), 3);

  Press(first, 0x01);   // ReaderC
  Press(second, 0x01);  // ReaderB
  Press(third, 0x01);   // ReaderA
  EXPECT_EQ(ButtonCodesReceived(target_), (std::vector<LPARAM>{16, 10, 1}));

  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(AttachTest, SevenCollectionsRecordOnlyTheFirstFive) {
  for (int i = 0; i < 7; ++i) {
    sim::AddDevice(Keyboard("keyboard" + std::to_string(i)));
    sim::AddDevice(ConsumerCollection("buttons" + std::to_string(i)));
  }
  EXPECT_EQ(AttachBridge(target_), 1);
  EXPECT_EQ((std::vector<ULONG>(bridge_state.selected, bridge_state.selected + 5)),
            (std::vector<ULONG>{1, 3, 5, 7, 9}));
  EXPECT_EQ(RunningReaders(), 3);
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(AttachTest, NoConsumerCollectionLeavesTheBridgeStoppedWithNoList) {
  sim::AddDevice(Keyboard("keyboard"));
  EXPECT_EQ(AttachBridge(target_), 0);
  EXPECT_NE(bridge_state.stopped.load(), 0);
  EXPECT_EQ(bridge_state.devices, nullptr);
  EXPECT_EQ(bridge_state.target_window.load(), target_);
  EXPECT_EQ(DetachBridge(), 0);
  ExpectNothingHeld();
}

TEST_F(AttachTest, AttachWhileRunningChangesNothing) {
  sim::AddDevice(ConsumerCollection("buttons"));
  ASSERT_EQ(AttachBridge(target_), 1);
  sim::WaitQuiet();
  HidDeviceRecord* devices = bridge_state.devices;
  const HANDLE readers[3] = {bridge_state.reader_threads[0], bridge_state.reader_threads[1],
                             bridge_state.reader_threads[2]};
  const int enumerations = sim::Calls("SetupDiGetClassDevsA");
  HWND other_target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);

  EXPECT_EQ(AttachBridge(other_target), 0);
  EXPECT_EQ(bridge_state.devices, devices);
  EXPECT_EQ(bridge_state.target_window.load(), target_);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bridge_state.reader_threads[i], readers[i]);
  EXPECT_EQ(sim::Calls("SetupDiGetClassDevsA"), enumerations);

  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(AttachTest, DetachWhileStoppedReleasesNothing) {
  const int closes = sim::Calls("CloseHandle");
  EXPECT_EQ(DetachBridge(), 0);
  EXPECT_EQ(sim::Calls("CloseHandle"), closes);
  ExpectNothingHeld();
}

// Detach must not free what readers still use: when it returns, every reader
// of that attach has ended and every record, handle and thread is released.
TEST_F(AttachTest, DetachReturnsOnlyAfterItsReadersHaveEnded) {
  for (int i = 0; i < 3; ++i) sim::AddDevice(ConsumerCollection("buttons" + std::to_string(i)));
  ASSERT_EQ(AttachBridge(target_), 1);
  sim::WaitQuiet();
  ASSERT_EQ(RunningReaders(), 3);

  EXPECT_EQ(DetachBridge(), 1);
  // No WaitQuiet here: the detach itself must have waited.
  const sim::Resources held = sim::Held();
  EXPECT_EQ(held.threads, 0);
  EXPECT_EQ(held.device_handles, 0);
  EXPECT_EQ(held.thread_handles, 0);
  EXPECT_EQ(held.blocks, 0);
  EXPECT_EQ(bridge_state.devices, nullptr);
  for (HANDLE thread : bridge_state.reader_threads) EXPECT_EQ(thread, nullptr);
  ExpectNothingHeld();
}

// A removal detaches and attaches at once; no reader of the old attach may
// survive to read a record of the new list.
TEST_F(AttachTest, DetachThenAttachAtOnceLeavesOnlyTheNewReaders) {
  const sim::DeviceId buttons = sim::AddDevice(ConsumerCollection("buttons"));
  ASSERT_EQ(AttachBridge(target_), 1);
  sim::WaitQuiet();
  for (int cycle = 0; cycle < 20; ++cycle) {
    EXPECT_EQ(DetachBridge(), 1);
    EXPECT_EQ(AttachBridge(target_), 1);
    EXPECT_EQ(sim::Held().threads, 1);
  }
  sim::WaitQuiet();
  EXPECT_EQ(sim::PendingReads(buttons), 1);
  Press(buttons, 0x04);
  EXPECT_EQ(ButtonCodesReceived(target_), (std::vector<LPARAM>{18}));
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

// A reader whose selection entry the current scan did not fill is not started:
// it would read another device's collection, or share one with another reader.
TEST_F(AttachTest, OnlyReadersWithAFilledSlotRun) {
  // An earlier attach fills all three entries ...
  std::vector<sim::DeviceId> buttons;
  for (int i = 0; i < 3; ++i)
    buttons.push_back(sim::AddDevice(ConsumerCollection("buttons" + std::to_string(i))));
  ASSERT_EQ(AttachBridge(target_), 1);
  ASSERT_EQ(DetachBridge(), 1);
  // ... then the device leaves and a keyboard and one collection remain.
  for (sim::DeviceId id : buttons) sim::RemoveDevice(id);
  const sim::DeviceId keyboard = sim::AddDevice(Keyboard("keyboard"));
  const sim::DeviceId single = sim::AddDevice(ConsumerCollection("single"));

  ASSERT_EQ(AttachBridge(target_), 1);
  sim::WaitQuiet();
  EXPECT_EQ(bridge_state.selected[0], 1u);
  EXPECT_EQ(bridge_state.selected[1], 1u) << "entries the scan did not fill keep their values";
  EXPECT_EQ(bridge_state.selected[2], 2u);
  EXPECT_EQ(RunningReaders(), 1);
  EXPECT_NE(bridge_state.reader_threads[2], nullptr);  // ReaderC
  EXPECT_EQ(bridge_state.reader_threads[0], nullptr);
  EXPECT_EQ(bridge_state.reader_threads[1], nullptr);
  EXPECT_EQ(sim::PendingReads(keyboard), 0);
  EXPECT_EQ(sim::PendingReads(single), 1);

  Press(keyboard, 0x01);
  Press(single, 0x01);
  EXPECT_EQ(ButtonCodesReceived(target_), (std::vector<LPARAM>{16}));
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

// A reader that cannot be created leaves the bridge stopped and clean, and the
// attach reports the failure.
TEST_F(AttachTest, FailedReaderStartStopsTheOthersAndReleasesTheList) {
  for (int i = 0; i < 3; ++i) sim::AddDevice(ConsumerCollection("buttons" + std::to_string(i)));
  for (int failing = 1; failing <= 3; ++failing) {
    SCOPED_TRACE("thread creation " + std::to_string(failing) + " fails");
    sim::FailNth(sim::Fault::Thread, failing);
    EXPECT_EQ(AttachBridge(target_), 0);
    EXPECT_NE(bridge_state.stopped.load(), 0);
    EXPECT_EQ(bridge_state.devices, nullptr);
    EXPECT_EQ(bridge_state.device_count, 0u);
    EXPECT_EQ(sim::Held().threads, 0);
    ExpectNothingHeld();
    // With the fault gone the next attach runs fully.
    EXPECT_EQ(AttachBridge(target_), 1);
    sim::WaitQuiet();
    EXPECT_EQ(RunningReaders(), 3);
    EXPECT_EQ(DetachBridge(), 1);
  }
  ExpectNothingHeld();
}

TEST_F(AttachTest, ToggleKeepsItsValueAcrossDetachAndAttach) {
  const sim::DeviceId first = sim::AddDevice(ConsumerCollection("first"));
  const sim::DeviceId second = sim::AddDevice(ConsumerCollection("second"));
  ASSERT_EQ(AttachBridge(target_), 1);
  Press(second, 0x01);
  Press(second, 0x01);
  ASSERT_EQ(DetachBridge(), 1);
  EXPECT_EQ(bridge_state.toggle_state, 1);
  ASSERT_EQ(AttachBridge(target_), 1);
  Press(second, 0x01);
  Press(second, 0x01);
  Press(first, 0x01);
  EXPECT_EQ(ButtonCodesReceived(target_), (std::vector<LPARAM>{10, 7, 10, 7, 16}));
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(AttachTest, EnumerationFailureLeavesTheBridgeStopped) {
  sim::AddDevice(ConsumerCollection("buttons"));
  sim::SetClassDevsFails(true);
  EXPECT_EQ(AttachBridge(target_), 0);
  EXPECT_NE(bridge_state.stopped.load(), 0);
  ExpectNothingHeld();
  sim::SetClassDevsFails(false);
  EXPECT_EQ(AttachBridge(target_), 1);
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

}  // namespace
