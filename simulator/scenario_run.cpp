// Runs the real agent on the simulated Windows, one scenario command at a
// time. The machine is left quiet after every command, so every transcript
// line comes at a fixed place and the transcript is the same on every run.
#include "simulator/scenario_run.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "bridge/bridge.h"

namespace scenario {
namespace {

constexpr int kShowDefault = 10;

// The outside world as the other programs and the device present it, written
// out here rather than taken from the agent, so that a wrong name or number in
// the agent shows in the transcript.
constexpr char kWindowClass[] = "KalvorethClass";
constexpr char kTargetTitle[] = "KalvorethTitle";
constexpr char kOtherAgentTitle[] = "KalvorethTMSG";
constexpr USAGE kConsumerPage = 0x0C;  // the button device's collections

struct Run {
  std::ostream* out = nullptr;
  std::mutex lock;                      // guards the output and target_windows
  std::set<HWND> target_windows;        // every target window opened, closed ones included
  std::vector<HWND> open_targets;       // oldest first
  std::vector<HWND> open_other_agents;  // oldest first
  std::map<std::string, sim::DeviceId> devices;
  bool started = false;
  bool exit_printed = false;
};

void Print(Run& run, const std::string& line) {
  std::lock_guard<std::mutex> hold(run.lock);
  *run.out << line << '\n' << std::flush;
}

bool AgentRunning(const Run& run) {
  return run.started && !run.exit_printed;
}

// Called on the posting thread, whichever it is.
void RecordForeignMessage(Run& run, HWND window, const MSG& message) {
  std::lock_guard<std::mutex> hold(run.lock);
  if (run.target_windows.count(window) == 0) return;
  char line[64];
  std::snprintf(line, sizeof line, "target %u %lu 0x%08X", message.message,
                static_cast<unsigned long>(message.wParam), static_cast<unsigned>(message.lParam));
  *run.out << line << '\n' << std::flush;
}

void StartAgent() {
  sim::StartProcess([] {
    static char command_line[] = "";
    return AgentMain(reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x00400000)), nullptr, command_line,
                     kShowDefault);
  });
}

// Prints the exit line once the agent's entry routine has returned.
void NoteExit(Run& run) {
  int code = 0;
  if (!AgentRunning(run) || !sim::ProcessExited(&code)) return;
  code = sim::JoinProcess();
  run.exit_printed = true;
  Print(run, "exit " + std::to_string(code));
}

// The system destroys the agent's own window; harmless when no agent runs.
void DestroyAgentWindow(const Run& run) {
  if (!AgentRunning(run)) return;
  std::vector<HWND> windows = sim::ProcessWindows();
  if (!windows.empty()) sim::DestroyWindowFromSystem(windows.front());
}

sim::DeviceSpec DeviceSpecFor(const Command& command) {
  if (command.usage_page == kConsumerPage) return sim::ButtonCollection(command.device);
  sim::DeviceSpec device_spec;
  device_spec.name = command.device;
  device_spec.usage_page = command.usage_page;
  device_spec.usage = 1;
  device_spec.input_report_length = 4;
  return device_spec;
}

void PrintState(Run& run) {
  const sim::Resources held = sim::Held();
  const int readers = held.threads - (AgentRunning(run) ? 1 : 0);
  const ULONG* selected = bridge_state.selected;
  char line[160];
  std::snprintf(
      line, sizeof line, "state stopped=%d devices=%lu selected=%lu,%lu,%lu,%lu,%lu toggle=%ld readers=%d",
      static_cast<int>(bridge_state.stopped.load()), static_cast<unsigned long>(bridge_state.device_count),
      static_cast<unsigned long>(selected[0]), static_cast<unsigned long>(selected[1]),
      static_cast<unsigned long>(selected[2]), static_cast<unsigned long>(selected[3]),
      static_cast<unsigned long>(selected[4]), static_cast<long>(bridge_state.toggle_state), readers);
  Print(run, line);
}

void PrintResources(Run& run) {
  const sim::Resources held = sim::Held();
  Print(run, "resources handles=" + std::to_string(held.handles()) +
                 " blocks=" + std::to_string(held.blocks) + " preparsed=" + std::to_string(held.preparsed) +
                 " threads=" + std::to_string(held.threads));
}

// Another process's window appears or goes; targets are remembered for the transcript.
void OpenOrClose(Run& run, const Command& command, const char* title, std::vector<HWND>& open_windows,
                 bool is_target) {
  if (!command.open) {
    sim::DestroyForeignWindow(open_windows.back());
    open_windows.pop_back();
    return;
  }
  HWND window = sim::CreateForeignWindow(kWindowClass, title);
  open_windows.push_back(window);
  if (is_target) {
    std::lock_guard<std::mutex> hold(run.lock);
    run.target_windows.insert(window);
  }
}

void Execute(const Command& command, Run& run) {
  switch (command.kind) {
    case CommandKind::kDevice:
      run.devices[command.device] = sim::AddDevice(DeviceSpecFor(command), command.open_fault);
      break;
    case CommandKind::kUnplug:
      sim::RemoveDevice(run.devices.at(command.device));
      break;
    case CommandKind::kNotify:
      sim::AnnounceDeviceChange(command.event);
      break;
    case CommandKind::kTarget:
      OpenOrClose(run, command, kTargetTitle, run.open_targets, true);
      break;
    case CommandKind::kOtherAgent:
      OpenOrClose(run, command, kOtherAgentTitle, run.open_other_agents, false);
      break;
    case CommandKind::kStart:
      StartAgent();
      run.started = true;
      break;
    case CommandKind::kReport:
      sim::SendReport(run.devices.at(command.device), {command.report.begin(), command.report.end()});
      break;
    case CommandKind::kPress:
      sim::SendReport(run.devices.at(command.device), {0x00, command.report[1], 0x00, 0x00});
      sim::WaitQuiet();
      sim::SendReport(run.devices.at(command.device), {0x00, 0x00, 0x00, 0x00});
      break;
    case CommandKind::kDestroy:
      DestroyAgentWindow(run);
      break;
    case CommandKind::kFail:
      sim::FailNth(command.fault, command.nth);
      break;
    case CommandKind::kState:
      PrintState(run);
      break;
  }
}

}  // namespace

int RunScenario(const Scenario& scenario, std::ostream& out) {
  sim::Reset();
  Run run;
  run.out = &out;
  sim::OnForeignMessage(
      [&run](HWND window, const MSG& message) { RecordForeignMessage(run, window, message); });
  for (const Command& command : scenario.commands) {
    Execute(command, run);
    sim::WaitQuiet();
    NoteExit(run);
  }
  DestroyAgentWindow(run);
  sim::WaitQuiet();
  NoteExit(run);
  const bool ended = !AgentRunning(run);
  PrintResources(run);
  sim::OnForeignMessage(nullptr);
  return ended ? 0 : 1;
}

}  // namespace scenario
