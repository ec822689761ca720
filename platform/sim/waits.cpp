// Waiting: on thread handles, and alertably for the completion routines and
// APCs queued to the calling thread.
#include <chrono>
#include <cinttypes>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline(DWORD milliseconds) {
  return Clock::now() + std::chrono::milliseconds(milliseconds);
}

// Blocks the calling thread in `how` until `ready` holds; false when a finite
// wait ran out first.
template <typename Ready>
bool Block(std::unique_lock<std::mutex>& lock, ThreadRecord& self, Blocked how, DWORD milliseconds,
           Ready ready) {
  self.blocked = how;
  TheMachine().changed.notify_all();
  bool woken = true;
  if (milliseconds == INFINITE) {
    self.wake.wait(lock, ready);
  } else {
    woken = self.wake.wait_until(lock, Deadline(milliseconds), ready);
  }
  self.blocked = Blocked::No;
  return woken;
}

// Runs every queued completion routine and APC, oldest first, each outside the lock.
void RunQueuedCalls(std::unique_lock<std::mutex>& lock, ThreadRecord& self) {
  while (!self.queued_calls.empty()) {
    const QueuedCall call = self.queued_calls.front();
    self.queued_calls.pop_front();
    lock.unlock();
    if (call.completion != nullptr) {
      call.completion(call.error, call.bytes, call.overlapped);
    } else {
      call.apc(call.data);
    }
    lock.lock();
  }
}

// The index of the signalled thread that satisfies the wait, or -1.
int SatisfyingIndex(const std::vector<ThreadPtr>& threads, bool wait_all) {
  if (wait_all) {
    for (const ThreadPtr& thread : threads) {
      if (!thread->ended) return -1;
    }
    return 0;
  }
  for (std::size_t i = 0; i < threads.size(); ++i) {
    if (threads[i]->ended) return static_cast<int>(i);
  }
  return -1;
}

DWORD WaitForThreads(std::unique_lock<std::mutex>& lock, std::vector<ThreadPtr> threads, bool wait_all,
                     DWORD milliseconds) {
  int index = SatisfyingIndex(threads, wait_all);
  if (index < 0 && milliseconds != 0) {
    ThreadPtr self = CurrentThread();
    self->waiting_on = threads;
    self->wait_all = wait_all;
    Block(lock, *self, Blocked::Wait, milliseconds, [&] { return SatisfyingIndex(threads, wait_all) >= 0; });
    self->waiting_on.clear();
    index = SatisfyingIndex(threads, wait_all);
  }
  return index < 0 ? WAIT_TIMEOUT : WAIT_OBJECT_0 + static_cast<DWORD>(index);
}

}  // namespace

bool WaitSatisfied(const ThreadRecord& thread) {
  return SatisfyingIndex(thread.waiting_on, thread.wait_all) >= 0;
}

void QueueCall(ThreadRecord& thread, const QueuedCall& call) {
  // What is queued to a thread that has ended is dropped, as Windows does.
  if (thread.ended) return;
  thread.queued_calls.push_back(call);
  thread.wake.notify_all();
}

}  // namespace sim::detail

using namespace sim::detail;

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto lock = Enter("WaitForSingleObject");
  Trace("WaitForSingleObject handle=0x%" PRIXPTR " milliseconds=%u", reinterpret_cast<std::uintptr_t>(handle),
        milliseconds);
  ThreadPtr thread = FindThreadHandle(handle);
  if (thread == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return WaitForThreads(lock, {thread}, true, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all, DWORD milliseconds) {
  auto lock = Enter("WaitForMultipleObjects");
  Trace("WaitForMultipleObjects count=%u wait_all=%d milliseconds=%u", count, wait_all, milliseconds);
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<ThreadPtr> threads;
  for (DWORD i = 0; i < count; ++i) {
    ThreadPtr thread = FindThreadHandle(handles[i]);
    if (thread == nullptr) {
      SetError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    threads.push_back(thread);
  }
  return WaitForThreads(lock, std::move(threads), wait_all != FALSE, milliseconds);
}

DWORD SleepEx(DWORD milliseconds, BOOL alertable) {
  auto lock = Enter("SleepEx");
  Trace("SleepEx milliseconds=%u alertable=%d", milliseconds, alertable);
  ThreadPtr self = CurrentThread();
  if (!alertable) {
    if (milliseconds == 0) return 0;
    Block(lock, *self, milliseconds == INFINITE ? Blocked::Forever : Blocked::TimedSleep, milliseconds,
          [] { return false; });
    return 0;
  }
  if (self->queued_calls.empty()) {
    if (milliseconds == 0) return 0;
    if (!Block(lock, *self, Blocked::AlertableSleep, milliseconds,
               [&] { return !self->queued_calls.empty(); })) {
      return 0;
    }
  }
  RunQueuedCalls(lock, *self);
  return WAIT_IO_COMPLETION;
}

DWORD QueueUserAPC(PAPCFUNC routine, HANDLE thread, ULONG_PTR data) {
  auto lock = Enter("QueueUserAPC");
  Trace("QueueUserAPC handle=0x%" PRIXPTR " data=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(thread),
        data);
  ThreadPtr record = FindThreadHandle(thread);
  if (record == nullptr || routine == nullptr) {
    SetError(record == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (record->ended) {
    SetError(ERROR_GEN_FAILURE);
    return 0;
  }
  QueuedCall call;
  call.apc = routine;
  call.data = data;
  QueueCall(*record, call);
  return 1;
}
