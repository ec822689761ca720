// Asynchronous reads with completion routines: what the readers rely on to
// take each report, and what ends a pending read when the bridge stops.
#include <cstring>
#include <string>
#include <vector>

#include "cases.h"
#include "gate.h"
#include "side.h"

namespace {

constexpr DWORD kReportLength = 4;
// Pipe errors, which the simulated Windows does not name.
constexpr DWORD kErrorBrokenPipe = 109;

struct Completion {
  DWORD error;
  DWORD bytes;
  LPOVERLAPPED overlapped;
  DWORD thread;
  bool marked_complete;  // HasOverlappedIoCompleted as the routine ran
};

std::vector<Completion> completions;  // appended by the thread each completion runs on

void CALLBACK RecordCompletion(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  completions.push_back(
      {error, bytes, overlapped, GetCurrentThreadId(), HasOverlappedIoCompleted(overlapped) != 0});
}

// One read and what it reads into; neither may move while the read is pending.
struct Read {
  OVERLAPPED overlapped = {};
  BYTE buffer[kReportLength] = {};
};

bool StartRead(HANDLE handle, Read* read) {
  SetLastError(kSentinelError);
  const BOOL started = ReadFileEx(handle, read->buffer, kReportLength, &read->overlapped, RecordCompletion);
  return CHECK(started, "ReadFileEx failed, error %lu", static_cast<unsigned long>(GetLastError()));
}

std::string ErrorName(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return "ERROR_SUCCESS";
    case ERROR_INVALID_HANDLE:
      return "ERROR_INVALID_HANDLE";
    case ERROR_OPERATION_ABORTED:
      return "ERROR_OPERATION_ABORTED";
    case ERROR_DEVICE_NOT_CONNECTED:
      return "ERROR_DEVICE_NOT_CONNECTED";
    case kErrorBrokenPipe:
      return "ERROR_BROKEN_PIPE";
    default:
      return std::to_string(error);
  }
}

// The one completion expected, checked; false when there is not exactly one.
bool CheckOneCompletion(const Read& read, DWORD thread, DWORD error, DWORD bytes) {
  if (!CHECK(completions.size() == 1, "%d completions ran, expected 1", static_cast<int>(completions.size())))
    return false;
  const Completion& done = completions[0];
  CHECK(done.thread == thread, "the completion ran on another thread than the one that started the read");
  CHECK(done.overlapped == &read.overlapped, "the completion was given another OVERLAPPED");
  CHECK(done.error == error, "the completion got %s, expected %s", ErrorName(done.error).c_str(),
        ErrorName(error).c_str());
  CHECK(done.bytes == bytes, "the completion got %lu bytes, expected %lu",
        static_cast<unsigned long>(done.bytes), static_cast<unsigned long>(bytes));
  CHECK(done.marked_complete, "HasOverlappedIoCompleted was false while the completion ran");
  return true;
}

// A thread on which a report arrives, and which then sleeps alertably once.
struct Arrival {
  ReportSource* source;
  BYTE report[kReportLength];
  bool arrived;
  DWORD alertable_result;
  size_t completions_here;
};

DWORD WINAPI ArriveAndSleep(LPVOID parameter) {
  auto* arrival = static_cast<Arrival*>(parameter);
  arrival->arrived = ArriveReport(arrival->source, arrival->report);
  arrival->alertable_result = SleepEx(0, TRUE);
  arrival->completions_here = completions.size();
  return 0;
}

void CompletionOnlyInAlertableWait() {
  completions.clear();
  ReportSource source;
  if (!CHECK(OpenReportSource(&source), "the report source (%s) could not be opened", ReportSourceKind()))
    return;
  Read read;
  if (StartRead(source.reader, &read)) {
    CHECK(!HasOverlappedIoCompleted(&read.overlapped), "a read with no report yet is not pending");
    Arrival arrival = {&source, {0x01, 0x04, 0x00, 0x00}, false, 0xFFFF, 0};
    HANDLE thread = CreateThread(nullptr, 0, ArriveAndSleep, &arrival, 0, nullptr);
    if (CHECK(thread != nullptr, "CreateThread failed")) {
      // Not alertable: the report has arrived once the thread has ended, but the completion waits.
      CHECK(WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0, "the arriving thread did not end");
      CloseHandle(thread);
      CHECK(arrival.arrived, "the report did not arrive");
      CHECK(arrival.alertable_result == 0 && arrival.completions_here == 0,
            "the completion ran in the arriving thread's alertable sleep");
      CHECK(completions.empty(), "the completion ran in a wait that was not alertable");
      CHECK(SleepEx(0, FALSE) == 0 && completions.empty(),
            "the completion ran in a sleep that was not alertable");
      const DWORD slept = SleepEx(INFINITE, TRUE);
      CHECK(slept == WAIT_IO_COMPLETION, "SleepEx returned 0x%lX, expected WAIT_IO_COMPLETION",
            static_cast<unsigned long>(slept));
      CheckOneCompletion(read, GetCurrentThreadId(), ERROR_SUCCESS, kReportLength);
      CHECK(std::memcmp(read.buffer, arrival.report, kReportLength) == 0,
            "the buffer does not hold the report");
      CHECK(SleepEx(0, TRUE) == 0, "a second alertable sleep found something to run");
    }
  }
  CloseReportSource(&source);
  CHECK(completions.size() <= 1, "a completion ran after the reader was closed");
}

void ReportBeforeRead() {
  completions.clear();
  ReportSource source;
  if (!CHECK(OpenReportSource(&source), "the report source (%s) could not be opened", ReportSourceKind()))
    return;
  const BYTE first[kReportLength] = {0x01, 0x02, 0x00, 0x00};
  const BYTE second[kReportLength] = {0x01, 0x08, 0x00, 0x00};
  if (CHECK(ArriveReport(&source, first) && ArriveReport(&source, second), "the reports did not arrive")) {
    for (const BYTE* expected : {first, second}) {
      completions.clear();
      Read read;
      if (!StartRead(source.reader, &read)) break;
      const DWORD slept = SleepEx(INFINITE, TRUE);
      CHECK(slept == WAIT_IO_COMPLETION, "SleepEx returned 0x%lX", static_cast<unsigned long>(slept));
      CheckOneCompletion(read, GetCurrentThreadId(), ERROR_SUCCESS, kReportLength);
      CHECK(std::memcmp(read.buffer, expected, kReportLength) == 0,
            "the read got button byte 0x%02X, expected 0x%02X", read.buffer[1], expected[1]);
    }
  }
  CloseReportSource(&source);
}

void CancelIoEndsRead() {
  completions.clear();
  ReportSource source;
  if (!CHECK(OpenReportSource(&source), "the report source (%s) could not be opened", ReportSourceKind()))
    return;
  Read read;
  if (StartRead(source.reader, &read)) {
    SetLastError(kSentinelError);
    CHECK(CancelIo(source.reader), "CancelIo failed, error %lu", static_cast<unsigned long>(GetLastError()));
    CHECK(completions.empty(), "the completion ran inside CancelIo");
    const DWORD slept = SleepEx(INFINITE, TRUE);
    CHECK(slept == WAIT_IO_COMPLETION, "SleepEx returned 0x%lX", static_cast<unsigned long>(slept));
    CheckOneCompletion(read, GetCurrentThreadId(), ERROR_OPERATION_ABORTED, 0);
    // The handle still reads: a report after the cancel reaches the next read.
    completions.clear();
    const BYTE report[kReportLength] = {0x00, 0x10, 0x00, 0x00};
    Read next;
    if (CHECK(ArriveReport(&source, report), "the report did not arrive") &&
        StartRead(source.reader, &next)) {
      CHECK(SleepEx(INFINITE, TRUE) == WAIT_IO_COMPLETION, "SleepEx did not run the next completion");
      CheckOneCompletion(next, GetCurrentThreadId(), ERROR_SUCCESS, kReportLength);
      CHECK(next.buffer[1] == 0x10, "the next read got button byte 0x%02X", next.buffer[1]);
    }
  }
  CloseReportSource(&source);
}

// A reader woken as the bridge wakes its readers to stop them: an APC from
// another thread ends its alertable wait while its read is still pending, and
// it then cancels the read and waits for it to end. The APC is queued only
// once the reader surely runs (see the gate), since Windows may run an APC
// queued to a thread that has not begun as the thread starts.
struct WokenReader {
  ReportSource* source = nullptr;
  Gate gate;
  HANDLE self = nullptr;
  DWORD id = 0;
  Read read;
  bool woken = false;
  DWORD woken_sleep = 0xFFFF;
  bool pending_after_wake = false;
  size_t completions_after_wake = 0;
  BOOL cancelled = FALSE;
  DWORD cancelled_sleep = 0xFFFF;
};

void NTAPI Wake(ULONG_PTR reader) {
  reinterpret_cast<WokenReader*>(reader)->woken = true;
}

DWORD WINAPI QueueWake(LPVOID parameter) {
  auto* reader = static_cast<WokenReader*>(parameter);
  return QueueUserAPC(Wake, reader->self, reinterpret_cast<ULONG_PTR>(reader)) != 0 ? 0 : 1;
}

DWORD WINAPI ReadUntilWoken(LPVOID parameter) {
  auto* reader = static_cast<WokenReader*>(parameter);
  reader->id = GetCurrentThreadId();
  if (WaitForSingleObject(reader->gate.thread, INFINITE) != WAIT_OBJECT_0) return 1;
  if (!ReadFileEx(reader->source->reader, reader->read.buffer, kReportLength, &reader->read.overlapped,
                  RecordCompletion)) {
    return 2;
  }
  HANDLE waker = CreateThread(nullptr, 0, QueueWake, reader, 0, nullptr);
  if (waker == nullptr) return 3;
  reader->woken_sleep = SleepEx(INFINITE, TRUE);
  reader->pending_after_wake = !HasOverlappedIoCompleted(&reader->read.overlapped);
  reader->completions_after_wake = completions.size();
  reader->cancelled = CancelIo(reader->source->reader);
  reader->cancelled_sleep = SleepEx(INFINITE, TRUE);
  WaitForSingleObject(waker, INFINITE);
  DWORD queued = 1;
  GetExitCodeThread(waker, &queued);
  CloseHandle(waker);
  return queued == 0 ? 0 : 4;
}

void ApcWakesReaderThenCancelIo() {
  completions.clear();
  ReportSource source;
  if (!CHECK(OpenReportSource(&source), "the report source (%s) could not be opened", ReportSourceKind()))
    return;
  WokenReader reader;
  reader.source = &source;
  if (StartGate(&reader.gate)) {
    reader.self = CreateThread(nullptr, 0, ReadUntilWoken, &reader, 0, nullptr);
    const bool started = CHECK(reader.self != nullptr, "CreateThread failed");
    OpenGate(&reader.gate);
    if (started) {
      WaitForSingleObject(reader.self, INFINITE);
      DWORD code = 9;
      GetExitCodeThread(reader.self, &code);
      CloseHandle(reader.self);
      if (CHECK(code == 0, "the reader failed at step %lu", static_cast<unsigned long>(code))) {
        CHECK(reader.woken && reader.woken_sleep == WAIT_IO_COMPLETION,
              "the APC did not end the reader's alertable wait (SleepEx returned 0x%lX)",
              static_cast<unsigned long>(reader.woken_sleep));
        CHECK(reader.pending_after_wake && reader.completions_after_wake == 0,
              "the read was no longer pending after the wake");
        CHECK(reader.cancelled, "CancelIo failed");
        CHECK(reader.cancelled_sleep == WAIT_IO_COMPLETION, "SleepEx after CancelIo returned 0x%lX",
              static_cast<unsigned long>(reader.cancelled_sleep));
        CheckOneCompletion(reader.read, reader.id, ERROR_OPERATION_ABORTED, 0);
      }
    }
    CloseGate(&reader.gate);
  }
  CloseReportSource(&source);
}

// A reading thread: starts a read, has another thread close the handle (or
// closes it itself), sleeps alertably and records what happened.
struct ClosedRead {
  ReportSource* source;
  bool closed_elsewhere;
  Read read;
  DWORD id;
  bool started;
  BOOL closed;
  BOOL read_after_close;
  DWORD error_after_close;
  DWORD slept;
};

DWORD WINAPI CloseReader(LPVOID parameter) {
  auto* closing = static_cast<ClosedRead*>(parameter);
  closing->closed = CloseHandle(closing->source->reader);
  Read refused;
  SetLastError(kSentinelError);
  closing->read_after_close = ReadFileEx(closing->source->reader, refused.buffer, kReportLength,
                                         &refused.overlapped, RecordCompletion);
  closing->error_after_close = GetLastError();
  return 0;
}

DWORD WINAPI ReadUntilClosed(LPVOID parameter) {
  auto* closing = static_cast<ClosedRead*>(parameter);
  closing->id = GetCurrentThreadId();
  closing->started = ReadFileEx(closing->source->reader, closing->read.buffer, kReportLength,
                                &closing->read.overlapped, RecordCompletion) != FALSE;
  if (!closing->started) return 1;
  if (closing->closed_elsewhere) {
    // The closing thread starts only once the read is pending.
    HANDLE closer = CreateThread(nullptr, 0, CloseReader, closing, 0, nullptr);
    if (closer == nullptr) return 2;
    WaitForSingleObject(closer, INFINITE);
    CloseHandle(closer);
  } else {
    CloseReader(closing);
  }
  closing->slept = SleepEx(INFINITE, TRUE);
  return 0;
}

void CloseHandleEndsRead() {
  struct Row {
    const char* name;
    bool closed_elsewhere;
  };
  const Row rows[] = {{"closed by another thread", true}, {"closed by the reading thread", false}};
  for (const Row& row : rows) {
    completions.clear();
    ReportSource source;
    if (!CHECK(OpenReportSource(&source), "the report source (%s) could not be opened", ReportSourceKind()))
      return;
    ClosedRead closing = {&source, row.closed_elsewhere, {}, 0, false, FALSE, FALSE, 0, 0};
    HANDLE reader = CreateThread(nullptr, 0, ReadUntilClosed, &closing, 0, nullptr);
    if (CHECK(reader != nullptr, "CreateThread failed")) {
      WaitForSingleObject(reader, INFINITE);
      DWORD code = 9;
      GetExitCodeThread(reader, &code);
      CloseHandle(reader);
      if (CHECK(code == 0 && closing.started, "row \"%s\": the reading thread failed at step %lu", row.name,
                static_cast<unsigned long>(code))) {
        source.reader = nullptr;
        CHECK(closing.closed, "row \"%s\": CloseHandle failed", row.name);
        CHECK(!closing.read_after_close && closing.error_after_close == ERROR_INVALID_HANDLE,
              "row \"%s\": ReadFileEx on the closed handle gave %d with %s", row.name,
              static_cast<int>(closing.read_after_close), ErrorName(closing.error_after_close).c_str());
        CHECK(closing.slept == WAIT_IO_COMPLETION, "row \"%s\": SleepEx returned 0x%lX", row.name,
              static_cast<unsigned long>(closing.slept));
        if (CheckOneCompletion(closing.read, closing.id, ReaderClosedError(), 0)) {
          Note("%s: a pending read whose handle is closed ends with %s: %s", row.name,
               ErrorName(completions[0].error).c_str(), ReaderClosedWhy());
        }
      }
    }
    CloseReportSource(&source);
  }
}

void CloseHandleEndsHidReadAborted() {
  if (!ReportSourceIsHid()) {
    SkipCase(
        "a pipe is not a HID device. The HID class driver cancels the reads pending on a handle when the "
        "handle is closed, so they end with ERROR_OPERATION_ABORTED, which is what the simulated Windows "
        "gives; here the reads are on %s, which ends them as the case before this one shows (%s: %s)",
        ReportSourceKind(), ErrorName(ReaderClosedError()).c_str(), ReaderClosedWhy());
    return;
  }
  completions.clear();
  ReportSource source;
  if (!CHECK(OpenReportSource(&source), "the report source could not be opened")) return;
  Read read;
  if (StartRead(source.reader, &read)) {
    CHECK(CloseHandle(source.reader), "CloseHandle failed");
    source.reader = nullptr;
    CHECK(SleepEx(INFINITE, TRUE) == WAIT_IO_COMPLETION, "SleepEx did not run the completion");
    CheckOneCompletion(read, GetCurrentThreadId(), ERROR_OPERATION_ABORTED, 0);
  }
  CloseReportSource(&source);
}

// The far side goes away while a read is pending: the read ends with
// `expected`, and the next read is refused with the same error, which ends a
// reader.
void CheckFarSideGone(DWORD expected, const char* why) {
  completions.clear();
  ReportSource source;
  if (!CHECK(OpenReportSource(&source), "the report source (%s) could not be opened", ReportSourceKind()))
    return;
  Read read;
  if (StartRead(source.reader, &read)) {
    EndFarSide(&source);
    CHECK(completions.empty(), "the completion ran before an alertable wait");
    CHECK(SleepEx(INFINITE, TRUE) == WAIT_IO_COMPLETION, "SleepEx did not run the completion");
    if (CheckOneCompletion(read, GetCurrentThreadId(), expected, 0)) {
      Note("the pending read ends with %s: %s", ErrorName(completions[0].error).c_str(), why);
    }
    Read next;
    SetLastError(kSentinelError);
    const BOOL started =
        ReadFileEx(source.reader, next.buffer, kReportLength, &next.overlapped, RecordCompletion);
    const DWORD error = GetLastError();
    CHECK(!started, "a read after the far side went away was started");
    CHECK(error == expected, "the refused read's error is %s, expected %s", ErrorName(error).c_str(),
          ErrorName(expected).c_str());
    if (started) SleepEx(INFINITE, TRUE);
  }
  CloseReportSource(&source);
}

void FarSideGoneEndsRead() {
  CheckFarSideGone(FarSideGoneError(), FarSideGoneWhy());
}

void UnplugEndsHidRead() {
  if (!ReportSourceIsHid()) {
    SkipCase(
        "a pipe is not a HID device. When a HID device leaves, the HID class driver ends the reads pending "
        "on it with ERROR_DEVICE_NOT_CONNECTED, which is what the simulated Windows gives; here the far side "
        "of %s going away ends them with %s (%s)",
        ReportSourceKind(), ErrorName(FarSideGoneError()).c_str(), FarSideGoneWhy());
    return;
  }
  CheckFarSideGone(ERROR_DEVICE_NOT_CONNECTED, "the device was unplugged");
}

const ConformanceCase kCases[] = {
    {"A report completes a pending read; the completion runs only in an alertable wait of the thread that "
     "started the read, and SleepEx then returns WAIT_IO_COMPLETION",
     CompletionOnlyInAlertableWait},
    {"Reports that arrive before the read starts are kept for the next reads, in order", ReportBeforeRead},
    {"CancelIo ends a pending read with ERROR_OPERATION_ABORTED", CancelIoEndsRead},
    {"An APC ends a reader's alertable wait while its read stays pending; CancelIo then ends the read",
     ApcWakesReaderThenCancelIo},
    {"CloseHandle ends a pending read; the completion runs on the thread that started it",
     CloseHandleEndsRead},
    {"CloseHandle ends a pending HID read with ERROR_OPERATION_ABORTED, as the HID class driver does",
     CloseHandleEndsHidReadAborted},
    {"A pending read ends when the far side goes away, and the next read is refused", FarSideGoneEndsRead},
    {"Unplugging a HID device ends its pending read with ERROR_DEVICE_NOT_CONNECTED", UnplugEndsHidRead},
};

}  // namespace

std::span<const ConformanceCase> ReadCases() {
  return kCases;
}
