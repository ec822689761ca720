// The readers on the simulated Windows: what reaches the target window for
// the reports a collection sends.
#include "bridge/readers.h"

#include <gtest/gtest.h>

#include "support/bridge_fixture.h"

namespace {

class ReadersTest : public BridgeTest {
 protected:
  // Three collections: ReaderC reads c_, ReaderB reads b_, ReaderA reads a_.
  void AttachThree() {
    c_ = sim::AddDevice(ConsumerCollection("first"));
    b_ = sim::AddDevice(ConsumerCollection("second"));
    a_ = sim::AddDevice(ConsumerCollection("third"));
    ASSERT_EQ(AttachBridge(target_), 1);
    sim::WaitQuiet();
  }
  sim::DeviceId a_ = 0, b_ = 0, c_ = 0;
};

TEST_F(ReadersTest, ReportsPostTheirReadersCodes) {
  AttachThree();
  struct Row {
    sim::DeviceId* device;
    std::vector<std::uint8_t> report;
    std::vector<LPARAM> posted;
  };
  const Row rows[] = {
      {&a_, {0x00, 0x20, 0x00, 0x00}, {6}},  {&a_, {0x00, 0x40, 0x00, 0x00}, {}},
      {&a_, {0x00, 0x03, 0x00, 0x00}, {}},   {&c_, {0x00, 0x08, 0x00, 0x00}, {}},
      {&c_, {0x00, 0x04, 0x00, 0x00}, {18}}, {&b_, {0x00, 0x10, 0x00, 0x00}, {}},
      {&b_, {0x00, 0x08, 0x00, 0x00}, {14}}, {&a_, {0x05, 0x04, 0xFF, 0xFF}, {3}},  // only byte 1 counts
      {&c_, {0x07, 0x00, 0x12, 0x34}, {}},  // a release report posts nothing
  };
  size_t seen = 0;
  for (const Row& row : rows) {
    sim::SendReport(*row.device, row.report);
    sim::WaitQuiet();
    const std::vector<LPARAM> codes = ButtonCodesReceived(target_);
    EXPECT_EQ(std::vector<LPARAM>(codes.begin() + static_cast<long>(seen), codes.end()), row.posted)
        << "report byte 1 = 0x" << std::hex << int(row.report[1]);
    seen = codes.size();
  }
  for (const MSG& message : sim::ReceivedMessages(target_)) EXPECT_EQ(message.lParam & 0xFFFF, 0);
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(ReadersTest, EachReaderKeepsExactlyOneReadPending) {
  AttachThree();
  for (int i = 0; i < 5; ++i) {
    Press(a_, 0x01);
    for (sim::DeviceId device : {a_, b_, c_}) EXPECT_EQ(sim::PendingReads(device), 1);
  }
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

// Reports that come while the reader is busy wait in the driver's buffer and
// are each translated once, in order.
TEST_F(ReadersTest, ABurstOfReportsIsTranslatedOnceEachInOrder) {
  AttachThree();
  const std::uint8_t bytes[] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20};
  for (std::uint8_t byte : bytes) sim::SendReport(a_, {0x00, byte, 0x00, 0x00});
  sim::WaitQuiet();
  EXPECT_EQ(ButtonCodesReceived(target_), (std::vector<LPARAM>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(ReadersTest, ARefusedReadEndsOnlyThatReader) {
  AttachThree();
  sim::FailNth(sim::Fault::Read, 1);
  sim::SendReport(a_, {0x00, 0x01, 0x00, 0x00});  // ReaderA's next read is refused
  sim::WaitQuiet();
  EXPECT_EQ(RunningReaders(), 2);
  EXPECT_EQ(bridge_state.stopped.load(), 0);
  DWORD exit_code = 0;
  ASSERT_TRUE(GetExitCodeThread(bridge_state.reader_threads[0], &exit_code));
  EXPECT_EQ(exit_code, 1u);
  EXPECT_TRUE(ButtonCodesReceived(target_).empty())
      << "the byte taken before a refused read is not translated";
  Press(b_, 0x02);
  EXPECT_EQ(ButtonCodesReceived(target_), (std::vector<LPARAM>{9}));
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(ReadersTest, AnUnpluggedCollectionEndsItsReaderAndPostsNothing) {
  AttachThree();
  sim::RemoveDevice(c_);
  sim::WaitQuiet();
  EXPECT_EQ(RunningReaders(), 2);
  DWORD exit_code = 0;
  ASSERT_TRUE(GetExitCodeThread(bridge_state.reader_threads[2], &exit_code));
  EXPECT_EQ(exit_code, 1u);
  EXPECT_TRUE(ButtonCodesReceived(target_).empty());
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(ReadersTest, AFailedPostLosesThatCodeOnly) {
  AttachThree();
  sim::FailNth(sim::Fault::Post, 1);
  Press(a_, 0x01);
  Press(a_, 0x02);
  EXPECT_EQ(ButtonCodesReceived(target_), (std::vector<LPARAM>{2}));
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

// The target application restarted: its new window has a new handle, which
// the readers find again by the window's identity.
TEST_F(ReadersTest, ARestartedTargetReceivesTheNextPresses) {
  AttachThree();
  Press(a_, 0x01);
  sim::DestroyForeignWindow(target_);
  HWND restarted = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  Press(a_, 0x02);
  Press(c_, 0x01);
  EXPECT_EQ(ButtonCodesReceived(target_), (std::vector<LPARAM>{1}));
  EXPECT_EQ(ButtonCodesReceived(restarted), (std::vector<LPARAM>{2, 16}));
  EXPECT_EQ(bridge_state.target_window.load(), restarted);
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

TEST_F(ReadersTest, WithNoTargetWindowTheCodeIsLost) {
  AttachThree();
  sim::DestroyForeignWindow(target_);
  Press(a_, 0x01);
  HWND restarted = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  Press(a_, 0x02);
  EXPECT_EQ(ButtonCodesReceived(restarted), (std::vector<LPARAM>{2}));
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

// Setting the flag alone wakes no reader: each finds it at its next pass.
TEST_F(ReadersTest, StopFlagTakesEffectWhenThePendingReadEnds) {
  AttachThree();
  MarkStopped();
  sim::WaitQuiet();
  EXPECT_EQ(RunningReaders(), 3);
  sim::SendReport(a_, {0x00, 0x01, 0x00, 0x00});
  sim::WaitQuiet();
  EXPECT_EQ(RunningReaders(), 2);
  EXPECT_TRUE(ButtonCodesReceived(target_).empty()) << "the report of the last wait is not translated";
  // Let the remaining readers be ended the way detach does.
  bridge_state.stopped.store(0);
  EXPECT_EQ(DetachBridge(), 1);
  ExpectNothingHeld();
}

}  // namespace
