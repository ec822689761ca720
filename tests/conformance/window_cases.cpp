// Window classes, windows and message queues: what the agent's hidden window,
// its single-instance test, its target lookup and its message loop rely on.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cases.h"

namespace {

constexpr char kAgentClass[] = "KalvorethClass";
constexpr char kAgentTitle[] = "KalvorethTMSG";
constexpr char kTargetTitle[] = "KalvorethTitle";
constexpr char kOtherClass[] = "ConformanceOtherClass";
constexpr char kUnregisteredClass[] = "ConformanceNoSuchClass";

// What the window procedure saw, in order. Windows sends more messages than
// WM_CREATE during creation (WM_NCCREATE, WM_GETMINMAXINFO, ...); the cases
// look only at those the agent handles.
struct Seen {
  HWND window;
  UINT message;
  bool inside_create;
  LPVOID create_param;
  std::string create_title;
  DWORD create_style;
};

std::vector<Seen> seen;
bool inside_create = false;
LRESULT create_answer = 0;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  Seen one = {window, message, inside_create, nullptr, "", 0};
  if (message == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(l_param);
    one.create_param = create->lpCreateParams;
    one.create_title = create->lpszName == nullptr ? "(null)" : create->lpszName;
    one.create_style = static_cast<DWORD>(create->style);
    seen.push_back(one);
    return create_answer;
  }
  seen.push_back(one);
  if (message == WM_DESTROY) return 0;
  return DefWindowProcA(window, message, w_param, l_param);
}

int CountSeen(HWND window, UINT message) {
  int count = 0;
  for (const Seen& one : seen) count += one.window == window && one.message == message ? 1 : 0;
  return count;
}

// The agent's class, as the agent registers it.
WNDCLASSA ClassNamed(const char* name) {
  WNDCLASSA window_class = {};
  window_class.style = CS_PARENTDC;
  window_class.lpfnWndProc = RecordingProc;
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  window_class.lpszMenuName = "";
  window_class.lpszClassName = name;
  return window_class;
}

// Classes live as long as the process, so each is registered once for all cases.
bool EnsureClass(const char* name) {
  static std::set<std::string> registered;
  if (registered.contains(name)) return true;
  const WNDCLASSA window_class = ClassNamed(name);
  if (!CHECK(RegisterClassA(&window_class) != 0, "RegisterClassA(\"%s\") failed, error %lu", name,
             static_cast<unsigned long>(GetLastError()))) {
    return false;
  }
  registered.insert(name);
  return true;
}

// A hidden pop-up window like the agent's.
HWND CreateHidden(const char* class_name, const char* title, LPVOID param = nullptr) {
  inside_create = true;
  HWND window = CreateWindowExA(0, class_name, title, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, param);
  inside_create = false;
  return window;
}

// Closing through the default window procedure destroys the window on both
// sides, WM_DESTROY first.
void Destroy(HWND window) {
  if (window == nullptr) return;
  DefWindowProcA(window, WM_CLOSE, 0, 0);
  CHECK(!IsWindow(window), "the window outlived WM_CLOSE");
}

// Takes every message from the calling thread's queue up to a marker posted
// now, and returns them without the marker.
std::vector<MSG> TakeUntilMarker() {
  std::vector<MSG> taken;
  if (!CHECK(PostMessageA(nullptr, kMarkerMessage, 0, 0), "the marker could not be posted")) return taken;
  MSG msg;
  for (;;) {
    const BOOL result = GetMessageA(&msg, nullptr, 0, 0);
    if (!CHECK(result > 0, "GetMessageA returned %d (message %u) before the marker", static_cast<int>(result),
               msg.message)) {
      break;
    }
    if (msg.message == kMarkerMessage && msg.hwnd == nullptr) break;
    taken.push_back(msg);
  }
  return taken;
}

bool NoAgentWindows() {
  return CHECK(FindWindowA(kAgentClass, nullptr) == nullptr,
               "a window of class %s already exists on this desktop: an agent or its target is running",
               kAgentClass);
}

void WmCreateInsideCreateWindow() {
  if (!EnsureClass(kAgentClass) || !NoAgentWindows()) return;
  seen.clear();
  create_answer = 0;
  int param = 0;
  HWND window = CreateHidden(kAgentClass, kAgentTitle, &param);
  if (!CHECK(window != nullptr, "CreateWindowExA failed, error %lu",
             static_cast<unsigned long>(GetLastError())))
    return;
  CHECK(CountSeen(window, WM_CREATE) == 1, "WM_CREATE reached the window procedure %d times",
        CountSeen(window, WM_CREATE));
  for (const Seen& one : seen) {
    if (one.message != WM_CREATE) continue;
    CHECK(one.inside_create, "WM_CREATE came after CreateWindowExA had returned");
    CHECK(one.window == window, "WM_CREATE named another window than the one returned");
    CHECK(one.create_param == &param, "the creation parameter did not reach WM_CREATE");
    CHECK(one.create_title == kAgentTitle, "WM_CREATE carried the title \"%s\"", one.create_title.c_str());
    CHECK(one.create_style == WS_POPUP, "WM_CREATE carried the style 0x%lX",
          static_cast<unsigned long>(one.create_style));
  }
  CHECK(!IsWindowVisible(window), "a WS_POPUP window without WS_VISIBLE is visible");
  CHECK(ShowWindow(window, SW_HIDE) == FALSE, "ShowWindow(SW_HIDE) said the window had been visible");
  CHECK(TakeUntilMarker().empty(), "creating the window left messages in the queue");
  Destroy(window);
  CHECK(CountSeen(window, WM_DESTROY) == 1, "WM_DESTROY reached the window procedure %d times",
        CountSeen(window, WM_DESTROY));
}

void CreationRefusedByWmCreate() {
  if (!EnsureClass(kAgentClass) || !NoAgentWindows()) return;
  seen.clear();
  create_answer = -1;
  SetLastError(kSentinelError);
  HWND window = CreateHidden(kAgentClass, kAgentTitle);
  create_answer = 0;
  CHECK(window == nullptr, "CreateWindowExA returned a window although WM_CREATE answered -1");
  int creates = 0;
  for (const Seen& one : seen) creates += one.message == WM_CREATE ? 1 : 0;
  CHECK(creates == 1, "WM_CREATE reached the window procedure %d times", creates);
  CHECK(FindWindowA(kAgentClass, kAgentTitle) == nullptr, "the refused window can be found");
  if (window != nullptr) Destroy(window);
}

struct FindRow {
  const char* name;
  const char* class_name;
  const char* title;
  int found;  // index of the window expected, -1 for none
};

// Window 0 is the agent's, 1 the target's, 2 one of another class with the target's title.
const FindRow kFindRows[] = {
    {"class and title of the target", kAgentClass, kTargetTitle, 1},
    {"class and title of the agent", kAgentClass, kAgentTitle, 0},
    {"another class with the target's title", kOtherClass, kTargetTitle, 2},
    {"no class, the agent's title", nullptr, kAgentTitle, 0},
    {"a prefix of the title", kAgentClass, "KalvorethT", -1},
    {"the title with more after it", kAgentClass, "KalvorethTitle2", -1},
    {"a class that has no window with that title", kOtherClass, kAgentTitle, -1},
    {"a class nobody registered", kUnregisteredClass, kTargetTitle, -1},
    {"the class name in other letters", "KALVORETHCLASS", kTargetTitle, 1},
    {"the title in other letters", kAgentClass, "kalvorethtitle", 1},
};

void FindWindowMatching() {
  if (!EnsureClass(kAgentClass) || !EnsureClass(kOtherClass) || !NoAgentWindows()) return;
  HWND windows[3] = {CreateHidden(kAgentClass, kAgentTitle), CreateHidden(kAgentClass, kTargetTitle),
                     CreateHidden(kOtherClass, kTargetTitle)};
  bool created = true;
  for (HWND window : windows) created = created && CHECK(window != nullptr, "CreateWindowExA failed");
  if (created) {
    for (const FindRow& row : kFindRows) {
      HWND found = FindWindowA(row.class_name, row.title);
      HWND expected = row.found < 0 ? nullptr : windows[row.found];
      const int found_index = found == windows[0]   ? 0
                              : found == windows[1] ? 1
                              : found == windows[2] ? 2
                                                    : -1;
      CHECK(found == expected, "row \"%s\": found %s (window %d), expected window %d", row.name,
            found == nullptr ? "nothing" : "a window", found_index, row.found);
    }
  }
  // Of two windows that match, the one on top of the others is found: the
  // newer, as nothing has moved either since it was made.
  HWND newer = created ? CreateHidden(kAgentClass, kTargetTitle) : nullptr;
  if (created && CHECK(newer != nullptr, "CreateWindowExA failed")) {
    CHECK(FindWindowA(kAgentClass, kTargetTitle) == newer, "of two matching windows the older was found");
    Destroy(newer);
    CHECK(FindWindowA(kAgentClass, kTargetTitle) == windows[1],
          "with the newer destroyed the older was not found");
  }
  for (HWND window : windows) Destroy(window);
  CHECK(FindWindowA(kAgentClass, kTargetTitle) == nullptr, "a destroyed window can still be found");
}

struct MissRow {
  const char* name;
  const char* class_name;
  const char* title;
  DWORD error;  // the last error after the miss
};

const MissRow kMissRows[] = {
    {"a registered class with no window of that title", kAgentClass, "ConformanceNoSuchTitle",
     ERROR_CANNOT_FIND_WND_CLASS},
    {"a class nobody registered", kUnregisteredClass, kTargetTitle, ERROR_CANNOT_FIND_WND_CLASS},
    {"no class, a title no window has", nullptr, "ConformanceNoSuchTitle", ERROR_CANNOT_FIND_WND_CLASS},
};

void LastErrorAfterFindWindowMisses() {
  if (!EnsureClass(kAgentClass) || !NoAgentWindows()) return;
  for (const MissRow& row : kMissRows) {
    SetLastError(kSentinelError);
    HWND found = FindWindowA(row.class_name, row.title);
    const DWORD error = GetLastError();
    CHECK(found == nullptr, "row \"%s\": found a window", row.name);
    CHECK(error == row.error, "row \"%s\": last error %lu (0x%lX), expected %lu (0x%lX)", row.name,
          static_cast<unsigned long>(error), static_cast<unsigned long>(error),
          static_cast<unsigned long>(row.error), static_cast<unsigned long>(row.error));
  }
}

void RegisterClassTwice() {
  constexpr char kName[] = "ConformanceTwiceClass";
  const WNDCLASSA window_class = ClassNamed(kName);
  SetLastError(kSentinelError);
  const ATOM first = RegisterClassA(&window_class);
  if (!CHECK(first != 0, "the first RegisterClassA failed, error %lu",
             static_cast<unsigned long>(GetLastError())))
    return;
  struct Row {
    const char* name;
    const char* class_name;
  };
  const Row rows[] = {{"the same name", kName}, {"the name in other letters", "conformancetwiceclass"}};
  for (const Row& row : rows) {
    WNDCLASSA again = ClassNamed(row.class_name);
    SetLastError(kSentinelError);
    const ATOM second = RegisterClassA(&again);
    const DWORD error = GetLastError();
    CHECK(second == 0, "row \"%s\": registering again succeeded", row.name);
    CHECK(error == ERROR_CLASS_ALREADY_EXISTS,
          "row \"%s\": last error %lu, expected ERROR_CLASS_ALREADY_EXISTS", row.name,
          static_cast<unsigned long>(error));
  }
  // The class registered first still makes windows.
  seen.clear();
  HWND window = CreateHidden(kName, "twice");
  CHECK(window != nullptr && CountSeen(window, WM_CREATE) == 1, "the class registered first makes no window");
  Destroy(window);
}

void PostToDestroyedWindow() {
  if (!EnsureClass(kAgentClass) || !NoAgentWindows()) return;
  HWND window = CreateHidden(kAgentClass, kTargetTitle);
  if (!CHECK(window != nullptr, "CreateWindowExA failed")) return;
  CHECK(PostMessageA(window, WM_USER + 1, 1, 0), "posting to the live window failed");
  Destroy(window);
  SetLastError(kSentinelError);
  const BOOL posted = PostMessageA(window, WM_USER + 2, 1, 0);
  const DWORD error = GetLastError();
  CHECK(!posted, "posting to the destroyed window succeeded");
  CHECK(error == ERROR_INVALID_WINDOW_HANDLE, "last error %lu, expected ERROR_INVALID_WINDOW_HANDLE",
        static_cast<unsigned long>(error));
  int for_window = 0;
  for (const MSG& msg : TakeUntilMarker()) for_window += msg.hwnd == window ? 1 : 0;
  CHECK(for_window == 0, "%d message(s) posted to the window outlived it in the queue", for_window);
}

HWND window_of_ended_thread = nullptr;

DWORD WINAPI CreateWindowAndEnd(LPVOID) {
  window_of_ended_thread =
      CreateWindowExA(0, kAgentClass, kTargetTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  return 0;
}

void WindowEndsWithItsThread() {
  if (!EnsureClass(kAgentClass) || !NoAgentWindows()) return;
  window_of_ended_thread = nullptr;
  HANDLE thread = CreateThread(nullptr, 0, CreateWindowAndEnd, nullptr, 0, nullptr);
  if (!CHECK(thread != nullptr, "CreateThread failed")) return;
  CHECK(WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0, "the thread did not end");
  CloseHandle(thread);
  HWND window = window_of_ended_thread;
  if (!CHECK(window != nullptr, "the thread made no window")) return;
  CHECK(!IsWindow(window), "the window outlived the thread that made it");
  CHECK(FindWindowA(kAgentClass, kTargetTitle) == nullptr, "the window of the ended thread can be found");
  SetLastError(kSentinelError);
  const BOOL posted = PostMessageA(window, WM_USER + 3, 1, 0);
  const DWORD error = GetLastError();
  CHECK(!posted && error == ERROR_INVALID_WINDOW_HANDLE,
        "posting to the window of the ended thread gave %d with last error %lu", static_cast<int>(posted),
        static_cast<unsigned long>(error));
}

void GetMessageOnQuit() {
  if (!EnsureClass(kAgentClass) || !NoAgentWindows()) return;
  HWND window = CreateHidden(kAgentClass, kAgentTitle);
  if (!CHECK(window != nullptr, "CreateWindowExA failed")) return;
  // The quit request comes after every message posted, even those posted after it.
  CHECK(PostMessageA(window, WM_USER + 10, 10, 0), "post failed");
  PostQuitMessage(7);
  CHECK(PostMessageA(nullptr, WM_USER + 11, 11, 0), "post failed");
  const UINT expected[] = {WM_USER + 10, WM_USER + 11};
  MSG msg;
  for (UINT message : expected) {
    const BOOL result = GetMessageA(&msg, nullptr, 0, 0);
    CHECK(result > 0 && msg.message == message, "GetMessageA gave %d with message 0x%X, expected 0x%X",
          static_cast<int>(result), msg.message, message);
  }
  BOOL result = GetMessageA(&msg, nullptr, 0, 0);
  CHECK(result == 0, "GetMessageA returned %d on the quit message", static_cast<int>(result));
  CHECK(msg.message == WM_QUIT && msg.wParam == 7 && msg.hwnd == nullptr,
        "the quit message was 0x%X, wParam %lu, to a %s window", msg.message,
        static_cast<unsigned long>(msg.wParam), msg.hwnd == nullptr ? "null" : "non-null");
  // WM_QUIT posted like any message is taken in its turn, and also ends the loop.
  CHECK(PostMessageA(window, WM_QUIT, 5, 0), "posting WM_QUIT failed");
  result = GetMessageA(&msg, nullptr, 0, 0);
  CHECK(result == 0 && msg.message == WM_QUIT && msg.wParam == 5,
        "a posted WM_QUIT gave %d with message 0x%X, wParam %lu", static_cast<int>(result), msg.message,
        static_cast<unsigned long>(msg.wParam));
  CHECK(TakeUntilMarker().empty(), "messages were left after the quit message");
  Destroy(window);
}

DWORD WINAPI PostToOwnQueue(LPVOID) {
  if (!PostMessageA(nullptr, WM_USER + 21, 21, 0)) return 1;
  MSG msg;
  if (GetMessageA(&msg, nullptr, 0, 0) <= 0) return 2;
  return msg.message == WM_USER + 21 && msg.hwnd == nullptr && msg.wParam == 21 ? 0 : 3;
}

void PostToNullWindow() {
  SetLastError(kSentinelError);
  CHECK(PostMessageA(nullptr, WM_USER + 20, 20, 0x20), "PostMessageA(NULL) failed, error %lu",
        static_cast<unsigned long>(GetLastError()));
  const std::vector<MSG> taken = TakeUntilMarker();
  CHECK(taken.size() == 1, "%d messages taken, expected 1", static_cast<int>(taken.size()));
  if (taken.size() == 1) {
    const MSG& msg = taken[0];
    CHECK(msg.hwnd == nullptr && msg.message == WM_USER + 20 && msg.wParam == 20 && msg.lParam == 0x20,
          "the message taken was 0x%X (%lu, %ld) to a %s window", msg.message,
          static_cast<unsigned long>(msg.wParam), static_cast<long>(msg.lParam),
          msg.hwnd == nullptr ? "null" : "non-null");
  }
  // Another thread's post to a null window stays in that thread's queue.
  HANDLE thread = CreateThread(nullptr, 0, PostToOwnQueue, nullptr, 0, nullptr);
  if (!CHECK(thread != nullptr, "CreateThread failed")) return;
  CHECK(WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0, "the thread did not end");
  DWORD code = STILL_ACTIVE;
  CHECK(GetExitCodeThread(thread, &code) && code == 0,
        "the other thread did not take its own message (step %lu failed)", static_cast<unsigned long>(code));
  CloseHandle(thread);
  CHECK(TakeUntilMarker().empty(), "the other thread's message reached this thread's queue");
}

const ConformanceCase kCases[] = {
    {"CreateWindowExA delivers WM_CREATE before it returns", WmCreateInsideCreateWindow},
    {"CreateWindowExA fails when WM_CREATE answers -1", CreationRefusedByWmCreate},
    {"FindWindowA matches class and title", FindWindowMatching},
    {"GetLastError after FindWindowA finds nothing", LastErrorAfterFindWindowMisses},
    {"RegisterClassA of a registered class fails with ERROR_CLASS_ALREADY_EXISTS", RegisterClassTwice},
    {"PostMessageA to a destroyed window fails with ERROR_INVALID_WINDOW_HANDLE", PostToDestroyedWindow},
    {"A window ends with the thread that made it", WindowEndsWithItsThread},
    {"GetMessageA returns 0 on WM_QUIT, after the messages posted before and after it", GetMessageOnQuit},
    {"PostMessageA to a null window posts to the calling thread's own queue", PostToNullWindow},
};

}  // namespace

std::span<const ConformanceCase> WindowCases() {
  return kCases;
}
