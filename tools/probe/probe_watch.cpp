// The watch loop. One thread keeps one 4-byte asynchronous read pending on
// every collection a reader would read, and sleeps alertably between reports.
#include "tools/probe/probe_watch.h"

#include <cstring>
#include <string>
#include <vector>

namespace probe {
namespace {

constexpr DWORD kReportLength = 4;
constexpr int kButtonByte = 1;

struct Watcher {
  OVERLAPPED overlapped;  // hEvent, which ReadFileEx leaves alone, points back here
  ULONG index;
  Reader reader;
  HANDLE handle;
  BYTE report[kReportLength];
  bool pending;    // a read is in flight: its buffer and control record are the platform's
  bool completed;  // its completion routine has run and the result is not yet handled
  DWORD error;
  DWORD bytes;
  bool ended;  // no more reads on this collection
};

void CALLBACK NoteCompletion(DWORD error, DWORD bytes_transferred, LPOVERLAPPED overlapped) {
  Watcher* watcher = static_cast<Watcher*>(overlapped->hEvent);
  watcher->pending = false;
  watcher->completed = true;
  watcher->error = error;
  watcher->bytes = bytes_transferred;
}

void Say(std::FILE* out, const Watcher& watcher, const std::string& what) {
  std::fprintf(out, "index %lu %s: %s\n", static_cast<unsigned long>(watcher.index),
               ReaderName(watcher.reader), what.c_str());
  std::fflush(out);
}

// Zeroes the buffer first, as the agent's write-back does, so a short report
// has a zero button byte.
void StartRead(Watcher& watcher, std::FILE* out) {
  std::memset(&watcher.overlapped, 0, sizeof watcher.overlapped);
  watcher.overlapped.hEvent = &watcher;
  std::memset(watcher.report, 0, sizeof watcher.report);
  if (ReadFileEx(watcher.handle, watcher.report, kReportLength, &watcher.overlapped, NoteCompletion)) {
    watcher.pending = true;
    return;
  }
  const DWORD error = GetLastError();
  watcher.ended = true;
  Say(out, watcher, "read refused (error " + std::to_string(error) + "); no longer read");
}

std::string DescribeReport(const Watcher& watcher, LONG* toggle_state) {
  std::string text = "report";
  for (DWORD i = 0; i < watcher.bytes && i < kReportLength; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, " %02X", watcher.report[i]);
    text += byte;
  }
  const ButtonCode code = TranslateAs(watcher.reader, watcher.report[kButtonByte], toggle_state);
  if (code == 0) return text + " -> ButtonCode 0, nothing posted";
  char posted[64];
  std::snprintf(posted, sizeof posted, " -> ButtonCode %u, lParam 0x%08lX", code,
                static_cast<unsigned long>(code) << 16);
  return text + posted;
}

// Prints what the finished read brought and, while watching, starts the next.
void HandleCompletion(Watcher& watcher, bool rearm, LONG* toggle_state, std::FILE* out) {
  watcher.completed = false;
  if (watcher.error != ERROR_SUCCESS) {
    if (watcher.error != ERROR_OPERATION_ABORTED || rearm) {
      watcher.ended = true;
      Say(out, watcher, "read ended with error " + std::to_string(watcher.error) + "; no longer read");
    }
    return;
  }
  Say(out, watcher, DescribeReport(watcher, toggle_state));
  if (rearm) StartRead(watcher, out);
}

bool AnyPending(const std::vector<Watcher>& watchers) {
  for (const Watcher& watcher : watchers) {
    if (watcher.pending) return true;
  }
  return false;
}

}  // namespace

void CALLBACK WakeWatch(ULONG_PTR) {}

void WatchCollections(const DeviceList& list, const Selection& selection,
                      const std::atomic<bool>& stop_requested, std::FILE* out) {
  std::vector<Watcher> watchers;
  watchers.reserve(kSelectionEntries);  // never moves once reads point into it
  for (ULONG entry = 0; entry < selection.entry_count; ++entry) {
    const Reader reader = ReaderOfEntry(entry);
    if (reader == Reader::kNone) continue;
    Watcher watcher = {};
    watcher.index = selection.entries[entry];
    watcher.reader = reader;
    watcher.handle = list.records[watcher.index].handle;
    watchers.push_back(watcher);
  }
  std::string watched;
  for (const Watcher& watcher : watchers) {
    watched += (watched.empty() ? " index " : ", index ") + std::to_string(watcher.index) + " (" +
               ReaderName(watcher.reader) + ")";
  }
  std::fprintf(out, "watching%s; Ctrl+C ends\n", watched.c_str());
  std::fflush(out);

  // ReaderB's alternating code, starting as the agent's does.
  LONG toggle_state = 1;
  for (Watcher& watcher : watchers) StartRead(watcher, out);
  while (!stop_requested.load() && AnyPending(watchers)) {
    SleepEx(INFINITE, TRUE);
    for (Watcher& watcher : watchers) {
      if (watcher.completed) HandleCompletion(watcher, !stop_requested.load(), &toggle_state, out);
    }
  }

  // Cancelling ends each pending read; its completion must have run before
  // the caller closes the handle and the buffer goes away with this frame.
  int cancelled = 0;
  for (Watcher& watcher : watchers) {
    if (!watcher.pending) continue;
    CancelIo(watcher.handle);
    ++cancelled;
  }
  while (AnyPending(watchers)) SleepEx(INFINITE, TRUE);
  for (Watcher& watcher : watchers) {
    if (watcher.completed) HandleCompletion(watcher, false, &toggle_state, out);
  }
  if (stop_requested.load()) {
    std::fprintf(out, "stopped: %d pending %s cancelled\n", cancelled, cancelled == 1 ? "read" : "reads");
  } else {
    std::fprintf(out, "stopped: no collection left to read\n");
  }
  std::fflush(out);
}

}  // namespace probe
