// button-target.exe from outside, as the agent and a user meet it: a visible
// window with the target application's identity that lists every button
// message posted to it, newest first, with the counts per ButtonCode, empties
// both on "Clear", warns when another target window was already open, and
// ends with exit code 0 when closed.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "agent_process.h"
#include "check.h"
#include "child_process.h"
#include "target_window.h"
#include "tools/button_target/button_target_ids.h"

using namespace wintest;
using namespace toolstest;

namespace {

const char* kProgram = "button_target_test";
constexpr char kTargetClass[] = "KalvorethClass";
constexpr char kTargetTitle[] = "KalvorethTitle";
constexpr UINT kButtonMessage = WM_USER + 100;

struct Posted {
  UINT message;
  WPARAM w_param;
  LPARAM l_param;
};

// Every code the agent's readers post, and what the window must leave out.
const Posted kPosted[] = {
    {kButtonMessage, 1, 0x00100000},      // ReaderC 16
    {kButtonMessage, 1, 0x000A0000},      // ReaderB 10
    {kButtonMessage, 1, 0x00070000},      // ReaderB 7
    {kButtonMessage + 1, 1, 0x00110000},  // not a button message
    {kButtonMessage, 1, 0x00030000},      // ReaderA 3
    {kButtonMessage, 1, 0x00100000},      // ReaderC 16 again
    {WM_USER, 1, 0x00120000},             // not a button message
    {kButtonMessage, 1, 0x00120000},      // ReaderC 18
    {kButtonMessage, 0, 0x000D0000},      // wParam other than 1: listed as it came
    {kButtonMessage, 1, 0x00060000},      // ReaderA 6
};
constexpr char kExpectedCounts[] = "Counts per ButtonCode: 3=1  6=1  7=1  10=1  13=1  16=2  18=1";

std::string WindowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

LRESULT SendOrFail(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  LRESULT result = -1;
  SendWithin(window, message, w_param, l_param, &result);
  return result;
}

LRESULT SendWideOrFail(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  DWORD_PTR answer = 0;
  SetLastError(0xDEADBEEF);
  const LRESULT sent =
      SendMessageTimeoutW(window, message, w_param, l_param, SMTO_NORMAL, kProcessWaitMs, &answer);
  CHECK(sent != 0, "message 0x%04X was not handled within %lu ms (error %lu)", message, kProcessWaitMs,
        GetLastError());
  return sent != 0 ? static_cast<LRESULT>(answer) : -1;
}

// The list's lines, read across the process boundary. Wide: Wine hands
// LB_GETTEXT across processes whole only to a Unicode caller.
std::vector<std::string> ListedLines(HWND list) {
  std::vector<std::string> lines;
  const LRESULT count = SendWideOrFail(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t line[256] = {};
    const LRESULT length = SendWideOrFail(list, LB_GETTEXTLEN, i, 0);
    if (!CHECK(length >= 0 && length < static_cast<LRESULT>(sizeof line / sizeof line[0]),
               "line %ld is %ld characters long", static_cast<long>(i), static_cast<long>(length))) {
      break;
    }
    CHECK(SendWideOrFail(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line)) == length,
          "line %ld: LB_GETTEXT and LB_GETTEXTLEN disagree", static_cast<long>(i));
    char narrow[256] = {};
    WideCharToMultiByte(CP_ACP, 0, line, -1, narrow, sizeof narrow, nullptr, nullptr);
    lines.push_back(narrow);
  }
  return lines;
}

// Posted messages are handled in order but after any sent one, so the list is
// read until it holds as many lines as were posted, within bounds.
bool WaitForListed(const ChildProcess& target, HWND list, LRESULT expected) {
  constexpr DWORD kPollMs = 50;
  const ULONGLONG started = GetTickCount64();
  LRESULT listed = -1;
  while (GetTickCount64() - started < kProcessWaitMs) {
    listed = SendOrFail(list, LB_GETCOUNT, 0, 0);
    if (listed >= expected) break;
    if (WaitForSingleObject(target.info.hProcess, kPollMs) == WAIT_OBJECT_0) break;
  }
  return CHECK(listed == expected, "%ld lines listed, %ld button messages posted", static_cast<long>(listed),
               static_cast<long>(expected));
}

void CheckLine(const std::string& line, const Posted& posted) {
  unsigned hour = 0, minute = 0, second = 0, millisecond = 0, code = 0;
  unsigned long w_param = 0, l_param = 0;
  const int fields = sscanf(line.c_str(), "%u:%u:%u.%u  ButtonCode %u  wParam %lu  lParam 0x%lx", &hour,
                            &minute, &second, &millisecond, &code, &w_param, &l_param);
  if (!CHECK(fields == 7, "unreadable line \"%s\"", line.c_str())) return;
  CHECK(hour < 24 && minute < 60 && second < 60 && millisecond < 1000, "no time of day in \"%s\"",
        line.c_str());
  const unsigned long expected_l_param = static_cast<unsigned long>(posted.l_param);
  CHECK(code == (expected_l_param >> 16) && w_param == posted.w_param && l_param == expected_l_param,
        "\"%s\" for wParam %lu lParam 0x%08lX", line.c_str(), static_cast<unsigned long>(posted.w_param),
        expected_l_param);
}

struct Controls {
  HWND status = nullptr;
  HWND counts = nullptr;
  HWND clear = nullptr;
  HWND list = nullptr;
};

bool FindControls(HWND window, Controls* controls) {
  controls->status = GetDlgItem(window, button_target::kStatusLineId);
  controls->counts = GetDlgItem(window, button_target::kCountsLineId);
  controls->clear = GetDlgItem(window, button_target::kClearButtonId);
  controls->list = GetDlgItem(window, button_target::kMessageListId);
  return CHECK(controls->status != nullptr && controls->counts != nullptr && controls->clear != nullptr &&
                   controls->list != nullptr,
               "a child control is missing") &&
         CHECK(ClassOf(controls->list) == "ListBox" && ClassOf(controls->clear) == "Button" &&
                   ClassOf(controls->status) == "Static" && ClassOf(controls->counts) == "Static",
               "the controls are not a list box, a button and two static lines") &&
         CHECK(WindowText(controls->clear) == "Clear", "the button says \"%s\"",
               WindowText(controls->clear).c_str());
}

bool StartTarget(const std::string& program, ChildProcess& target, HWND* window) {
  if (!StartChild(program, {}, false, target)) return false;
  *window = WaitForWindowOf(target, kTargetClass, kTargetTitle);
  if (*window == nullptr) return false;
  // Answered only once its loop runs: creation and the first texts are done.
  return SendWithin(*window, WM_NULL, 0, 0, nullptr);
}

bool EndTarget(ChildProcess& target, HWND window) {
  SetLastError(0xDEADBEEF);
  if (!CHECK(PostMessageA(window, WM_CLOSE, 0, 0), "could not post WM_CLOSE (error %lu)", GetLastError())) {
    return false;
  }
  DWORD exit_code = 99;
  if (!WaitForChildExit(target, &exit_code)) return false;
  CHECK(exit_code == 0, "button-target ended with exit code %lu, expected 0", exit_code);
  return CHECK(!IsWindow(window), "its window is still there after it ended");
}

void ListsButtonMessages(const std::string& program) {
  SetCheckContext("button messages are listed newest first and counted per ButtonCode");
  if (!CHECK(CountWindows(kTargetClass, kTargetTitle) == 0, "a target window is open before the scenario"))
    return;
  ChildProcess target;
  HWND window = nullptr;
  Controls controls;
  if (!StartTarget(program, target, &window) || !FindControls(window, &controls)) return;
  CHECK(IsWindowVisible(window), "the window is not visible");
  CHECK(FindWindowA(kTargetClass, kTargetTitle) == window, "the agent's lookup does not find this window");
  CHECK(WindowText(controls.status).rfind("Waiting", 0) == 0,
        "status line \"%s\" with no other target window", WindowText(controls.status).c_str());
  CHECK(WindowText(controls.counts) == "Counts per ButtonCode: none yet",
        "counts line \"%s\" before any message", WindowText(controls.counts).c_str());

  std::vector<Posted> buttons;
  for (const Posted& posted : kPosted) {
    SetLastError(0xDEADBEEF);
    CHECK(PostMessageA(window, posted.message, posted.w_param, posted.l_param), "could not post (error %lu)",
          GetLastError());
    if (posted.message == kButtonMessage) buttons.push_back(posted);
  }
  if (WaitForListed(target, controls.list, static_cast<LRESULT>(buttons.size()))) {
    const std::vector<std::string> lines = ListedLines(controls.list);
    for (size_t i = 0; i < lines.size() && i < buttons.size(); ++i) {
      SetCheckContext("line %lu of the list", static_cast<unsigned long>(i));
      printf("  %s\n", lines[i].c_str());
      CheckLine(lines[i], buttons[buttons.size() - 1 - i]);
    }
    SetCheckContext("counts after %lu button messages", static_cast<unsigned long>(buttons.size()));
    CHECK(WindowText(controls.counts) == kExpectedCounts, "counts line \"%s\", expected \"%s\"",
          WindowText(controls.counts).c_str(), kExpectedCounts);
  }

  SetCheckContext("\"Clear\" pressed");
  SendOrFail(controls.clear, BM_CLICK, 0, 0);
  SendWithin(window, WM_NULL, 0, 0, nullptr);
  CHECK(SendOrFail(controls.list, LB_GETCOUNT, 0, 0) == 0, "the list still holds %ld lines",
        static_cast<long>(SendOrFail(controls.list, LB_GETCOUNT, 0, 0)));
  CHECK(WindowText(controls.counts) == "Counts per ButtonCode: none yet", "counts line \"%s\" after Clear",
        WindowText(controls.counts).c_str());

  SetCheckContext("a button message after \"Clear\"");
  PostMessageA(window, kButtonMessage, 1, 0x00090000);
  if (WaitForListed(target, controls.list, 1)) {
    const std::vector<std::string> lines = ListedLines(controls.list);
    if (!lines.empty()) CheckLine(lines[0], {kButtonMessage, 1, 0x00090000});
    CHECK(WindowText(controls.counts) == "Counts per ButtonCode: 9=1", "counts line \"%s\"",
          WindowText(controls.counts).c_str());
  }
  SetCheckContext("closed");
  EndTarget(target, window);
}

void WarnsAboutAnotherTargetWindow(const std::string& program) {
  SetCheckContext("another target window is already open");
  if (!CHECK(CountWindows(kTargetClass, kTargetTitle) == 0, "a target window is open before the scenario"))
    return;
  TargetWindow other;
  ChildProcess target;
  HWND window = nullptr;
  Controls controls;
  if (!StartTarget(program, target, &window) || !FindControls(window, &controls)) return;
  const std::string status = WindowText(controls.status);
  printf("  status line: %s\n", status.c_str());
  CHECK(status.rfind("Warning:", 0) == 0 && status.find("KalvorethTitle") != std::string::npos,
        "status line \"%s\" does not warn about the other window", status.c_str());
  CHECK(CountWindows(kTargetClass, kTargetTitle) == 2,
        "%d target windows, expected this program's and the other", CountWindows(kTargetClass, kTargetTitle));
  EndTarget(target, window);
  CHECK(IsWindow(other.handle()), "the other target window went with button-target");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s BUTTON-TARGET.exe\n", kProgram);
    return 2;
  }
  ListsButtonMessages(argv[1]);
  WarnsAboutAnotherTargetWindow(argv[1]);
  return CheckReport(kProgram);
}
