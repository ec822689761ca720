// Asynchronous reads on HID handles: completion order, where completions run,
// the per-handle ring of reports, and how reads end on close, cancel and unplug.
#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "support/sim_fixture.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

struct Completion {
  DWORD error;
  DWORD bytes;
  LPOVERLAPPED overlapped;
  DWORD thread;
};

std::mutex completions_mutex;
std::vector<Completion> completions;

void CALLBACK RecordCompletion(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
  const DWORD thread = GetCurrentThreadId();
  std::lock_guard<std::mutex> guard(completions_mutex);
  completions.push_back({error, bytes, overlapped, thread});
}

std::vector<Completion> Completions() {
  std::lock_guard<std::mutex> guard(completions_mutex);
  return completions;
}

std::vector<std::uint8_t> Report(std::uint8_t button) {
  return {0x00, button, 0x00, 0x00};
}

// One read and what it reads into.
struct Read {
  OVERLAPPED overlapped = {};
  std::array<BYTE, 4> buffer = {};
};

class ReadsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    std::lock_guard<std::mutex> guard(completions_mutex);
    completions.clear();
  }

  sim::DeviceId AddPad() { return sim::AddDevice(sim::ButtonCollection("pad")); }

  static HANDLE Open(sim::DeviceId device) {
    return CreateFileA(sim::DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
  }

  static BOOL Start(HANDLE handle, Read& read) {
    return ReadFileEx(handle, read.buffer.data(), 4, &read.overlapped, RecordCompletion);
  }
};

TEST_F(ReadsTest, PendingReadsCompleteOldestFirst) {
  const sim::DeviceId pad = AddPad();
  HANDLE handle = Open(pad);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  Read reads[3];
  for (Read& read : reads) {
    ASSERT_TRUE(Start(handle, read));
    EXPECT_FALSE(HasOverlappedIoCompleted(&read.overlapped));
  }
  EXPECT_EQ(sim::PendingReads(pad), 3);
  for (std::uint8_t i = 0; i < 3; ++i) EXPECT_EQ(sim::SendReport(pad, Report(0x10 + i)), 1);
  EXPECT_EQ(sim::PendingReads(pad), 0);
  EXPECT_TRUE(Completions().empty()) << "completions wait for an alertable wait";
  EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  const std::vector<Completion> done = Completions();
  ASSERT_EQ(done.size(), 3u);
  for (std::uint8_t i = 0; i < 3; ++i) {
    EXPECT_EQ(done[i].overlapped, &reads[i].overlapped) << "read " << int(i);
    EXPECT_EQ(done[i].error, ERROR_SUCCESS);
    EXPECT_EQ(done[i].bytes, 4u);
    EXPECT_EQ(reads[i].buffer[1], 0x10 + i);
    EXPECT_EQ(reads[i].overlapped.Internal, 0u);
    EXPECT_EQ(reads[i].overlapped.InternalHigh, 4u);
  }
  EXPECT_TRUE(CloseHandle(handle));
  ExpectNothingHeld();
}

TEST_F(ReadsTest, CompletionRunsOnlyInAnAlertableWaitOfTheStartingThread) {
  const sim::DeviceId pad = AddPad();
  HANDLE handle = Open(pad);
  Read read;
  ASSERT_TRUE(Start(handle, read));
  EXPECT_EQ(sim::SendReport(pad, Report(0x04)), 1);
  EXPECT_TRUE(HasOverlappedIoCompleted(&read.overlapped));
  EXPECT_EQ(SleepEx(0, FALSE), 0u);
  EXPECT_TRUE(Completions().empty()) << "a wait that is not alertable runs nothing";
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(Completions().size(), 1u);
  EXPECT_EQ(Completions()[0].thread, GetCurrentThreadId());
  EXPECT_EQ(SleepEx(0, TRUE), 0u) << "each completion runs once";
  EXPECT_TRUE(CloseHandle(handle));
  ExpectNothingHeld();
}

struct ThreadRead {
  HANDLE handle;
  Read read;
  DWORD id = 0;
  DWORD wait_result = 0;
};

DWORD WINAPI ReadOnceThread(LPVOID parameter) {
  auto* work = static_cast<ThreadRead*>(parameter);
  work->id = GetCurrentThreadId();
  if (!ReadFileEx(work->handle, work->read.buffer.data(), 4, &work->read.overlapped, RecordCompletion))
    return 1;
  work->wait_result = SleepEx(INFINITE, TRUE);
  return 0;
}

TEST_F(ReadsTest, CompletionIsQueuedToTheThreadThatStartedTheRead) {
  const sim::DeviceId pad = AddPad();
  ThreadRead work;
  work.handle = Open(pad);
  HANDLE thread = CreateThread(nullptr, 0, ReadOnceThread, &work, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  sim::WaitQuiet();
  EXPECT_EQ(sim::PendingReads(pad), 1);
  EXPECT_EQ(sim::SendReport(pad, Report(0x02)), 1);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(SleepEx(0, TRUE), 0u) << "nothing was queued to the test's thread";
  const std::vector<Completion> done = Completions();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].thread, work.id);
  EXPECT_EQ(work.wait_result, WAIT_IO_COMPLETION);
  EXPECT_EQ(work.read.buffer[1], 0x02);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_TRUE(CloseHandle(work.handle));
  ExpectNothingHeld();
}

TEST_F(ReadsTest, RingKeepsTheNewest32Reports) {
  const sim::DeviceId pad = AddPad();
  HANDLE handle = Open(pad);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(sim::SendReport(pad, Report(static_cast<std::uint8_t>(i))), 0);
  EXPECT_EQ(sim::BufferedReports(pad), 32);
  for (int i = 8; i < 40; ++i) {
    Read read;
    ASSERT_TRUE(Start(handle, read));
    // A buffered report completes the read at once.
    EXPECT_TRUE(HasOverlappedIoCompleted(&read.overlapped));
    EXPECT_EQ(read.buffer[1], i) << "the oldest reports were dropped";
  }
  EXPECT_EQ(sim::BufferedReports(pad), 0);
  Read last;
  ASSERT_TRUE(Start(handle, last));
  EXPECT_FALSE(HasOverlappedIoCompleted(&last.overlapped));
  EXPECT_EQ(sim::PendingReads(pad), 1);
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  EXPECT_EQ(Completions().size(), 33u);
  ExpectNothingHeld();
}

TEST_F(ReadsTest, EachHandleHasItsOwnRing) {
  const sim::DeviceId pad = AddPad();
  HANDLE reading = Open(pad);
  HANDLE idle = Open(pad);
  Read read;
  ASSERT_TRUE(Start(reading, read));
  EXPECT_EQ(sim::SendReport(pad, Report(0x01)), 1);
  EXPECT_EQ(sim::BufferedReports(pad), 1) << "the idle handle keeps the report";
  EXPECT_EQ(sim::SendReport(pad, Report(0x02)), 0);
  EXPECT_EQ(sim::BufferedReports(pad), 3);
  EXPECT_EQ(sim::OpenHandles(pad), 2);
  EXPECT_TRUE(CloseHandle(idle));
  EXPECT_EQ(sim::BufferedReports(pad), 1);
  EXPECT_TRUE(CloseHandle(reading));
  SleepEx(0, TRUE);
  ExpectNothingHeld();
}

TEST_F(ReadsTest, CopiesAtMostTheBufferLength) {
  const sim::DeviceId pad = AddPad();
  HANDLE handle = Open(pad);
  struct Row {
    DWORD buffer_length;
    std::vector<std::uint8_t> report;
    DWORD expected_bytes;
  };
  const Row rows[] = {
      {2, {0x01, 0x02, 0x03, 0x04}, 2},
      {4, {0x01, 0x02}, 2},
      {4, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}, 4},
  };
  for (const Row& row : rows) {
    std::array<BYTE, 8> buffer;
    buffer.fill(0xEE);
    OVERLAPPED overlapped = {};
    ASSERT_TRUE(ReadFileEx(handle, buffer.data(), row.buffer_length, &overlapped, RecordCompletion));
    EXPECT_EQ(sim::SendReport(pad, row.report), 1);
    EXPECT_EQ(overlapped.InternalHigh, row.expected_bytes);
    for (DWORD i = 0; i < buffer.size(); ++i) {
      const BYTE expected = i < row.expected_bytes ? row.report[i] : 0xEE;
      EXPECT_EQ(buffer[i], expected) << "buffer length " << row.buffer_length << ", byte " << i;
    }
    EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
    EXPECT_EQ(Completions().back().bytes, row.expected_bytes);
  }
  EXPECT_TRUE(CloseHandle(handle));
  ExpectNothingHeld();
}

TEST_F(ReadsTest, CloseEndsPendingReadsAsAborted) {
  const sim::DeviceId pad = AddPad();
  HANDLE handle = Open(pad);
  Read read;
  ASSERT_TRUE(Start(handle, read));
  EXPECT_TRUE(CloseHandle(handle));
  EXPECT_TRUE(HasOverlappedIoCompleted(&read.overlapped));
  EXPECT_NE(read.overlapped.Internal, 0u);
  EXPECT_EQ(read.overlapped.InternalHigh, 0u);
  EXPECT_EQ(SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(Completions().size(), 1u);
  EXPECT_EQ(Completions()[0].error, ERROR_OPERATION_ABORTED);
  EXPECT_EQ(Completions()[0].bytes, 0u);
  EXPECT_EQ(sim::OpenHandles(pad), 0);

  SetLastError(kSentinel);
  EXPECT_FALSE(CloseHandle(handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ExpectNothingHeld();
}

TEST_F(ReadsTest, ReadOnClosedOrUnknownHandleFailsAtOnce) {
  const sim::DeviceId pad = AddPad();
  HANDLE closed = Open(pad);
  ASSERT_TRUE(CloseHandle(closed));
  const HANDLE rows[] = {closed, nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x4000)};
  for (HANDLE handle : rows) {
    Read read;
    SetLastError(kSentinel);
    EXPECT_FALSE(Start(handle, read)) << handle;
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE) << handle;
  }
  EXPECT_EQ(SleepEx(0, TRUE), 0u) << "a refused read queues no completion";
  ExpectNothingHeld();
}

TEST_F(ReadsTest, ReadNeedsAnOverlappedHandle) {
  const sim::DeviceId pad = AddPad();
  HANDLE handle = CreateFileA(sim::DevicePath(pad).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  Read read;
  SetLastError(kSentinel);
  EXPECT_FALSE(Start(handle, read));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(CloseHandle(handle));
  ExpectNothingHeld();
}

DWORD WINAPI ReadUntilEndedThread(LPVOID parameter) {
  auto* work = static_cast<ThreadRead*>(parameter);
  if (!ReadFileEx(work->handle, work->read.buffer.data(), 4, &work->read.overlapped, RecordCompletion))
    return 1;
  while (!HasOverlappedIoCompleted(&work->read.overlapped)) SleepEx(INFINITE, TRUE);
  return 0;
}

TEST_F(ReadsTest, CancelIoEndsOnlyTheCallersReads) {
  const sim::DeviceId pad = AddPad();
  ThreadRead work;
  work.handle = Open(pad);
  HANDLE thread = CreateThread(nullptr, 0, ReadUntilEndedThread, &work, 0, nullptr);
  sim::WaitQuiet();
  Read own;
  ASSERT_TRUE(Start(work.handle, own));
  EXPECT_EQ(sim::PendingReads(pad), 2);
  EXPECT_TRUE(CancelIo(work.handle));
  EXPECT_EQ(sim::PendingReads(pad), 1) << "the other thread's read is still pending";
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(Completions().size(), 1u);
  EXPECT_EQ(Completions()[0].overlapped, &own.overlapped);
  EXPECT_EQ(Completions()[0].error, ERROR_OPERATION_ABORTED);

  EXPECT_TRUE(CloseHandle(work.handle));
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  ASSERT_EQ(Completions().size(), 2u);
  EXPECT_EQ(Completions()[1].overlapped, &work.read.overlapped);
  EXPECT_EQ(Completions()[1].error, ERROR_OPERATION_ABORTED);
  EXPECT_TRUE(CloseHandle(thread));
  ExpectNothingHeld();
}

TEST_F(ReadsTest, UnplugEndsReadsAndRefusesNewOnes) {
  const sim::DeviceId pad = AddPad();
  const std::string path = sim::DevicePath(pad);
  HANDLE handle = Open(pad);
  sim::SendReport(pad, Report(0x01));
  Read buffered;
  ASSERT_TRUE(Start(handle, buffered));
  Read pending;
  ASSERT_TRUE(Start(handle, pending));
  sim::RemoveDevice(pad);
  EXPECT_TRUE(HasOverlappedIoCompleted(&pending.overlapped));
  EXPECT_EQ(SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(Completions().size(), 2u);
  EXPECT_EQ(Completions()[0].error, ERROR_SUCCESS);
  EXPECT_EQ(Completions()[1].error, ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(Completions()[1].overlapped, &pending.overlapped);

  Read refused;
  SetLastError(kSentinel);
  EXPECT_FALSE(Start(handle, refused));
  EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_EQ(sim::SendReport(pad, Report(0x02)), 0);
  EXPECT_EQ(sim::OpenHandles(pad), 1) << "the handle stays open until closed";
  SetLastError(kSentinel);
  EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(CloseHandle(handle));
  ExpectNothingHeld();
}

DWORD WINAPI StartReadAndEndThread(LPVOID parameter) {
  auto* work = static_cast<ThreadRead*>(parameter);
  return ReadFileEx(work->handle, work->read.buffer.data(), 4, &work->read.overlapped, RecordCompletion) ? 0
                                                                                                         : 1;
}

TEST_F(ReadsTest, ThreadThatEndsTakesItsReadsWithIt) {
  const sim::DeviceId pad = AddPad();
  ThreadRead work;
  work.handle = Open(pad);
  HANDLE thread = CreateThread(nullptr, 0, StartReadAndEndThread, &work, 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(sim::PendingReads(pad), 0);
  EXPECT_EQ(sim::SendReport(pad, Report(0x01)), 0);
  EXPECT_EQ(sim::BufferedReports(pad), 1);
  EXPECT_TRUE(Completions().empty());
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_TRUE(CloseHandle(work.handle));
  ExpectNothingHeld();
}

TEST_F(ReadsTest, ReadFaultRefusesTheRead) {
  const sim::DeviceId pad = AddPad();
  HANDLE handle = Open(pad);
  sim::FailNth(sim::Fault::Read, 2);
  Read first;
  Read second;
  Read third;
  EXPECT_TRUE(Start(handle, first));
  SetLastError(kSentinel);
  EXPECT_FALSE(Start(handle, second));
  EXPECT_EQ(GetLastError(), ERROR_NO_SYSTEM_RESOURCES);
  EXPECT_TRUE(Start(handle, third));
  EXPECT_EQ(sim::PendingReads(pad), 2);
  EXPECT_EQ(sim::FaultPoints(sim::Fault::Read), 3);
  EXPECT_EQ(sim::DeviceCalls(pad, "ReadFileEx"), 2);
  EXPECT_TRUE(CloseHandle(handle));
  SleepEx(0, TRUE);
  ExpectNothingHeld();
}

}  // namespace
