// Idle cost: the agent runs (AgentMain on its own thread, attached to three
// collections) and its main loop is kept busy with messages that have nothing
// to do with buttons, while no report arrives. The readers must not wake once.
#include <benchmark/benchmark.h>

#include <thread>

#include "agent/agent.h"
#include "bench/bench_machine.h"

namespace {

using bench::Clock;

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(0x400000);
constexpr int kUnrelatedMessages = 10000;
constexpr int kUnrelatedDeviceEvents = 100;
constexpr auto kQuietSpan = std::chrono::milliseconds(100);

// Every return of a reader from its alertable wait is followed by another
// call of SleepEx (or by the reader's end), and only the readers call it.
int ReaderWaits() {
  return sim::Calls("SleepEx");
}

void BM_IdleWakeups(benchmark::State& state) {
  bench::ResetMachine();
  sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  sim::AddDevice(bench::KeyboardCollection("keyboard"));
  for (int i = 0; i < kReaderCount; ++i) sim::AddDevice(sim::ButtonCollection("buttons" + std::to_string(i)));
  sim::AddDevice(bench::MouseCollection("mouse"));
  sim::StartProcess([] { return AgentMain(kInstance, nullptr, const_cast<LPSTR>(""), 10); });
  sim::WaitQuiet();
  const std::vector<HWND> windows = sim::ProcessWindows();
  if (windows.size() != 1 || sim::Held().threads != 1 + kReaderCount) {
    state.SkipWithError("the agent did not start with its three readers");
    return;
  }
  HWND agent_window = windows.front();

  const int waits_before = ReaderWaits();
  const int reads_before = sim::Calls("ReadFileEx");
  const int dispatched_before = sim::Calls("DispatchMessageA");
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kUnrelatedMessages; ++i) PostMessageA(agent_window, WM_USER + 1, 0, 0);
    for (int i = 0; i < kUnrelatedDeviceEvents; ++i) sim::AnnounceDeviceChange(DBT_DEVNODES_CHANGED);
    sim::WaitQuiet();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    std::this_thread::sleep_for(kQuietSpan);
    sim::WaitQuiet();
  }
  const int wakeups = ReaderWaits() - waits_before;
  const int reads = sim::Calls("ReadFileEx") - reads_before;
  const int dispatched = sim::Calls("DispatchMessageA") - dispatched_before;

  sim::DestroyWindowFromSystem(agent_window);
  sim::JoinProcess();
  std::string held;
  if (!bench::NothingHeld(&held)) state.SkipWithError(held.c_str());

  state.counters["messages_dispatched"] = dispatched;
  state.counters["reader_wakeups"] = wakeups;
  state.counters["reads_started"] = reads;
  state.counters["quiet_ms"] = static_cast<double>(state.iterations() * kQuietSpan.count());
}

BENCHMARK(BM_IdleWakeups)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
