// Windows, classes and message queues of the simulated Windows.
#include <cstring>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

struct Seen {
  HWND window;
  UINT message;
  WPARAM w_param;
  LPARAM l_param;
  bool window_exists;
  std::string detail;  // what lParam pointed to, read while the message was processed
};

std::vector<Seen> seen;
LRESULT create_result = 0;
bool quit_on_destroy = true;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  Seen entry = {window, message, w_param, l_param, IsWindow(window) != FALSE, ""};
  if (message == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(l_param);
    entry.detail = create->lpszName;
  }
  if (message == WM_DEVICECHANGE && l_param != 0) {
    const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(l_param);
    GUID hid;
    HidD_GetHidGuid(&hid);
    const bool hid_class = std::memcmp(&broadcast->dbcc_classguid, &hid, sizeof hid) == 0;
    entry.detail =
        std::to_string(broadcast->dbcc_devicetype) + (hid_class ? " hid " : " other ") + broadcast->dbcc_name;
  }
  seen.push_back(entry);
  if (message == WM_CREATE) return create_result;
  if (message == WM_DESTROY && quit_on_destroy) PostQuitMessage(0);
  if (message == WM_CLOSE) return DefWindowProcA(window, message, w_param, l_param);
  return 0;
}

class WindowsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    seen.clear();
    create_result = 0;
    quit_on_destroy = true;
  }

  static ATOM Register(const char* name) {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = RecordingProc;
    window_class.lpszClassName = name;
    return RegisterClassA(&window_class);
  }

  static HWND Create(const char* class_name, const char* title, DWORD style = WS_POPUP) {
    return CreateWindowExA(0, class_name, title, style, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  }

  // Runs this thread's message loop until the queue is empty: sent messages
  // first, then every posted message, then the quit request posted here.
  static std::vector<MSG> Pump() {
    PostQuitMessage(0);
    std::vector<MSG> taken;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      taken.push_back(message);
      DispatchMessageA(&message);
    }
    return taken;
  }

  static std::vector<UINT> SeenMessages() {
    std::vector<UINT> messages;
    for (const Seen& entry : seen) messages.push_back(entry.message);
    return messages;
  }
};

TEST_F(WindowsTest, CreateWindowDeliversCreateBeforeReturning) {
  ASSERT_NE(Register("Agent"), 0);
  HWND window = Create("Agent", "Hidden");
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_CREATE);
  EXPECT_EQ(seen[0].window, window);
  EXPECT_TRUE(seen[0].window_exists);
  EXPECT_EQ(seen[0].detail, "Hidden");
  EXPECT_EQ(sim::ProcessWindows(), std::vector<HWND>{window});
  ExpectNothingHeld();
}

TEST_F(WindowsTest, CreateRefusedByTheProcedureLeavesNoWindow) {
  ASSERT_NE(Register("Agent"), 0);
  create_result = -1;
  EXPECT_EQ(Create("Agent", "Hidden"), nullptr);
  EXPECT_EQ(SeenMessages(), std::vector<UINT>{WM_CREATE});
  EXPECT_TRUE(sim::ProcessWindows().empty());
  EXPECT_EQ(FindWindowA("Agent", "Hidden"), nullptr);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, WindowsStartHiddenUnlessVisible) {
  ASSERT_NE(Register("Agent"), 0);
  HWND hidden = Create("Agent", "One");
  HWND shown = Create("Agent", "Two", WS_POPUP | WS_VISIBLE);
  EXPECT_FALSE(IsWindowVisible(hidden));
  EXPECT_TRUE(IsWindowVisible(shown));
  EXPECT_TRUE(ShowWindow(shown, SW_HIDE));  // it was visible
  EXPECT_FALSE(IsWindowVisible(shown));
  EXPECT_FALSE(ShowWindow(hidden, SW_SHOW));  // it was hidden
  EXPECT_TRUE(IsWindowVisible(hidden));
  ExpectNothingHeld();
}

TEST_F(WindowsTest, ClassRegisteredTwiceIsRefused) {
  EXPECT_NE(Register("Agent"), 0);
  SetLastError(kSentinel);
  EXPECT_EQ(Register("Agent"), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  EXPECT_NE(Register("Other"), 0);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, CreateWithUnknownClassFails) {
  SetLastError(kSentinel);
  EXPECT_EQ(Create("Nobody", "Title"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_TRUE(seen.empty());
  ExpectNothingHeld();
}

// Letter case does not count, and of several matches the newest (on top) is found.
TEST_F(WindowsTest, FindWindowMatchesClassAndTitle) {
  HWND target = sim::CreateForeignWindow("KalvorethClass", "KalvorethTitle");
  HWND agent = sim::CreateForeignWindow("KalvorethClass", "KalvorethTMSG");
  HWND other = sim::CreateForeignWindow("OtherClass", "KalvorethTitle");
  struct Row {
    const char* class_name;
    const char* title;
    HWND expected;
  };
  const Row rows[] = {
      {"KalvorethClass", "KalvorethTitle", target},
      {"KalvorethClass", "KalvorethTMSG", agent},
      {"OtherClass", "KalvorethTitle", other},
      {"KalvorethClass", "kalvorethtitle", target},
      {"kalvorethclass", "KalvorethTitle", target},
      {"KalvorethClass", "Kalvoreth", nullptr},
      {"KalvorethClass", "KalvorethTitle ", nullptr},
      {"OtherClass", "KalvorethTMSG", nullptr},
      {nullptr, "KalvorethTitle", other},
      {"KalvorethClass", nullptr, agent},
      {"OtherClass", nullptr, other},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FindWindowA(row.class_name, row.title), row.expected)
        << (row.class_name ? row.class_name : "(null)") << " / " << (row.title ? row.title : "(null)");
  }
  sim::DestroyForeignWindow(target);
  EXPECT_EQ(FindWindowA("KalvorethClass", "KalvorethTitle"), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, "KalvorethTitle"), other);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, FindWindowSeesTheProcessWindows) {
  ASSERT_NE(Register("KalvorethClass"), 0);
  HWND own = Create("KalvorethClass", "KalvorethTMSG");
  EXPECT_EQ(FindWindowA("KalvorethClass", "KalvorethTMSG"), own);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, PostToNoWindowFails) {
  HWND gone = sim::CreateForeignWindow("Target", "Gone");
  sim::DestroyForeignWindow(gone);
  const HWND rows[] = {gone, reinterpret_cast<HWND>(0x4242)};
  for (HWND window : rows) {
    SetLastError(kSentinel);
    EXPECT_FALSE(PostMessageA(window, WM_USER, 1, 2)) << window;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE) << window;
  }
  EXPECT_TRUE(sim::ReceivedMessages(gone).empty());
  ExpectNothingHeld();
}

TEST_F(WindowsTest, PostToANullWindowGoesToTheCallersOwnQueue) {
  EXPECT_TRUE(PostMessageA(nullptr, WM_USER, 1, 2));
  PostQuitMessage(0);
  MSG message = {};
  ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  EXPECT_EQ(message.hwnd, nullptr);
  EXPECT_EQ(message.message, WM_USER);
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, ForeignWindowRecordsPostsInOrder) {
  HWND target = sim::CreateForeignWindow("Target", "Title");
  std::vector<std::pair<HWND, UINT>> observed;
  sim::OnForeignMessage(
      [&](HWND window, const MSG& message) { observed.emplace_back(window, message.message); });
  for (UINT i = 0; i < 3; ++i)
    EXPECT_TRUE(PostMessageA(target, WM_USER + i, i, static_cast<LPARAM>(i) << 16));
  const std::vector<MSG> received = sim::ReceivedMessages(target);
  ASSERT_EQ(received.size(), 3u);
  for (UINT i = 0; i < 3; ++i) {
    EXPECT_EQ(received[i].hwnd, target);
    EXPECT_EQ(received[i].message, WM_USER + i);
    EXPECT_EQ(received[i].wParam, i);
    EXPECT_EQ(received[i].lParam, static_cast<LPARAM>(i) << 16);
  }
  const std::vector<std::pair<HWND, UINT>> expected = {
      {target, WM_USER}, {target, WM_USER + 1}, {target, WM_USER + 2}};
  EXPECT_EQ(observed, expected);
  sim::OnForeignMessage(nullptr);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, PostedMessagesComeInOrderThenQuit) {
  ASSERT_NE(Register("Agent"), 0);
  HWND window = Create("Agent", "Hidden");
  EXPECT_TRUE(PostMessageA(window, WM_USER + 1, 10, 0));
  EXPECT_TRUE(PostMessageA(window, WM_USER + 2, 20, 0));
  PostQuitMessage(7);
  // A message posted after the quit request still comes before WM_QUIT.
  EXPECT_TRUE(PostMessageA(window, WM_USER + 3, 30, 0));
  MSG message;
  for (UINT i = 1; i <= 3; ++i) {
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.message, WM_USER + i);
    EXPECT_EQ(message.wParam, 10u * i);
  }
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
  EXPECT_EQ(message.message, WM_QUIT);
  EXPECT_EQ(message.wParam, 7u);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, DispatchCallsTheWindowProcedure) {
  ASSERT_NE(Register("Agent"), 0);
  HWND window = Create("Agent", "Hidden");
  seen.clear();
  EXPECT_TRUE(PostMessageA(window, WM_USER + 5, 1, 2));
  const std::vector<MSG> taken = Pump();
  ASSERT_EQ(taken.size(), 1u);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_USER + 5);
  EXPECT_EQ(seen[0].w_param, 1u);
  EXPECT_EQ(seen[0].l_param, 2);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, SentMessagesAreProcessedInsideGetMessageBeforePosted) {
  ASSERT_NE(Register("Agent"), 0);
  HWND window = Create("Agent", "Hidden");
  seen.clear();
  EXPECT_TRUE(PostMessageA(window, WM_USER, 0, 0));
  sim::AnnounceDeviceChange(DBT_DEVNODES_CHANGED);
  EXPECT_TRUE(seen.empty()) << "a sent message waits for the owner's GetMessageA";
  const std::vector<MSG> taken = Pump();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(taken[0].message, WM_USER);
  const std::vector<UINT> expected = {WM_DEVICECHANGE, WM_USER};
  EXPECT_EQ(SeenMessages(), expected);
  EXPECT_EQ(seen[0].w_param, DBT_DEVNODES_CHANGED);
  EXPECT_EQ(seen[0].l_param, 0);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, SystemDestroyedWindowIsGoneAfterItsDestroyMessage) {
  ASSERT_NE(Register("Agent"), 0);
  HWND window = Create("Agent", "Hidden");
  seen.clear();
  EXPECT_TRUE(PostMessageA(window, WM_USER, 0, 0));
  sim::DestroyWindowFromSystem(window);
  EXPECT_TRUE(IsWindow(window));
  const std::vector<MSG> taken = Pump();
  EXPECT_TRUE(taken.empty()) << "messages posted to a destroyed window go with it";
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_DESTROY);
  EXPECT_TRUE(seen[0].window_exists);
  EXPECT_FALSE(IsWindow(window));
  SetLastError(kSentinel);
  EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_TRUE(sim::ProcessWindows().empty());
  ExpectNothingHeld();
}

TEST_F(WindowsTest, CloseThroughTheDefaultProcedureDestroysTheWindow) {
  ASSERT_NE(Register("Agent"), 0);
  HWND window = Create("Agent", "Hidden");
  seen.clear();
  EXPECT_TRUE(PostMessageA(window, WM_CLOSE, 0, 0));
  Pump();
  const std::vector<UINT> expected = {WM_CLOSE, WM_DESTROY};
  EXPECT_EQ(SeenMessages(), expected);
  EXPECT_FALSE(IsWindow(window));
  ExpectNothingHeld();
}

TEST_F(WindowsTest, InterfaceEventsReachOnlyRegisteredWindows) {
  ASSERT_NE(Register("Agent"), 0);
  HWND registered = Create("Agent", "Registered");
  HWND plain = Create("Agent", "Plain");
  const sim::DeviceId pad = sim::AddDevice(sim::ButtonCollection("pad"));
  DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  HDEVNOTIFY notification = RegisterDeviceNotificationA(registered, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  ASSERT_NE(notification, nullptr);
  EXPECT_EQ(sim::DeviceNotificationRegistrations(), 1);
  EXPECT_EQ(sim::Held().notifications, 1);
  seen.clear();

  sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL);
  sim::RemoveDevice(pad);
  sim::AnnounceDeviceChange(DBT_DEVICEREMOVECOMPLETE);
  sim::AnnounceDeviceChange(DBT_DEVNODES_CHANGED);
  Pump();
  const std::string path = sim::DevicePath(pad);
  const std::string interface_detail = std::to_string(DBT_DEVTYP_DEVICEINTERFACE) + " hid " + path;
  struct Row {
    HWND window;
    WPARAM event;
    std::string detail;
  };
  const std::vector<Row> expected = {
      {registered, DBT_DEVICEARRIVAL, interface_detail},
      {registered, DBT_DEVICEREMOVECOMPLETE, interface_detail},
      {registered, DBT_DEVNODES_CHANGED, ""},
      {plain, DBT_DEVNODES_CHANGED, ""},
  };
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(seen[i].window, expected[i].window) << "row " << i;
    EXPECT_EQ(seen[i].message, WM_DEVICECHANGE) << "row " << i;
    EXPECT_EQ(seen[i].w_param, expected[i].event) << "row " << i;
    EXPECT_EQ(seen[i].detail, expected[i].detail) << "row " << i;
  }

  EXPECT_TRUE(UnregisterDeviceNotification(notification));
  EXPECT_EQ(sim::DeviceNotificationRegistrations(), 0);
  seen.clear();
  sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL);
  Pump();
  EXPECT_TRUE(seen.empty());
  SetLastError(kSentinel);
  EXPECT_FALSE(UnregisterDeviceNotification(notification));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ExpectNothingHeld();
  EXPECT_EQ(sim::Held().notifications, 0);
}

TEST_F(WindowsTest, RegistrationNeedsAWindowAndAnInterfaceFilter) {
  ASSERT_NE(Register("Agent"), 0);
  HWND window = Create("Agent", "Registered");
  DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  EXPECT_EQ(RegisterDeviceNotificationA(nullptr, &filter, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);
  EXPECT_EQ(RegisterDeviceNotificationA(window, nullptr, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);
  filter.dbcc_devicetype = 0;
  EXPECT_EQ(RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);
  EXPECT_EQ(sim::Held().notifications, 0);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, DefaultProcedureIsCountedAndTraced) {
  sim::TraceCalls(true);
  EXPECT_EQ(DefWindowProcA(reinterpret_cast<HWND>(0xA0010), WM_USER + 7, 5, 0x60000), 0);
  EXPECT_EQ(sim::Calls("DefWindowProcA"), 1);
  const std::vector<std::string> expected = {
      "DefWindowProcA window=0xA0010 message=1031 wparam=0x5 lparam=0x60000"};
  EXPECT_EQ(sim::CallTrace(), expected);
  ExpectNothingHeld();
}

TEST_F(WindowsTest, CursorAndBrushAreFixedValues) {
  EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), LoadCursorA(nullptr, IDC_ARROW));
  EXPECT_NE(GetStockObject(WHITE_BRUSH), nullptr);
  ExpectNothingHeld();
}

// An agent-like process: its main thread owns the window, and the window
// ends with the thread.
int ProcessMain() {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = [](HWND window, UINT message, WPARAM w_param, LPARAM l_param) -> LRESULT {
    if (message == WM_DESTROY) {
      PostQuitMessage(3);
      return 0;
    }
    return DefWindowProcA(window, message, w_param, l_param);
  };
  window_class.lpszClassName = "Agent";
  if (RegisterClassA(&window_class) == 0) return 1;
  if (CreateWindowExA(0, "Agent", "Hidden", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr) ==
      nullptr) {
    return 2;
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return static_cast<int>(message.wParam);
}

TEST_F(WindowsTest, ProcessRunsItsLoopUntilItsWindowIsDestroyed) {
  sim::StartProcess(ProcessMain);
  sim::WaitQuiet();
  int exit_code = -1;
  EXPECT_FALSE(sim::ProcessExited(&exit_code));
  const std::vector<HWND> windows = sim::ProcessWindows();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(sim::Held().threads, 1);
  sim::DestroyWindowFromSystem(windows[0]);
  EXPECT_EQ(sim::JoinProcess(), 3);
  EXPECT_TRUE(sim::ProcessExited(&exit_code));
  EXPECT_EQ(exit_code, 3);
  EXPECT_TRUE(sim::ProcessWindows().empty());
  ExpectNothingHeld();
}

TEST_F(WindowsTest, GetMessageFaultReturnsMinusOne) {
  sim::FailNth(sim::Fault::GetMessage, 1);
  MSG message;
  SetLastError(kSentinel);
  EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), -1);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(sim::FaultPoints(sim::Fault::GetMessage), 1);
  ExpectNothingHeld();
}

}  // namespace
