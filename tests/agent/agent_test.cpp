// The agent process on the simulated Windows: start-up, the single-instance
// guard, device changes and the end, each checked from outside as Windows
// would show them.
#include "agent/agent.h"

#include <gtest/gtest.h>

#include "support/bridge_fixture.h"

namespace {

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(0x400000);

class AgentTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ResetBridgeState();
  }

  void Start() {
    sim::StartProcess([] { return AgentMain(kInstance, nullptr, const_cast<LPSTR>(""), 10); });
    sim::WaitQuiet();
  }

  HWND AgentWindow() {
    const std::vector<HWND> windows = sim::ProcessWindows();
    return windows.empty() ? nullptr : windows.front();
  }

  // Ends the agent as the system would, and returns its exit code.
  int Destroy() {
    HWND window = AgentWindow();
    if (window != nullptr) sim::DestroyWindowFromSystem(window);
    return sim::JoinProcess();
  }

  HWND OpenTarget() { return sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle); }
  int Readers() const { return sim::Held().threads - 1; }  // less the agent's main thread
};

TEST_F(AgentTest, StartsWithOneHiddenWindowAndAttachesToTheTarget) {
  HWND target = OpenTarget();
  const sim::DeviceId buttons = sim::AddDevice(sim::ButtonCollection("buttons"));
  Start();
  ASSERT_EQ(sim::ProcessWindows().size(), 1u);
  HWND window = AgentWindow();
  EXPECT_EQ(FindWindowA("KalvorethClass", "KalvorethTMSG"), window);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(sim::DeviceNotificationRegistrations(), 1);
  EXPECT_EQ(Readers(), 1);
  EXPECT_FALSE(sim::ProcessExited(nullptr));

  Press(buttons, 0x02);
  EXPECT_EQ(ButtonCodesReceived(target), (std::vector<LPARAM>{17}));
  EXPECT_EQ(Destroy(), 0);
  EXPECT_EQ(sim::DeviceNotificationRegistrations(), 0);
  ExpectNothingHeld();
}

TEST_F(AgentTest, WithoutATargetTheBridgeWaitsForADeviceChange) {
  const sim::DeviceId buttons = sim::AddDevice(sim::ButtonCollection("buttons"));
  Start();
  EXPECT_EQ(Readers(), 0);
  EXPECT_EQ(sim::Calls("SetupDiGetClassDevsA"), 0);
  HWND target = OpenTarget();
  sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL);
  sim::WaitQuiet();
  EXPECT_EQ(Readers(), 1);
  Press(buttons, 0x01);
  EXPECT_EQ(ButtonCodesReceived(target), (std::vector<LPARAM>{16}));
  EXPECT_EQ(Destroy(), 0);
  ExpectNothingHeld();
}

TEST_F(AgentTest, ASecondAgentEndsAtOnceWithoutTouchingTheFirst) {
  HWND first_agent = sim::CreateForeignWindow("KalvorethClass", "KalvorethTMSG");
  HWND target = OpenTarget();
  sim::AddDevice(sim::ButtonCollection("buttons"));
  Start();
  int exit_code = -1;
  EXPECT_TRUE(sim::ProcessExited(&exit_code));
  EXPECT_EQ(exit_code, 0);
  EXPECT_EQ(sim::JoinProcess(), 0);
  EXPECT_EQ(sim::Calls("SetupDiGetClassDevsA"), 1) << "the second agent still attaches on creation";
  EXPECT_TRUE(sim::ReceivedMessages(first_agent).empty());
  EXPECT_TRUE(sim::ReceivedMessages(target).empty());
  EXPECT_TRUE(IsWindow(first_agent));
  ExpectNothingHeld();
}

TEST_F(AgentTest, AFailedClassRegistrationEndsWithZeroAndNoWindow) {
  sim::FailNth(sim::Fault::RegisterClass, 1);
  Start();
  EXPECT_EQ(sim::JoinProcess(), 0);
  EXPECT_EQ(sim::Calls("CreateWindowExA"), 0);
  ExpectNothingHeld();
}

// Without a window nothing could end the loop: the agent ends with 1.
TEST_F(AgentTest, AFailedWindowCreationEndsWithOne) {
  OpenTarget();
  sim::AddDevice(sim::ButtonCollection("buttons"));
  sim::FailNth(sim::Fault::CreateWindow, 1);
  Start();
  EXPECT_EQ(sim::JoinProcess(), 1);
  ExpectNothingHeld();
}

// An error from the queue ends the loop instead of spinning it.
TEST_F(AgentTest, AQueueErrorEndsTheLoopAndStopsTheReaders) {
  OpenTarget();
  sim::AddDevice(sim::ButtonCollection("buttons"));
  sim::FailNth(sim::Fault::GetMessage, 1);
  Start();
  EXPECT_EQ(sim::JoinProcess(), 1);
  EXPECT_EQ(sim::DeviceNotificationRegistrations(), 0);
  ExpectNothingHeld();
}

TEST_F(AgentTest, ArrivalWhileAttachedToThreeCollectionsChangesNothing) {
  OpenTarget();
  for (int i = 0; i < 3; ++i) sim::AddDevice(sim::ButtonCollection("buttons" + std::to_string(i)));
  Start();
  ASSERT_EQ(Readers(), 3);
  sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL);
  sim::WaitQuiet();
  EXPECT_EQ(sim::Calls("SetupDiGetClassDevsA"), 1);
  EXPECT_EQ(sim::Calls("CreateThread"), 3);
  EXPECT_EQ(Destroy(), 0);
  ExpectNothingHeld();
}

// A device announces its collections one by one; an arrival while the readers
// run short of collections selects again and picks up the newcomer.
TEST_F(AgentTest, ArrivalOfASiblingCollectionSelectsAgain) {
  HWND target = OpenTarget();
  sim::AddDevice(sim::ButtonCollection("first"));
  Start();
  ASSERT_EQ(Readers(), 1);
  const sim::DeviceId second = sim::AddDevice(sim::ButtonCollection("second"));
  sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL);
  sim::WaitQuiet();
  EXPECT_EQ(Readers(), 2);
  Press(second, 0x04);
  EXPECT_EQ(ButtonCodesReceived(target), (std::vector<LPARAM>{13}));
  EXPECT_EQ(Destroy(), 0);
  ExpectNothingHeld();
}

// A refused read ends its reader; the next arrival gives the collection a
// reader again, while the other readers' collections stay read throughout.
TEST_F(AgentTest, ArrivalAfterARefusedReadStartsTheReadersAgain) {
  HWND target = OpenTarget();
  for (int i = 0; i < 2; ++i) sim::AddDevice(sim::ButtonCollection("buttons" + std::to_string(i)));
  const sim::DeviceId third = sim::AddDevice(sim::ButtonCollection("third"));
  Start();
  sim::FailNth(sim::Fault::Read, 1);
  Press(third, 0x01);
  ASSERT_EQ(Readers(), 2);
  sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL);
  sim::WaitQuiet();
  EXPECT_EQ(Readers(), 3);
  EXPECT_EQ(sim::Calls("SetupDiGetClassDevsA"), 2);
  Press(third, 0x02);
  EXPECT_EQ(ButtonCodesReceived(target), (std::vector<LPARAM>{2}));
  EXPECT_EQ(Destroy(), 0);
  ExpectNothingHeld();
}

TEST_F(AgentTest, RemovalWhileTheTargetExistsSelectsAgain) {
  HWND target = OpenTarget();
  const sim::DeviceId first = sim::AddDevice(sim::ButtonCollection("first"));
  const sim::DeviceId second = sim::AddDevice(sim::ButtonCollection("second"));
  Start();
  ASSERT_EQ(Readers(), 2);
  sim::RemoveDevice(first);
  sim::AnnounceDeviceChange(DBT_DEVICEREMOVECOMPLETE);
  sim::WaitQuiet();
  EXPECT_EQ(sim::Calls("SetupDiGetClassDevsA"), 2);
  EXPECT_EQ(Readers(), 1);
  Press(second, 0x01);  // now the first collection found: ReaderC
  EXPECT_EQ(ButtonCodesReceived(target), (std::vector<LPARAM>{16}));
  EXPECT_EQ(Destroy(), 0);
  ExpectNothingHeld();
}

TEST_F(AgentTest, RemovalWithoutATargetKeepsTheBridgeAsItWas) {
  HWND target = OpenTarget();
  const sim::DeviceId buttons = sim::AddDevice(sim::ButtonCollection("buttons"));
  Start();
  ASSERT_EQ(Readers(), 1);
  sim::DestroyForeignWindow(target);
  sim::AnnounceDeviceChange(DBT_DEVICEREMOVECOMPLETE);
  sim::WaitQuiet();
  EXPECT_EQ(Readers(), 1);
  EXPECT_EQ(sim::Calls("SetupDiGetClassDevsA"), 1);
  EXPECT_EQ(sim::PendingReads(buttons), 1);
  EXPECT_EQ(Destroy(), 0);
  ExpectNothingHeld();
}

TEST_F(AgentTest, OtherDeviceEventsAreIgnored) {
  OpenTarget();
  sim::AddDevice(sim::ButtonCollection("buttons"));
  Start();
  sim::AnnounceDeviceChange(DBT_DEVNODES_CHANGED);
  sim::WaitQuiet();
  EXPECT_EQ(sim::Calls("SetupDiGetClassDevsA"), 1);
  EXPECT_EQ(sim::Calls("DefWindowProcA"), 0);
  EXPECT_EQ(Destroy(), 0);
  ExpectNothingHeld();
}

TEST_F(AgentTest, OtherMessagesGoToTheDefaultProcedureUnchanged) {
  sim::TraceCalls(true);
  const struct {
    UINT message;
    WPARAM w_param;
    LPARAM l_param;
    const char* traced;
  } rows[] = {
      {WM_NULL, 0, 0, "DefWindowProcA window=0x1000 message=0 wparam=0x0 lparam=0x0"},
      {0x1234, 0xDEADBEEF, -7,
       "DefWindowProcA window=0x1000 message=4660 wparam=0xDEADBEEF lparam=0xFFFFFFFFFFFFFFF9"},
      {WM_USER + 100, 1, 0x30000, "DefWindowProcA window=0x1000 message=1124 wparam=0x1 lparam=0x30000"},
  };
  HWND window = reinterpret_cast<HWND>(0x1000);
  for (const auto& row : rows) AgentWindowProc(window, row.message, row.w_param, row.l_param);
  std::vector<std::string> traced;
  for (const std::string& line : sim::CallTrace()) {
    if (line.rfind("DefWindowProcA", 0) == 0) traced.push_back(line);
  }
  ASSERT_EQ(traced.size(), 3u);
  for (size_t i = 0; i < traced.size(); ++i) EXPECT_EQ(traced[i], rows[i].traced);
}

TEST_F(AgentTest, RegistersItsClassAndCreatesAHiddenPopup) {
  sim::TraceCalls(true);
  Start();
  std::vector<std::string> expected = {
      "RegisterClassA class=KalvorethClass style=0x80",
      "CreateWindowExA ex_style=0x0 class=KalvorethClass title=KalvorethTMSG style=0x80000000 x=0 y=0 "
      "width=0 "
      "height=0 parent=0x0 menu=0x0",
  };
  std::vector<std::string> seen;
  for (const std::string& line : sim::CallTrace()) {
    if (line.rfind("RegisterClassA", 0) == 0 || line.rfind("CreateWindowExA", 0) == 0) seen.push_back(line);
  }
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(IsWindowVisible(AgentWindow()));
  EXPECT_EQ(Destroy(), 0);
  ExpectNothingHeld();
}

}  // namespace
