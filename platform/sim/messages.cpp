// Message queues: posting, the message loop's calls, and the recording of what
// windows of other processes receive.
#include <algorithm>
#include <cinttypes>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

std::uintptr_t Value(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer);
}

bool PassesFilter(const ThreadRecord& thread, const MSG& message) {
  if (thread.filter_window != nullptr && message.hwnd != thread.filter_window) return false;
  if (thread.filter_min == 0 && thread.filter_max == 0) return true;
  return thread.filter_min <= message.message && message.message <= thread.filter_max;
}

// Sent messages are processed inside GetMessageA, before any posted message,
// by calling the window procedure directly.
void ProcessSentMessage(std::unique_lock<std::mutex>& lock, ThreadRecord& self) {
  const SentMessage sent = std::move(self.sent.front());
  self.sent.pop_front();
  WindowPtr window = FindLiveWindow(sent.window);
  if (window == nullptr) return;
  const LPARAM l_param = sent.payload.empty() ? sent.l_param : reinterpret_cast<LPARAM>(sent.payload.data());
  const WNDPROC procedure = window->procedure;
  lock.unlock();
  procedure(sent.window, sent.message, sent.w_param, l_param);
  lock.lock();
  if (sent.destroy_after) {
    if (WindowPtr still = FindLiveWindow(sent.window)) DestroyWindowRecord(*still);
  }
}

// Hands the messages posted to windows of other processes to the observer, in
// posting order and without the lock: whichever thread finds nobody
// delivering delivers everything queued, its own message and later ones.
void DeliverObserved(std::unique_lock<std::mutex>& lock) {
  if (S().observing) return;
  S().observing = true;
  while (!S().unobserved.empty()) {
    const std::pair<HWND, MSG> item = S().unobserved.front();
    S().unobserved.pop_front();
    const std::function<void(HWND, const MSG&)> observer = S().observer;
    if (!observer) continue;
    lock.unlock();
    observer(item.first, item.second);
    lock.lock();
  }
  S().observing = false;
}

}  // namespace

bool HasMessage(const ThreadRecord& thread) {
  if (!thread.sent.empty() || thread.quit_pending) return true;
  return std::any_of(thread.posted.begin(), thread.posted.end(),
                     [&](const MSG& message) { return PassesFilter(thread, message); });
}

}  // namespace sim::detail

using namespace sim::detail;

BOOL PostMessageA(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  auto lock = Enter("PostMessageA");
  Trace("PostMessageA window=0x%" PRIXPTR " message=%u wparam=0x%" PRIXPTR " lparam=0x%" PRIXPTR,
        Value(window), message, w_param, static_cast<std::uintptr_t>(l_param));
  if (TakeFault(sim::Fault::Post)) {
    SetError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  const MSG posted = {window, message, w_param, l_param, 0, {0, 0}};
  if (window == nullptr) {
    // A null window posts to the calling thread's own queue, as PostThreadMessage does.
    CurrentThread()->posted.push_back(posted);
    return TRUE;
  }
  WindowPtr record = FindLiveWindow(window);
  if (record == nullptr) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (record->owner == nullptr) {
    record->received.push_back(posted);
    S().unobserved.emplace_back(window, posted);
    DeliverObserved(lock);
    return TRUE;
  }
  record->owner->posted.push_back(posted);
  record->owner->wake.notify_all();
  return TRUE;
}

BOOL GetMessageA(LPMSG msg, HWND window, UINT filter_min, UINT filter_max) {
  auto lock = Enter("GetMessageA");
  Trace("GetMessageA window=0x%" PRIXPTR " min=%u max=%u", Value(window), filter_min, filter_max);
  if (TakeFault(sim::Fault::GetMessage) || msg == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  const ThreadPtr self = CurrentThread();
  self->filter_window = window;
  self->filter_min = filter_min;
  self->filter_max = filter_max;
  for (;;) {
    if (!self->sent.empty()) {
      ProcessSentMessage(lock, *self);
      continue;
    }
    auto posted = std::find_if(self->posted.begin(), self->posted.end(),
                               [&](const MSG& message) { return PassesFilter(*self, message); });
    if (posted != self->posted.end()) {
      *msg = *posted;
      self->posted.erase(posted);
      return msg->message == WM_QUIT ? FALSE : TRUE;
    }
    // The quit request comes after every posted message.
    if (self->quit_pending) {
      self->quit_pending = false;
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(self->quit_code), 0, 0, {0, 0}};
      return FALSE;
    }
    self->blocked = Blocked::GetMessage;
    TheMachine().changed.notify_all();
    self->wake.wait(lock, [&] { return HasMessage(*self); });
    self->blocked = Blocked::No;
  }
}

BOOL TranslateMessage(const MSG* msg) {
  auto lock = Enter("TranslateMessage");
  Trace("TranslateMessage message=%u", msg == nullptr ? 0u : msg->message);
  return FALSE;
}

LRESULT DispatchMessageA(const MSG* msg) {
  auto lock = Enter("DispatchMessageA");
  if (msg == nullptr) return 0;
  Trace("DispatchMessageA window=0x%" PRIXPTR " message=%u wparam=0x%" PRIXPTR " lparam=0x%" PRIXPTR,
        Value(msg->hwnd), msg->message, msg->wParam, static_cast<std::uintptr_t>(msg->lParam));
  WindowPtr window = FindLiveWindow(msg->hwnd);
  if (window == nullptr || window->procedure == nullptr) return 0;
  const WNDPROC procedure = window->procedure;
  lock.unlock();
  return procedure(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exit_code) {
  auto lock = Enter("PostQuitMessage");
  Trace("PostQuitMessage code=%d", exit_code);
  const ThreadPtr self = CurrentThread();
  self->quit_pending = true;
  self->quit_code = exit_code;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  auto lock = Enter("DefWindowProcA");
  Trace("DefWindowProcA window=0x%" PRIXPTR " message=%u wparam=0x%" PRIXPTR " lparam=0x%" PRIXPTR,
        Value(window), message, w_param, static_cast<std::uintptr_t>(l_param));
  if (message != WM_CLOSE) return 0;
  // Closing destroys the window: WM_DESTROY first, then the window is gone.
  WindowPtr record = FindLiveWindow(window);
  if (record == nullptr || record->procedure == nullptr) return 0;
  const WNDPROC procedure = record->procedure;
  lock.unlock();
  procedure(window, WM_DESTROY, 0, 0);
  lock.lock();
  if (WindowPtr still = FindLiveWindow(window)) DestroyWindowRecord(*still);
  return 0;
}

namespace sim {

void OnForeignMessage(std::function<void(HWND, const MSG&)> observer) {
  auto lock = Lock();
  S().observer = std::move(observer);
}

}  // namespace sim
