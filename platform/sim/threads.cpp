// Threads: real threads started through CreateThread and StartProcess, their
// end, exit codes, and each thread's last error.
#include <cinttypes>
#include <system_error>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

thread_local DWORD last_error = ERROR_SUCCESS;

// Thrown by ExitThread and caught where the machine started the thread.
struct ThreadExit {
  DWORD code;
};

void RunThread(ThreadPtr record, std::uint64_t generation, std::function<DWORD()> body, bool process) {
  BindCurrentThread(record, generation);
  DWORD code = 0;
  try {
    code = body();
  } catch (const ThreadExit& exit) {
    code = exit.code;
  }
  auto lock = Lock();
  if (S().generation != generation) {
    record->ended = true;
    return;
  }
  if (process) {
    S().process_exited = true;
    S().process_exit_code = static_cast<int>(code);
  }
  EndThread(*record, code);
}

ThreadPtr NewSimulatedThread() {
  auto record = std::make_shared<ThreadRecord>();
  record->simulated = true;
  record->id = S().next_thread_id;
  S().next_thread_id += 4;
  S().threads.push_back(record);
  return record;
}

}  // namespace

void SetError(DWORD error) {
  last_error = error;
}

void EndThread(ThreadRecord& thread, DWORD exit_code) {
  State& state = S();
  thread.ended = true;
  thread.exit_code = exit_code;
  thread.blocked = Blocked::No;
  thread.waiting_on.clear();
  thread.queued_calls.clear();
  thread.posted.clear();
  thread.sent.clear();
  thread.quit_pending = false;
  // Windows destroys the windows of a thread that ends...
  for (auto& [value, window] : state.windows) {
    if (window->owner.get() == &thread && !window->destroyed) DestroyWindowRecord(*window);
  }
  // ...and cancels the reads it started; nobody is left to run their completions.
  for (auto& [value, object] : state.handles) {
    if (object.file == nullptr) continue;
    std::erase_if(object.file->pending,
                  [&](const PendingRead& read) { return read.thread.get() == &thread; });
  }
  for (const ThreadPtr& other : state.threads) {
    if (other->blocked == Blocked::Wait) other->wake.notify_all();
  }
  TheMachine().changed.notify_all();
}

}  // namespace sim::detail

using namespace sim::detail;

DWORD GetLastError() {
  auto lock = Enter("GetLastError");
  Trace("GetLastError");
  return last_error;
}

void SetLastError(DWORD error) {
  auto lock = Enter("SetLastError");
  Trace("SetLastError error=%u", error);
  last_error = error;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stack_size, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creation_flags, LPDWORD thread_id) {
  auto lock = Enter("CreateThread");
  Trace("CreateThread stack=%zu flags=0x%X", stack_size, creation_flags);
  if (TakeFault(sim::Fault::Thread)) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  // Suspended creation is not modelled; refusing it keeps a caller from
  // relying on it unseen.
  if (start == nullptr || creation_flags != 0) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Threads that ended are joined here too, so that a process creating
  // threads for days does not pile up finished host threads.
  std::vector<std::thread> ended = TakeEndedThreads();
  ThreadPtr record = NewSimulatedThread();
  HANDLE handle = nullptr;
  try {
    record->thread = std::thread(
        RunThread, record, S().generation, [start, parameter] { return start(parameter); }, false);
    if (thread_id != nullptr) *thread_id = record->id;
    handle = AddHandle(KernelObject{record, nullptr});
  } catch (const std::system_error&) {
    record->ended = true;
    SetError(ERROR_NOT_ENOUGH_MEMORY);
  }
  lock.unlock();
  for (std::thread& thread : ended) thread.join();
  return handle;
}

void ExitThread(DWORD exit_code) {
  {
    auto lock = Enter("ExitThread");
    Trace("ExitThread code=%u", exit_code);
  }
  throw ThreadExit{exit_code};
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code) {
  auto lock = Enter("GetExitCodeThread");
  Trace("GetExitCodeThread handle=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(thread));
  ThreadPtr record = FindThreadHandle(thread);
  if (record == nullptr || exit_code == nullptr) {
    SetError(record == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *exit_code = record->ended ? record->exit_code : STILL_ACTIVE;
  return TRUE;
}

DWORD GetCurrentThreadId() {
  auto lock = Enter("GetCurrentThreadId");
  Trace("GetCurrentThreadId");
  return CurrentThread()->id;
}

namespace sim {

void StartProcess(std::function<int()> main) {
  auto lock = Lock();
  ThreadPtr record = NewSimulatedThread();
  S().process = record;
  S().process_exited = false;
  S().process_exit_code = 0;
  record->thread = std::thread(
      RunThread, record, S().generation, [main = std::move(main)] { return static_cast<DWORD>(main()); },
      true);
}

bool ProcessExited(int* exit_code) {
  auto lock = Lock();
  if (S().process == nullptr || !S().process_exited) return false;
  if (exit_code != nullptr) *exit_code = S().process_exit_code;
  return true;
}

int JoinProcess() {
  std::thread main_thread;
  int exit_code = 0;
  {
    auto lock = Lock();
    if (S().process == nullptr) return 0;
    TheMachine().changed.wait(lock, [] { return S().process_exited; });
    main_thread = std::move(S().process->thread);
    exit_code = S().process_exit_code;
  }
  if (main_thread.joinable()) main_thread.join();
  return exit_code;
}

}  // namespace sim
