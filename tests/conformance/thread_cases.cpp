// Threads, their ends and asynchronous procedure calls: what the bridge relies
// on to wake its readers and to wait for them to end.
#include <vector>

#include "cases.h"
#include "gate.h"

namespace {

// ---- Threads that the cases start ------------------------------------------

DWORD WINAPI ReturnParameter(LPVOID parameter) {
  return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter));
}

[[noreturn]] void ExitFromInside(DWORD code) {
  ExitThread(code);
}

DWORD WINAPI ExitThreadWithParameter(LPVOID parameter) {
  ExitFromInside(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter)));
}

// What the APCs that the cases queue saw.
struct ApcRun {
  DWORD thread;
  ULONG_PTR data;
};
std::vector<ApcRun> apc_runs;  // written only by the thread the APCs run on

void NTAPI RecordApc(ULONG_PTR data) {
  apc_runs.push_back({GetCurrentThreadId(), data});
}

// A thread that takes APCs. An APC queued to a thread that has not begun to
// run may be run by Windows as the thread starts, before its routine, so the
// APCs are queued only once the taker surely runs: it first waits for a gate
// to end (its own handle is stored by then), then starts the thread that
// queues them.
struct ApcTaker {
  Gate gate;
  HANDLE self = nullptr;
  DWORD id = 0;
  int apcs = 0;                 // how many the queuing thread queues
  bool sleep_for_them = false;  // sleep alertably until they come, or wait not alertably for them
  DWORD queue_failures = 0;
  size_t runs_before_alertable = 0;
  DWORD non_alertable_result = 0xFFFF;
  DWORD alertable_result = 0xFFFF;
};

DWORD WINAPI QueueApcs(LPVOID parameter) {
  auto* taker = static_cast<ApcTaker*>(parameter);
  for (int i = 1; i <= taker->apcs; ++i) {
    if (QueueUserAPC(RecordApc, taker->self, static_cast<ULONG_PTR>(i)) == 0) ++taker->queue_failures;
  }
  return 0;
}

DWORD WINAPI TakeApcs(LPVOID parameter) {
  auto* taker = static_cast<ApcTaker*>(parameter);
  taker->id = GetCurrentThreadId();
  if (WaitForSingleObject(taker->gate.thread, INFINITE) != WAIT_OBJECT_0) return 1;
  HANDLE queuer = CreateThread(nullptr, 0, QueueApcs, taker, 0, nullptr);
  if (queuer == nullptr) return 2;
  if (taker->sleep_for_them) {
    // Ends with the first APC, whether it came before the sleep or during it.
    taker->alertable_result = SleepEx(INFINITE, TRUE);
    WaitForSingleObject(queuer, INFINITE);
  } else {
    // Every APC is queued while this thread waits, not alertably.
    WaitForSingleObject(queuer, INFINITE);
    taker->non_alertable_result = SleepEx(0, FALSE);
    taker->runs_before_alertable = apc_runs.size();
    taker->alertable_result = SleepEx(0, TRUE);
  }
  CloseHandle(queuer);
  return 0;
}

// Starts a taker, lets it past its gate and waits for it to end.
bool RunTaker(ApcTaker* taker) {
  apc_runs.clear();
  if (!StartGate(&taker->gate)) return false;
  taker->self = CreateThread(nullptr, 0, TakeApcs, taker, 0, nullptr);
  bool ran = CHECK(taker->self != nullptr, "CreateThread failed");
  OpenGate(&taker->gate);
  // The gate's handle stays open until the taker, which waits on it, has ended.
  ran =
      ran && CHECK(WaitForSingleObject(taker->self, INFINITE) == WAIT_OBJECT_0, "the APC taker did not end");
  CloseGate(&taker->gate);
  if (!ran) return false;
  DWORD code = 1;
  GetExitCodeThread(taker->self, &code);
  return CHECK(code == 0, "the APC taker failed at step %lu", static_cast<unsigned long>(code)) &&
         CHECK(taker->queue_failures == 0, "%lu QueueUserAPC call(s) failed",
               static_cast<unsigned long>(taker->queue_failures));
}

HANDLE Start(LPTHREAD_START_ROUTINE routine, DWORD parameter) {
  HANDLE thread = CreateThread(nullptr, 0, routine,
                               reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(parameter)), 0, nullptr);
  CHECK(thread != nullptr, "CreateThread failed, error %lu", static_cast<unsigned long>(GetLastError()));
  return thread;
}

void EndAndClose(std::initializer_list<HANDLE> threads) {
  for (HANDLE thread : threads) {
    if (thread == nullptr) continue;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

// ---- Cases --------------------------------------------------------------------

void WaitForEndedThreads() {
  HANDLE ended[3] = {Start(ReturnParameter, 0), Start(ReturnParameter, 1), Start(ExitThreadWithParameter, 2)};
  Gate running;
  if (ended[0] != nullptr && ended[1] != nullptr && ended[2] != nullptr && StartGate(&running)) {
    CHECK(WaitForMultipleObjects(3, ended, TRUE, INFINITE) == WAIT_OBJECT_0,
          "waiting for all three to end failed");
    struct Row {
      const char* name;
      bool with_running;
      bool running_first;
      BOOL wait_all;
      DWORD expected;
    };
    const Row rows[] = {
        {"all, every one ended, waited again", false, false, TRUE, WAIT_OBJECT_0},
        {"any, every one ended: the first", false, false, FALSE, WAIT_OBJECT_0},
        {"all, one still running", true, false, TRUE, WAIT_TIMEOUT},
        {"any, the running one first: the first ended one", true, true, FALSE, WAIT_OBJECT_0 + 1},
    };
    for (const Row& row : rows) {
      std::vector<HANDLE> handles;
      if (row.with_running && row.running_first) handles.push_back(running.thread);
      handles.insert(handles.end(), ended, ended + 3);
      if (row.with_running && !row.running_first) handles.push_back(running.thread);
      const DWORD result =
          WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), row.wait_all, 0);
      CHECK(result == row.expected, "row \"%s\": WaitForMultipleObjects gave 0x%lX, expected 0x%lX", row.name,
            static_cast<unsigned long>(result), static_cast<unsigned long>(row.expected));
    }
    if (OpenGate(&running)) {
      HANDLE all[4] = {ended[0], ended[1], ended[2], running.thread};
      CHECK(WaitForMultipleObjects(4, all, TRUE, INFINITE) == WAIT_OBJECT_0,
            "waiting for all four after the last had ended failed");
    }
  }
  EndAndClose({ended[0], ended[1], ended[2], running.thread});
}

void ExitCodes() {
  Gate running;
  HANDLE returned = Start(ReturnParameter, 7);
  HANDLE exited = Start(ExitThreadWithParameter, 42);
  if (StartGate(&running) && returned != nullptr && exited != nullptr) {
    DWORD code = 0;
    CHECK(GetExitCodeThread(running.thread, &code) && code == STILL_ACTIVE,
          "a running thread's exit code was %lu", static_cast<unsigned long>(code));
    WaitForSingleObject(returned, INFINITE);
    WaitForSingleObject(exited, INFINITE);
    code = 0;
    CHECK(GetExitCodeThread(returned, &code) && code == 7, "a thread that returned 7 has exit code %lu",
          static_cast<unsigned long>(code));
    code = 0;
    CHECK(GetExitCodeThread(exited, &code) && code == 42,
          "a thread that called ExitThread(42) has exit code %lu", static_cast<unsigned long>(code));
    if (OpenGate(&running)) {
      code = STILL_ACTIVE;
      CHECK(GetExitCodeThread(running.thread, &code) && code == 0, "the ended thread has exit code %lu",
            static_cast<unsigned long>(code));
    }
  }
  EndAndClose({running.thread, returned, exited});
}

void ApcWakesAlertableSleep() {
  ApcTaker taker;
  taker.apcs = 1;
  taker.sleep_for_them = true;
  if (RunTaker(&taker)) {
    CHECK(taker.alertable_result == WAIT_IO_COMPLETION, "SleepEx returned 0x%lX, expected WAIT_IO_COMPLETION",
          static_cast<unsigned long>(taker.alertable_result));
    CHECK(apc_runs.size() == 1, "the APC ran %d times", static_cast<int>(apc_runs.size()));
    if (apc_runs.size() == 1) {
      CHECK(apc_runs[0].thread == taker.id, "the APC ran on another thread than the sleeping one");
      CHECK(apc_runs[0].data == 1, "the APC received %lu", static_cast<unsigned long>(apc_runs[0].data));
    }
  }
  if (taker.self == nullptr) return;
  // An ended thread takes no APC.
  SetLastError(kSentinelError);
  const DWORD queued = QueueUserAPC(RecordApc, taker.self, 9);
  const DWORD error = GetLastError();
  CHECK(queued == 0, "QueueUserAPC to an ended thread succeeded");
  CHECK(error == ERROR_GEN_FAILURE,
        "QueueUserAPC to an ended thread set last error %lu, expected ERROR_GEN_FAILURE",
        static_cast<unsigned long>(error));
  CloseHandle(taker.self);
  CHECK(apc_runs.size() <= 1, "an APC ran after its thread had ended");
}

void ApcWaitsForAlertableWait() {
  ApcTaker taker;
  taker.apcs = 3;
  taker.sleep_for_them = false;
  if (RunTaker(&taker)) {
    CHECK(taker.runs_before_alertable == 0, "%d APC(s) ran in a wait or sleep that was not alertable",
          static_cast<int>(taker.runs_before_alertable));
    CHECK(taker.non_alertable_result == 0, "SleepEx(0, FALSE) with APCs queued returned 0x%lX",
          static_cast<unsigned long>(taker.non_alertable_result));
    CHECK(taker.alertable_result == WAIT_IO_COMPLETION, "SleepEx(0, TRUE) with APCs queued returned 0x%lX",
          static_cast<unsigned long>(taker.alertable_result));
    // One alertable wait runs every APC queued, oldest first.
    CHECK(apc_runs.size() == 3, "%d of 3 APCs ran in the one alertable sleep",
          static_cast<int>(apc_runs.size()));
    for (size_t i = 0; i < apc_runs.size(); ++i) {
      CHECK(apc_runs[i].data == i + 1 && apc_runs[i].thread == taker.id, "APC %d ran as %lu on %s thread",
            static_cast<int>(i + 1), static_cast<unsigned long>(apc_runs[i].data),
            apc_runs[i].thread == taker.id ? "the right" : "another");
    }
  }
  if (taker.self != nullptr) CloseHandle(taker.self);
}

void SleepWithNothingQueued() {
  CHECK(SleepEx(0, TRUE) == 0, "SleepEx(0, TRUE) with nothing queued did not return 0");
  CHECK(SleepEx(0, FALSE) == 0, "SleepEx(0, FALSE) did not return 0");
}

const ConformanceCase kCases[] = {
    {"WaitForMultipleObjects on ended threads", WaitForEndedThreads},
    {"GetExitCodeThread: STILL_ACTIVE, the code returned, the code given to ExitThread", ExitCodes},
    {"QueueUserAPC wakes an alertable SleepEx, which returns WAIT_IO_COMPLETION; an ended thread takes no "
     "APC",
     ApcWakesAlertableSleep},
    {"APCs wait for an alertable wait, which runs them all in order", ApcWaitsForAlertableWait},
    {"SleepEx with nothing queued returns 0", SleepWithNothingQueued},
};

}  // namespace

std::span<const ConformanceCase> ThreadCases() {
  return kCases;
}
