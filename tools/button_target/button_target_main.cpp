// button-target.exe: a visible window with the target application's identity
// that lists every button message it receives, newest first, with a count per
// ButtonCode. A user runs it in place of the target application to see that
// presses arrive.
#include <windows.h>

#include "tools/button_target/button_log.h"
#include "tools/button_target/button_target_ids.h"

namespace {

using namespace button_target;

constexpr char kTargetClassName[] = "KalvorethClass";
constexpr char kTargetWindowTitle[] = "KalvorethTitle";

// The oldest lines go once the list holds this many; the counts keep counting.
constexpr LRESULT kMaxListedMessages = 10000;

constexpr int kMargin = 8;
constexpr int kLineHeight = 20;
constexpr int kButtonWidth = 80;
constexpr int kButtonHeight = 24;

struct Display {
  HWND status_line = nullptr;
  HWND counts_line = nullptr;
  HWND clear_button = nullptr;
  HWND message_list = nullptr;
  CodeCounts counts;
};

Display display;

HWND CreateChild(HWND parent, const char* class_name, const char* text, DWORD style, int id) {
  HWND child =
      CreateWindowExA(0, class_name, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
  if (child != nullptr)
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
  return child;
}

void ShowCounts() {
  SetWindowTextA(display.counts_line, FormatCounts(display.counts).c_str());
}

void Layout(int width, int height) {
  const int line_width = width - 2 * kMargin;
  MoveWindow(display.status_line, kMargin, kMargin, line_width, kLineHeight, TRUE);
  MoveWindow(display.counts_line, kMargin, kMargin + kLineHeight, line_width - kButtonWidth - kMargin,
             kLineHeight, TRUE);
  MoveWindow(display.clear_button, width - kMargin - kButtonWidth, kMargin + kLineHeight - 2, kButtonWidth,
             kButtonHeight, TRUE);
  const int list_top = kMargin + kLineHeight + kButtonHeight + kMargin / 2;
  const int list_height = height - list_top - kMargin;
  MoveWindow(display.message_list, kMargin, list_top, line_width, list_height > 0 ? list_height : 0, TRUE);
}

void ListButtonMessage(WPARAM w_param, LPARAM l_param) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  const ClockTime time = {now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  const std::string line = FormatButtonMessage(time, w_param, static_cast<std::uintptr_t>(l_param));
  SendMessageA(display.message_list, LB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  const LRESULT listed = SendMessageA(display.message_list, LB_GETCOUNT, 0, 0);
  if (listed > kMaxListedMessages) SendMessageA(display.message_list, LB_DELETESTRING, listed - 1, 0);
  ++display.counts[ButtonCodeOf(static_cast<std::uintptr_t>(l_param))];
  ShowCounts();
}

void Clear() {
  SendMessageA(display.message_list, LB_RESETCONTENT, 0, 0);
  display.counts.clear();
  ShowCounts();
}

LRESULT CALLBACK TargetWindowProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case WM_CREATE:
      display.status_line = CreateChild(window, "STATIC", "", SS_LEFTNOWORDWRAP, kStatusLineId);
      display.counts_line = CreateChild(window, "STATIC", "", SS_LEFTNOWORDWRAP, kCountsLineId);
      display.clear_button =
          CreateChild(window, "BUTTON", "Clear", BS_PUSHBUTTON | WS_TABSTOP, kClearButtonId);
      display.message_list = CreateChild(
          window, "LISTBOX", "", WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY, kMessageListId);
      ShowCounts();
      return 0;
    case WM_SIZE:
      Layout(LOWORD(l_param), HIWORD(l_param));
      return 0;
    case WM_COMMAND:
      if (LOWORD(w_param) == kClearButtonId && HIWORD(w_param) == BN_CLICKED) Clear();
      return 0;
    case kButtonEventMessage:
      ListButtonMessage(w_param, l_param);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, w_param, l_param);
  }
}

// A class registered earlier in this process is used as it is.
bool EnsureTargetClass(HINSTANCE instance) {
  WNDCLASSA existing;
  if (GetClassInfoA(instance, kTargetClassName, &existing)) return true;
  WNDCLASSA window_class = {};
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = TargetWindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = kTargetClassName;
  return RegisterClassA(&window_class) != 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  if (!EnsureTargetClass(instance)) return 1;
  // Looked for before this window exists, so that only someone else's counts.
  const bool another_target = FindWindowA(kTargetClassName, kTargetWindowTitle) != nullptr;
  HWND window = CreateWindowExA(0, kTargetClassName, kTargetWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 640, 420, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  SetWindowTextA(display.status_line,
                 another_target ? "Warning: another \"KalvorethTitle\" window was already open; the agent "
                                  "posts to whichever one it finds, which may not be this one."
                                : "Waiting for button messages (1124) from the agent.");
  ShowWindow(window, show_command);
  UpdateWindow(window);

  MSG message;
  BOOL got;
  while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
