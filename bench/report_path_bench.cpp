// The report path end to end: the benchmark thread plays the device and sends
// input reports on one collection (or on all three at once); the readers
// translate them and post the button messages; the target window's queue
// receives them. Reports per second, and the latency from each report to its
// message landing in the target queue.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "bench/bench_machine.h"
#include "bridge/readers.h"

namespace {

using bench::Clock;

// The class driver's ring of reports nobody reads yet: sending with more than
// this many unread would drop the oldest.
constexpr std::size_t kRingReports = 32;

// One collection and its reader: what the device sends on it and when, and
// when each message lands in the target queue.
struct Lane {
  sim::DeviceId device = 0;
  std::vector<std::vector<std::uint8_t>> reports;  // sent in turn
  std::vector<LPARAM> codes;                       // the code each of them posts
  std::vector<Clock::time_point> sent;
  std::vector<Clock::time_point> landed;
  std::atomic<std::size_t> landed_count{0};
  std::atomic<std::size_t> wrong{0};
};

// Lanes in the order their collections are added: the first goes to ReaderC,
// the second to ReaderB, the third to ReaderA. ReaderB is given no 0x01, whose
// code alternates.
struct LaneTable {
  std::vector<std::uint8_t> bytes;
  std::vector<LPARAM> codes;
};
const LaneTable kLaneTables[kReaderCount] = {
    {{0x01, 0x02, 0x04}, {16, 17, 18}},
    {{0x02, 0x04, 0x08}, {9, 13, 14}},
    {{0x01, 0x02, 0x04, 0x08, 0x10, 0x20}, {1, 2, 3, 4, 5, 6}},
};

int LaneOfCode(LPARAM code) {
  if (code >= 16 && code <= 18) return 0;
  if (code >= 7 && code <= 14) return 1;
  if (code >= 1 && code <= 6) return 2;
  return -1;
}

std::vector<Lane>* observed_lanes = nullptr;
std::atomic<std::size_t> stray_messages{0};

// Called by the simulated Windows at post time, one call at a time, in posting order.
void OnButtonMessage(HWND, const MSG& message) {
  const Clock::time_point now = Clock::now();
  const LPARAM code = message.lParam >> 16;
  const int lane_index = LaneOfCode(code);
  if (message.message != kButtonEventMessage || lane_index < 0 ||
      lane_index >= static_cast<int>(observed_lanes->size())) {
    stray_messages.fetch_add(1);
    return;
  }
  Lane& lane = (*observed_lanes)[lane_index];
  const std::size_t index = lane.landed_count.load(std::memory_order_relaxed);
  if (index < lane.landed.size()) {
    lane.landed[index] = now;
    if (lane.codes[index % lane.codes.size()] != code) lane.wrong.fetch_add(1);
  }
  lane.landed_count.store(index + 1, std::memory_order_release);
}

void WaitUntil(Clock::time_point deadline) {
  const Clock::duration spin_span = std::chrono::microseconds(200);
  const Clock::time_point now = Clock::now();
  if (deadline - now > spin_span) std::this_thread::sleep_until(deadline - spin_span);
  while (Clock::now() < deadline) std::this_thread::yield();
}

struct Batch {
  double seconds = 0;
  std::size_t landed = 0;
  std::size_t dropped = 0;
};

// Sends `count` reports on every lane, in turn, keeping at most `window`
// unread per lane and, when `period` is not zero, one report per lane each
// period. Appends each report's latency in microseconds.
Batch SendBatch(std::vector<Lane>& lanes, std::size_t count, std::size_t window, Clock::duration period,
                std::vector<double>* latencies) {
  for (Lane& lane : lanes) {
    lane.sent.assign(count, Clock::time_point{});
    lane.landed.assign(count, Clock::time_point{});
    lane.landed_count.store(0);
  }
  const Clock::time_point start = Clock::now();
  for (std::size_t i = 0; i < count; ++i) {
    if (period != Clock::duration::zero()) WaitUntil(start + period * static_cast<long>(i));
    for (Lane& lane : lanes) {
      while (i - lane.landed_count.load(std::memory_order_acquire) >= window) std::this_thread::yield();
      lane.sent[i] = Clock::now();
      sim::SendReport(lane.device, lane.reports[i % lane.reports.size()]);
    }
  }
  sim::WaitQuiet();  // everything that will ever land has landed

  Batch batch;
  Clock::time_point end = start;
  for (Lane& lane : lanes) {
    const std::size_t landed = lane.landed_count.load();
    batch.landed += landed;
    batch.dropped += count - std::min(count, landed);
    for (std::size_t i = 0; i < std::min(count, landed); ++i) {
      latencies->push_back(bench::Microseconds(lane.landed[i] - lane.sent[i]));
      end = std::max(end, lane.landed[i]);
    }
  }
  batch.seconds = std::chrono::duration<double>(end - start).count();
  return batch;
}

// Attaches to `readers` consumer-page collections among other interfaces.
std::vector<Lane> AttachLanes(int readers, HWND* target) {
  bench::ResetMachine();
  *target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  std::vector<Lane> lanes(readers);
  sim::AddDevice(bench::KeyboardCollection("keyboard"));
  for (int i = 0; i < readers; ++i) {
    lanes[i].device = sim::AddDevice(sim::ButtonCollection("buttons" + std::to_string(i)));
    for (std::uint8_t byte : kLaneTables[i].bytes) lanes[i].reports.push_back({0x00, byte, 0x00, 0x00});
    lanes[i].codes = kLaneTables[i].codes;
  }
  sim::AddDevice(bench::MouseCollection("mouse"));
  return lanes;
}

void RunReportPath(benchmark::State& state, std::size_t window, long rate) {
  const int readers = static_cast<int>(state.range(0));
  HWND target = nullptr;
  std::vector<Lane> lanes = AttachLanes(readers, &target);
  if (AttachBridge(target) != 1) {
    state.SkipWithError("attach failed");
    return;
  }
  sim::WaitQuiet();
  observed_lanes = &lanes;
  stray_messages.store(0);
  sim::OnForeignMessage(OnButtonMessage);

  // Paced runs send one second's worth of reports per iteration; saturated
  // runs 20,000 reports per collection, about a tenth of a second.
  const std::size_t count = rate > 0 ? static_cast<std::size_t>(rate) : 20000;
  const Clock::duration period =
      rate > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(1'000'000'000 / rate))
               : Clock::duration::zero();
  std::vector<double> latencies;
  double seconds = 0;
  std::size_t landed = 0;
  std::size_t dropped = 0;
  for (auto _ : state) {
    const Batch batch = SendBatch(lanes, count, window, period, &latencies);
    state.SetIterationTime(batch.seconds);
    seconds += batch.seconds;
    landed += batch.landed;
    dropped += batch.dropped;
  }

  sim::OnForeignMessage(nullptr);
  observed_lanes = nullptr;
  DetachBridge();
  std::string held;
  if (!bench::NothingHeld(&held)) state.SkipWithError(held.c_str());

  std::size_t wrong = 0;
  for (const Lane& lane : lanes) wrong += lane.wrong.load();
  state.counters["reports_per_s"] = seconds > 0 ? static_cast<double>(landed) / seconds : 0;
  state.counters["per_reader_per_s"] = seconds > 0 ? static_cast<double>(landed) / seconds / readers : 0;
  state.counters["p50_us"] = bench::Percentile(latencies, 50);
  state.counters["p99_us"] = bench::Percentile(latencies, 99);
  state.counters["max_us"] = latencies.empty() ? 0 : latencies.back();
  state.counters["dropped"] = static_cast<double>(dropped);
  state.counters["wrong"] = static_cast<double>(wrong + stray_messages.load());
}

// As fast as the path goes, with the class driver's ring kept from overflowing.
void BM_ReportPathSaturated(benchmark::State& state) {
  RunReportPath(state, kRingReports, 0);
}
// One report in flight per collection at a time: latency with no queue in front.
void BM_ReportPathOneAtATime(benchmark::State& state) {
  RunReportPath(state, 1, 0);
}
// A fixed rate per collection: 1,000 (full-speed USB), 8,000 (high speed), 100,000.
void BM_ReportPathPaced(benchmark::State& state) {
  RunReportPath(state, kRingReports, state.range(1));
}

BENCHMARK(BM_ReportPathSaturated)
    ->ArgName("readers")
    ->Arg(1)
    ->Arg(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportPathOneAtATime)
    ->ArgName("readers")
    ->Arg(1)
    ->Arg(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReportPathPaced)
    ->ArgNames({"readers", "rate"})
    ->ArgsProduct({{1, 3}, {1000, 8000, 100000}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
