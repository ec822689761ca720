// hid-probe's logic: the codes it names for each reader, the readers it says
// would run, the record states, and its runs on the simulated Windows (what it
// keeps pending while watching, how it stops, what it leaves behind).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/sim_fixture.h"
#include "tools/probe/probe_run.h"
#include "tools/probe/probe_table.h"
#include "tools/probe/probe_watch.h"

namespace {

using probe::Reader;

// The agent's translation tables as the target application sees them.
TEST(ProbeReaderCodes, NameEveryCodeOfEachReader) {
  struct Row {
    Reader reader;
    const char* codes;
  };
  const Row rows[] = {
      {Reader::kReaderA, "01=1 02=2 04=3 08=4 10=5 20=6"},
      {Reader::kReaderB, "01=10/7 02=9 04=13 08=14"},
      {Reader::kReaderC, "01=16 02=17 04=18"},
      {Reader::kNone, ""},
  };
  for (const Row& row : rows)
    EXPECT_EQ(probe::ReaderCodes(row.reader), row.codes) << probe::ReaderName(row.reader);
}

TEST(ProbeReaderCodes, SelectionEntriesGoToReadersAsInTheAgent) {
  EXPECT_EQ(probe::ReaderOfEntry(0), Reader::kReaderC);
  EXPECT_EQ(probe::ReaderOfEntry(1), Reader::kReaderB);
  EXPECT_EQ(probe::ReaderOfEntry(2), Reader::kReaderA);
  EXPECT_EQ(probe::ReaderOfEntry(3), Reader::kNone);
  EXPECT_EQ(probe::ReaderOfEntry(4), Reader::kNone);
}

TEST(ProbeReaderCodes, ReaderBAlternatesOnlyOnItsFirstButton) {
  LONG toggle_state = 1;
  EXPECT_EQ(probe::TranslateAs(Reader::kReaderB, 0x01, &toggle_state), 10u);
  EXPECT_EQ(probe::TranslateAs(Reader::kReaderB, 0x02, &toggle_state), 9u);
  EXPECT_EQ(probe::TranslateAs(Reader::kReaderB, 0x01, &toggle_state), 7u);
  EXPECT_EQ(probe::TranslateAs(Reader::kReaderB, 0x01, &toggle_state), 10u);
  EXPECT_EQ(probe::TranslateAs(Reader::kNone, 0x01, &toggle_state), 0u);
}

// A list whose records carry only usage pages, as opened records would.
std::vector<HidDeviceRecord> RecordsWithPages(const std::vector<USAGE>& pages) {
  std::vector<HidDeviceRecord> records(pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i) records[i].caps.UsagePage = pages[i];
  return records;
}

TEST(ProbeSelection, RecordsTheFirstFiveConsumerCollectionsAndNamesTheReadersThatRun) {
  struct Row {
    std::vector<USAGE> pages;
    std::vector<ULONG> entries;
    bool a_runs, b_runs, c_runs;
    const char* verdict;
    int status;
  };
  const Row rows[] = {
      {{}, {}, false, false, false, "verdict: no consumer-page collection; no reader would run\n", 1},
      {{0x01, 0x07},
       {},
       false,
       false,
       false,
       "verdict: no consumer-page collection; no reader would run\n",
       1},
      {{0x01, 0x0C}, {1}, false, false, true, "verdict: 1 consumer-page collection; ReaderC would run\n", 0},
      {{0x0C, 0x01, 0x0C},
       {0, 2},
       false,
       true,
       true,
       "verdict: 2 consumer-page collections; ReaderC and ReaderB would run\n",
       0},
      {{0x0C, 0x0C, 0x0C},
       {0, 1, 2},
       true,
       true,
       true,
       "verdict: 3 consumer-page collections; ReaderC, ReaderB and ReaderA would run\n",
       0},
      {{0x0C, 0x01, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C},
       {0, 2, 3, 4, 5},
       true,
       true,
       true,
       "verdict: 7 consumer-page collections; ReaderC, ReaderB and ReaderA would run\n",
       0},
      // A page whose low byte is 0x0C is another page.
      {{0x010C, 0xFF0C},
       {},
       false,
       false,
       false,
       "verdict: no consumer-page collection; no reader would run\n",
       1},
  };
  int row_number = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE("row " + std::to_string(row_number++));
    std::vector<HidDeviceRecord> records = RecordsWithPages(row.pages);
    const DeviceList list = {records.data(), static_cast<ULONG>(records.size())};
    const probe::Selection selection = probe::SelectAsAgent(list);
    ASSERT_EQ(selection.entry_count, row.entries.size());
    for (std::size_t i = 0; i < row.entries.size(); ++i) EXPECT_EQ(selection.entries[i], row.entries[i]);
    EXPECT_EQ(probe::ReaderRuns(Reader::kReaderA, selection), row.a_runs);
    EXPECT_EQ(probe::ReaderRuns(Reader::kReaderB, selection), row.b_runs);
    EXPECT_EQ(probe::ReaderRuns(Reader::kReaderC, selection), row.c_runs);
    EXPECT_FALSE(probe::ReaderRuns(Reader::kNone, selection));
    EXPECT_EQ(probe::FormatVerdict(selection), row.verdict);
    EXPECT_EQ(probe::ExitStatus(selection), row.status);
  }
}

TEST(ProbeTable, RecordStatesFollowHandleAndPreparsedData) {
  // Stand-ins for the platform's references; the probe only compares them.
  HANDLE some_handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x40));
  PHIDP_PREPARSED_DATA some_preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(static_cast<ULONG_PTR>(0x80));
  struct Row {
    HANDLE handle;
    PHIDP_PREPARSED_DATA preparsed;
    const char* state;
  };
  const Row rows[] = {
      {nullptr, nullptr, "blank"},
      {INVALID_HANDLE_VALUE, nullptr, "open refused"},
      {some_handle, nullptr, "handle only"},
      {some_handle, some_preparsed, "opened"},
  };
  for (const Row& row : rows) {
    HidDeviceRecord record = {};
    record.handle = row.handle;
    record.preparsed = row.preparsed;
    EXPECT_EQ(probe::StateName(probe::StateOf(record)), std::string(row.state));
  }
}

// ---- Runs on the simulated Windows ---------------------------------------

// What one run of the probe printed, gathered in memory.
class Output {
 public:
  Output() : file_(open_memstream(&text_, &size_)) {}
  ~Output() {
    if (file_ != nullptr) std::fclose(file_);
    std::free(text_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  std::FILE* file() const { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(text_, size_);
  }

 private:
  char* text_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

struct ProbeThreadArgs {
  bool watch = false;
  std::atomic<bool> stop_requested{false};
  std::FILE* out = nullptr;
};

DWORD WINAPI ProbeThread(LPVOID parameter) {
  auto* args = static_cast<ProbeThreadArgs*>(parameter);
  return static_cast<DWORD>(probe::RunProbe(args->watch, args->stop_requested, args->out));
}

class ProbeRunTest : public SimTest {
 protected:
  // Starts the probe on a thread of the simulated machine, as hid-probe's
  // main thread, and waits until it has nothing left to do but wait.
  void Start(bool watch) {
    args_.watch = watch;
    args_.out = output_.file();
    thread_ = CreateThread(nullptr, 0, ProbeThread, &args_, 0, nullptr);
    ASSERT_NE(thread_, nullptr);
    sim::WaitQuiet();
  }
  // Ctrl+C, then the probe's exit status.
  int StopAndJoin() {
    args_.stop_requested.store(true);
    QueueUserAPC(probe::WakeWatch, thread_, 0);
    return Join();
  }
  int Join() {
    WaitForSingleObject(thread_, INFINITE);
    DWORD status = 99;
    GetExitCodeThread(thread_, &status);
    CloseHandle(thread_);
    thread_ = nullptr;
    return static_cast<int>(status);
  }
  std::string Printed() { return output_.Text(); }

 private:
  Output output_;
  ProbeThreadArgs args_;
  HANDLE thread_ = nullptr;
};

TEST_F(ProbeRunTest, WatchKeepsOneReadPendingOnEachCollectionAReaderWouldRead) {
  std::vector<sim::DeviceId> consumer;
  for (int i = 0; i < 5; ++i)
    consumer.push_back(sim::AddDevice(sim::ButtonCollection("c" + std::to_string(i))));
  sim::DeviceSpec mouse;
  mouse.name = "mouse";
  mouse.usage_page = 0x01;
  const sim::DeviceId other = sim::AddDevice(mouse);
  Start(true);

  for (int i = 0; i < 3; ++i) EXPECT_EQ(sim::PendingReads(consumer[i]), 1) << "collection " << i;
  EXPECT_EQ(sim::PendingReads(consumer[3]), 0) << "the 4th match is recorded, not read";
  EXPECT_EQ(sim::PendingReads(consumer[4]), 0) << "the 5th match is recorded, not read";
  EXPECT_EQ(sim::PendingReads(other), 0);

  EXPECT_EQ(StopAndJoin(), 0);
  for (sim::DeviceId device : consumer) EXPECT_EQ(sim::OpenHandles(device), 0);
  EXPECT_EQ(sim::DeviceCalls(consumer[0], "CancelIo"), 1);
  const std::string printed = Printed();
  EXPECT_NE(printed.find("watching index 0 (ReaderC), index 1 (ReaderB), index 2 (ReaderA); Ctrl+C ends\n"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("stopped: 3 pending reads cancelled\n"), std::string::npos) << printed;
  ExpectNothingHeld();
}

TEST_F(ProbeRunTest, AReadThatCannotStartStopsOnlyThatCollection) {
  const sim::DeviceId first = sim::AddDevice(sim::ButtonCollection("first"));
  const sim::DeviceId second = sim::AddDevice(sim::ButtonCollection("second"));
  sim::FailNth(sim::Fault::Read, 1);
  Start(true);
  EXPECT_EQ(sim::PendingReads(first), 0);
  EXPECT_EQ(sim::PendingReads(second), 1);
  sim::SendReport(second, {0x00, 0x02, 0x00, 0x00});
  sim::WaitQuiet();
  EXPECT_EQ(StopAndJoin(), 0);
  EXPECT_EQ(Printed().substr(Printed().find("watching")),
            "watching index 0 (ReaderC), index 1 (ReaderB); Ctrl+C ends\n"
            "index 0 ReaderC: read refused (error 1450); no longer read\n"
            "index 1 ReaderB: report 00 02 00 00 -> ButtonCode 9, lParam 0x00090000\n"
            "stopped: 1 pending read cancelled\n");
  ExpectNothingHeld();
}

TEST_F(ProbeRunTest, StopRequestedBeforeTheWatchStartsEndsItAtOnce) {
  const sim::DeviceId pad = sim::AddDevice(sim::ButtonCollection("pad"));
  ProbeThreadArgs args;
  args.watch = true;
  args.stop_requested.store(true);
  Output output;
  args.out = output.file();
  HANDLE thread = CreateThread(nullptr, 0, ProbeThread, &args, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(sim::OpenHandles(pad), 0);
  EXPECT_NE(output.Text().find("stopped: 1 pending read cancelled\n"), std::string::npos) << output.Text();
  ExpectNothingHeld();
}

TEST_F(ProbeRunTest, AnArrayThatCannotBeAllocatedGivesAnEmptyTableAndANote) {
  sim::AddDevice(sim::ButtonCollection("pad"));
  sim::FailNth(sim::Fault::Alloc, 1);
  Start(true);
  EXPECT_EQ(Join(), 1);
  EXPECT_EQ(
      Printed(),
      "0 HID collections enumerated\n"
      "index  state         page  usage  vendor  product  input  reader   codes (button byte=ButtonCode)\n"
      "note: the enumeration ended before the platform's end of the list\n"
      "verdict: no consumer-page collection; no reader would run\n");
  ExpectNothingHeld();
}

// Whatever the enumeration kept of the collections it had opened is released.
TEST_F(ProbeRunTest, AGrowthThatFailsIsNotedAndLeavesNothingHeld) {
  for (int i = 0; i < 8; ++i) sim::AddDevice(sim::ButtonCollection("c" + std::to_string(i)));
  // With 8 interfaces the last allocation of an enumeration is the growth to
  // 16 records, made before member index 8 reports the end.
  const int before = sim::FaultPoints(sim::Fault::Alloc);
  HidDeviceRecord* records = nullptr;
  ULONG count = 0;
  ASSERT_TRUE(EnumerateHidDevices(records, count));
  ReleaseDeviceList(records, count);
  const int allocations = sim::FaultPoints(sim::Fault::Alloc) - before;
  sim::FailNth(sim::Fault::Alloc, allocations);
  Start(false);
  Join();
  const std::string printed = Printed();
  EXPECT_NE(printed.find("note: the enumeration ended before the platform's end of the list\n"),
            std::string::npos)
      << printed;
  ExpectNothingHeld();
}

}  // namespace
