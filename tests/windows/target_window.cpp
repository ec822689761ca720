#include "target_window.h"

#include <cstdio>

#include "check.h"

namespace wintest {

namespace {

constexpr char kTargetClass[] = "KalvorethClass";
constexpr char kTargetTitle[] = "KalvorethTitle";

bool RegisterTargetClass() {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kTargetClass;
  SetLastError(0xDEADBEEF);
  registered = RegisterClassA(&window_class) != 0;
  return CHECK(registered, "could not register the target window class (error %lu)", GetLastError());
}

}  // namespace

TargetWindow::TargetWindow() {
  if (!RegisterTargetClass()) return;
  SetLastError(0xDEADBEEF);
  window_ = CreateWindowExA(0, kTargetClass, kTargetTitle, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  CHECK(window_ != nullptr, "could not create the target window (error %lu)", GetLastError());
}

TargetWindow::~TargetWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
}

int TargetWindow::TakeButtonMessages() {
  int button_messages = 0;
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == kButtonMessage) {
      ++button_messages;
      printf("button message to %p: wParam %lu, lParam 0x%08lX\n", static_cast<void*>(message.hwnd),
             static_cast<unsigned long>(message.wParam), static_cast<unsigned long>(message.lParam));
      continue;
    }
    DispatchMessageA(&message);
  }
  return button_messages;
}

}  // namespace wintest
