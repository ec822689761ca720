// The target application's main window, stood in for by the test program: the
// agent finds it by class and title, and its button messages land in this
// program's message queue.
#pragma once

#include <windows.h>

namespace wintest {

// The button event message the agent posts to the target window.
constexpr UINT kButtonMessage = WM_USER + 100;

class TargetWindow {
 public:
  TargetWindow();
  ~TargetWindow();
  TargetWindow(const TargetWindow&) = delete;
  TargetWindow& operator=(const TargetWindow&) = delete;

  HWND handle() const { return window_; }
  // Takes every message waiting in this thread's queue; returns how many were
  // button messages, and reports each one.
  int TakeButtonMessages();

 private:
  HWND window_ = nullptr;
};

}  // namespace wintest
