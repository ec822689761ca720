// Playing a sequence against the whole agent, one command at a time, with the
// invariants checked after every step while the machine is quiet.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/bridge_fixture.h"
#include "support/reliability_checks.h"
#include "support/reliability_sequence.h"

namespace reliability {
namespace {

using scenario::Command;
using scenario::CommandKind;

// A fault armed with `fail KIND N`, live until its Nth call has been made.
struct ArmedFault {
  bool armed = false;
  int points_at_arming = 0;
  int nth = 0;
};

// What the checks need to know from before a step.
struct BeforeStep {
  bool post_fault_live = false;
  bool read_fault_live = false;
  int pending_reads = 0;  // on the reported device
  LONG toggle_state = 1;
  bool target_open = false;
};

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

class Runner {
 public:
  SequenceFailure Run(const Sequence& sequence, SequenceStats* stats) {
    SequenceFailure failure = Play(sequence);
    if (stats != nullptr) {
      stats->steps += static_cast<int>(sequence.size());
      for (const Command& command : sequence) stats->reports += command.kind == CommandKind::kReport ? 1 : 0;
      for (HWND target : targets_) stats->posted += static_cast<int>(sim::ReceivedMessages(target).size());
      stats->enumerations += sim::Calls("SetupDiGetClassDevsA");
      stats->threads_created += sim::Calls("CreateThread");
    }
    return failure;
  }

 private:
  SequenceFailure Play(const Sequence& sequence) {
    sim::Reset();
    ResetBridgeState();
    for (std::size_t i = 0; i < sequence.size(); ++i) {
      const Command& command = sequence[i];
      std::string line = SequenceText({command});
      line.pop_back();
      step_ = "step " + std::to_string(i + 1) + " (" + line + ")";
      const BeforeStep before = Observe(command);
      Execute(command);
      sim::WaitQuiet();
      if (SequenceFailure failure = CheckStep(command, before); failure.failed()) return failure;
    }
    step_ = "the end";
    if (running_) {
      const int code = EndAgent();
      running_ = false;
      if (code != 0) return Fail("agent exit", "the agent ended with exit code " + std::to_string(code));
    }
    if (std::string left = LeftHeld(); !left.empty()) return Fail("leak", left);
    if (bridge_state.stopped.load() == 0)
      return Fail("bridge inconsistent", "the agent ended with its bridge running");
    return {};
  }

  SequenceFailure Fail(const std::string& kind, const std::string& what) const {
    return {kind, step_ + ": " + what};
  }

  bool Live(const ArmedFault& armed, sim::Fault fault) const {
    return armed.armed && sim::FaultPoints(fault) - armed.points_at_arming < armed.nth;
  }

  BeforeStep Observe(const Command& command) {
    BeforeStep before;
    before.post_fault_live = Live(post_fault_, sim::Fault::Post);
    before.read_fault_live = Live(read_fault_, sim::Fault::Read);
    if (command.kind == CommandKind::kReport || command.kind == CommandKind::kPress) {
      before.pending_reads = sim::PendingReads(devices_.at(command.device));
    }
    before.toggle_state = bridge_state.toggle_state;
    before.target_open = !open_targets_.empty();
    return before;
  }

  void Execute(const Command& command) {
    switch (command.kind) {
      case CommandKind::kDevice: {
        // As the scenario simulator builds them, so that a printed sequence replays the same.
        sim::DeviceSpec device_spec = sim::ButtonCollection(command.device);
        if (command.usage_page != 0x0C) {
          device_spec = sim::DeviceSpec{};
          device_spec.name = command.device;
          device_spec.usage_page = command.usage_page;
          device_spec.usage = 1;
          device_spec.input_report_length = 4;
        }
        const sim::DeviceId id = sim::AddDevice(device_spec, command.open_fault);
        devices_[command.device] = id;
        all_devices_.push_back(id);
        break;
      }
      case CommandKind::kUnplug:
        sim::RemoveDevice(devices_.at(command.device));
        break;
      case CommandKind::kNotify:
        sim::AnnounceDeviceChange(command.event);
        break;
      case CommandKind::kTarget:
        OpenOrClose(command.open, kTargetWindowTitle, open_targets_, targets_);
        break;
      case CommandKind::kOtherAgent:
        OpenOrClose(command.open, kAgentWindowTitle, open_other_agents_, other_agents_);
        break;
      case CommandKind::kStart:
        StartAgent(false);
        running_ = true;
        break;
      case CommandKind::kReport:
        sim::SendReport(devices_.at(command.device), {command.report.begin(), command.report.end()});
        break;
      case CommandKind::kPress:
        sim::SendReport(devices_.at(command.device), {0x00, command.report[1], 0x00, 0x00});
        sim::WaitQuiet();
        sim::SendReport(devices_.at(command.device), {0x00, 0x00, 0x00, 0x00});
        break;
      case CommandKind::kDestroy:
        if (running_ && AgentWindow() != nullptr) sim::DestroyWindowFromSystem(AgentWindow());
        break;
      case CommandKind::kFail: {
        ArmedFault* armed = command.fault == sim::Fault::Post   ? &post_fault_
                            : command.fault == sim::Fault::Read ? &read_fault_
                                                                : nullptr;
        if (armed != nullptr) *armed = {true, sim::FaultPoints(command.fault), command.nth};
        sim::FailNth(command.fault, command.nth);
        break;
      }
      case CommandKind::kState:
        break;
    }
  }

  static void OpenOrClose(bool open, const char* title, std::vector<HWND>& open_windows,
                          std::vector<HWND>& all) {
    if (!open) {
      sim::DestroyForeignWindow(open_windows.back());
      open_windows.pop_back();
      return;
    }
    HWND window = sim::CreateForeignWindow(kTargetClassName, title);
    open_windows.push_back(window);
    all.push_back(window);
  }

  // The messages that windows of other processes received during the step.
  std::vector<MSG> NewMessages(const std::vector<HWND>& windows) {
    std::vector<MSG> fresh;
    for (HWND window : windows) {
      const std::vector<MSG> received = sim::ReceivedMessages(window);
      std::size_t& seen = seen_[window];
      for (std::size_t i = seen; i < received.size(); ++i) fresh.push_back(received[i]);
      seen = received.size();
    }
    return fresh;
  }

  SequenceFailure CheckStep(const Command& command, const BeforeStep& before) {
    if (running_) {
      int code = 0;
      if (sim::ProcessExited(&code)) {
        sim::JoinProcess();
        running_ = false;
        if (code != 0) return Fail("agent exit", "the agent ended with exit code " + std::to_string(code));
        if (std::string left = LeftHeld(); !left.empty())
          return Fail("leak", "after the agent ended: " + left);
      }
    }
    if (!NewMessages(other_agents_).empty())
      return Fail("wrong message", "another agent's window received a message");
    const std::vector<MSG> posted = NewMessages(targets_);
    for (const MSG& message : posted) {
      if (std::string bad = WrongButtonMessage(message); !bad.empty()) return Fail("wrong message", bad);
    }
    const bool is_report = command.kind == CommandKind::kReport || command.kind == CommandKind::kPress;
    if (!is_report && !posted.empty()) {
      return Fail("post without a report", std::to_string(posted.size()) + " button messages posted");
    }
    if (is_report) {
      if (SequenceFailure failure = CheckReport(command, before, posted); failure.failed()) return failure;
    }
    BridgeExpectation expect;
    expect.other_threads = running_ ? 1 : 0;
    expect.readers_may_have_ended = true;  // collections leave unannounced; reads are refused
    expect.devices = all_devices_;
    if (std::string bad = BridgeInconsistency(expect); !bad.empty()) return Fail("bridge inconsistent", bad);
    return {};
  }

  SequenceFailure CheckReport(const Command& command, const BeforeStep& before,
                              const std::vector<MSG>& posted) {
    const std::uint8_t button = command.report[1];
    if (posted.size() > 1) {
      return Fail("posted twice", "one report posted " + std::to_string(posted.size()) + " button messages");
    }
    if (posted.size() == 1) {
      const int code = static_cast<int>(posted[0].lParam >> 16);
      if (before.pending_reads == 0) {
        return Fail("post without a report",
                    "code " + std::to_string(code) + " posted for a report no reader was reading");
      }
      if (!ByteCanGiveCode(button, code)) {
        return Fail("wrong message",
                    "code " + std::to_string(code) + " posted for button byte " + Hex(button));
      }
      const bool alternating = code == 10 || code == 7;
      if (alternating && code != (before.toggle_state != 0 ? 10 : 7)) {
        return Fail("wrong message", "ReaderB posted " + std::to_string(code) + " with toggle_state " +
                                         std::to_string(before.toggle_state));
      }
      if (alternating == (bridge_state.toggle_state == before.toggle_state)) {
        return Fail("wrong message", "toggle_state went from " + std::to_string(before.toggle_state) +
                                         " to " + std::to_string(bridge_state.toggle_state));
      }
      return {};
    }
    // Every reader has a code for 0x01, 0x02 and 0x04: such a report on a
    // collection with a read pending can only be lost to a refused post or read,
    // or for want of a target window.
    const bool every_reader_posts = button == 0x01 || button == 0x02 || button == 0x04;
    if (every_reader_posts && before.pending_reads > 0 && before.target_open && !before.post_fault_live &&
        !before.read_fault_live) {
      return Fail("lost report",
                  "a report with button byte " + Hex(button) + " on a collection being read posted nothing");
    }
    return {};
  }

  std::string step_;
  std::map<std::string, sim::DeviceId> devices_;
  std::vector<sim::DeviceId> all_devices_;
  std::vector<HWND> open_targets_;
  std::vector<HWND> targets_;
  std::vector<HWND> open_other_agents_;
  std::vector<HWND> other_agents_;
  std::map<HWND, std::size_t> seen_;
  ArmedFault post_fault_;
  ArmedFault read_fault_;
  bool running_ = false;
};

}  // namespace

SequenceFailure RunSequence(const Sequence& sequence, SequenceStats* stats) {
  return Runner().Run(sequence, stats);
}

}  // namespace reliability
