// hid-probe-sim [--watch] SCENARIO_FILE: hid-probe on the simulated Windows.
// The scenario's device lines, with their fail steps, make the machine's HID
// collections; the probe then runs as on Windows. With --watch, the report,
// press and unplug lines are played in order while the probe watches, and
// then Ctrl+C is pressed. Every other line is ignored. Ends with what the
// probe still holds, which should be nothing.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/sim_control.h"
#include "simulator/scenario.h"
#include "tools/probe/probe_run.h"
#include "tools/probe/probe_watch.h"

namespace {

constexpr char kUsage[] = "usage: hid-probe-sim [--watch] SCENARIO_FILE\n";
constexpr USAGE kConsumerPage = 0x0C;

struct ProbeRun {
  bool watch = false;
  std::atomic<bool> stop_requested{false};
};

// The same devices as the scenario simulator makes of a device line.
sim::DeviceSpec DeviceSpecFor(const scenario::Command& command) {
  if (command.usage_page == kConsumerPage) return sim::ButtonCollection(command.device);
  sim::DeviceSpec description;
  description.name = command.device;
  description.usage_page = command.usage_page;
  description.usage = 1;
  description.input_report_length = 4;
  return description;
}

DWORD WINAPI ProbeThread(LPVOID parameter) {
  auto* run = static_cast<ProbeRun*>(parameter);
  return static_cast<DWORD>(probe::RunProbe(run->watch, run->stop_requested, stdout));
}

void PlayWhileWatching(const scenario::Command& command,
                       const std::map<std::string, sim::DeviceId>& devices) {
  switch (command.kind) {
    case scenario::CommandKind::kReport:
      sim::SendReport(devices.at(command.device), {command.report.begin(), command.report.end()});
      break;
    case scenario::CommandKind::kPress:
      sim::SendReport(devices.at(command.device), {0x00, command.report[1], 0x00, 0x00});
      sim::WaitQuiet();
      sim::SendReport(devices.at(command.device), {0x00, 0x00, 0x00, 0x00});
      break;
    case scenario::CommandKind::kUnplug:
      sim::RemoveDevice(devices.at(command.device));
      break;
    default:
      break;
  }
  sim::WaitQuiet();
}

void PrintResources() {
  const sim::Resources held = sim::Held();
  std::printf("resources handles=%d blocks=%d preparsed=%d threads=%d\n", held.handles(), held.blocks,
              held.preparsed, held.threads);
}

}  // namespace

int main(int argc, char** argv) {
  ProbeRun run;
  const char* file = nullptr;
  if (argc == 2 && std::strcmp(argv[1], "--watch") != 0) {
    file = argv[1];
  } else if (argc == 3 && std::strcmp(argv[1], "--watch") == 0) {
    run.watch = true;
    file = argv[2];
  } else {
    std::fputs(kUsage, stderr);
    return probe::kExitBadArguments;
  }
  const scenario::ParseOutcome outcome = scenario::LoadScenario(file);
  if (!outcome.error.empty()) {
    std::fprintf(stderr, "%s\n", outcome.error.c_str());
    return probe::kExitBadArguments;
  }

  sim::Reset();
  std::map<std::string, sim::DeviceId> devices;
  for (const scenario::Command& command : outcome.scenario.commands) {
    if (command.kind == scenario::CommandKind::kDevice) {
      devices[command.device] = sim::AddDevice(DeviceSpecFor(command), command.open_fault);
    }
  }

  HANDLE probe_thread = CreateThread(nullptr, 0, ProbeThread, &run, 0, nullptr);
  if (probe_thread == nullptr) {
    std::fputs("hid-probe-sim: cannot start the probe's thread\n", stderr);
    return probe::kExitBadArguments;
  }
  sim::WaitQuiet();
  if (run.watch) {
    for (const scenario::Command& command : outcome.scenario.commands) PlayWhileWatching(command, devices);
    // Ctrl+C, as the console control handler of hid-probe.exe answers it.
    run.stop_requested.store(true);
    QueueUserAPC(probe::WakeWatch, probe_thread, 0);
  }
  WaitForSingleObject(probe_thread, INFINITE);
  DWORD status = 0;
  GetExitCodeThread(probe_thread, &status);
  CloseHandle(probe_thread);
  sim::WaitQuiet();
  std::fflush(stdout);
  PrintResources();
  return static_cast<int>(status);
}
