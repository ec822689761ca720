// A read that the platform refuses once ends its reader. The agent runs
// unattended for days: with the fault gone, the next device arrival must give
// that collection a reader again, as it does for a collection that failed to
// open. The scenario of the same:
//
//   target open
//   device first page=0C
//   device second page=0C
//   device third page=0C
//   start
//   fail read 1
//   press third 01      # ReaderA takes the report; its next read is refused
//   notify arrival      # the fault is gone
//   press third 02      # 2
#include <gtest/gtest.h>

#include "support/bridge_fixture.h"
#include "support/reliability_checks.h"

namespace reliability {
namespace {

class ReadRefusalTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ResetBridgeState();
  }
};

TEST_F(ReadRefusalTest, ALaterArrivalGivesTheCollectionAReaderAgain) {
  HWND target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  sim::AddDevice(sim::ButtonCollection("first"));
  sim::AddDevice(sim::ButtonCollection("second"));
  const sim::DeviceId third = sim::AddDevice(sim::ButtonCollection("third"));  // ReaderA
  StartAgent(false);
  sim::WaitQuiet();
  EXPECT_EQ(sim::PendingReads(third), 1);

  sim::FailNth(sim::Fault::Read, 1);
  Press(third, 0x01);
  EXPECT_EQ(sim::PendingReads(third), 0) << "the refused read should have ended ReaderA";

  sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL);
  sim::WaitQuiet();
  EXPECT_EQ(sim::PendingReads(third), 1) << "no reader reads the collection after the arrival";
  Press(third, 0x02);
  EXPECT_EQ(ButtonCodesReceived(target), (std::vector<LPARAM>{2}));

  EXPECT_EQ(EndAgent(), 0);
  ExpectNothingHeld();
}

}  // namespace
}  // namespace reliability
