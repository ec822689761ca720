// Attach and detach with many HID interfaces present: every attach opens each
// interface and builds its tables; every detach ends the readers and releases
// them all again. Time for each, and per interface: wall-clock time, and the
// main thread's processor time, which other programs' load disturbs less.
#include <benchmark/benchmark.h>
#include <time.h>

#include "bench/bench_machine.h"

namespace {

using bench::Clock;

double ThreadCpuMicroseconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

void BM_AttachDetach(benchmark::State& state) {
  const int interfaces = static_cast<int>(state.range(0));
  bench::ResetMachine();
  HWND target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  bench::AddMixedInterfaces(interfaces);

  double attach_us = 0;
  double detach_us = 0;
  double cpu_us = 0;
  sim::Resources attached;
  for (auto _ : state) {
    const double cpu_start = ThreadCpuMicroseconds();
    const Clock::time_point start = Clock::now();
    const int result = AttachBridge(target);
    const Clock::time_point attach_end = Clock::now();
    const double attach_cpu = ThreadCpuMicroseconds() - cpu_start;
    if (result != 1) {
      state.SkipWithError("attach failed");
      break;
    }
    // The readers start on their own threads; let them settle before the
    // detach, which must wake and end them.
    sim::WaitQuiet();
    attached = sim::Held();
    const double detach_cpu_start = ThreadCpuMicroseconds();
    const Clock::time_point detach_start = Clock::now();
    DetachBridge();
    const Clock::time_point end = Clock::now();
    cpu_us += attach_cpu + ThreadCpuMicroseconds() - detach_cpu_start;
    attach_us += bench::Microseconds(attach_end - start);
    detach_us += bench::Microseconds(end - detach_start);
    state.SetIterationTime(
        std::chrono::duration<double>((attach_end - start) + (end - detach_start)).count());
  }
  std::string held;
  if (!bench::NothingHeld(&held)) state.SkipWithError(held.c_str());

  const double iterations = static_cast<double>(state.iterations());
  state.counters["attach_us"] = attach_us / iterations;
  state.counters["detach_us"] = detach_us / iterations;
  state.counters["ns_per_interface"] = (attach_us + detach_us) * 1000 / iterations / interfaces;
  state.counters["cpu_ns_per_interface"] = cpu_us * 1000 / iterations / interfaces;
  state.counters["bytes_per_interface"] = static_cast<double>(attached.bytes) / interfaces;
  state.counters["blocks_per_interface"] = static_cast<double>(attached.blocks) / interfaces;
}

BENCHMARK(BM_AttachDetach)
    ->ArgName("interfaces")
    ->Arg(8)
    ->Arg(64)
    ->Arg(512)
    ->Arg(1024)
    ->Arg(4096)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
