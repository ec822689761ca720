// Making random operation sequences from a seed, writing them as scenario
// files, and tidying them after commands were taken out.
#include <cstdio>
#include <random>
#include <set>
#include <string>

#include "support/reliability_sequence.h"

namespace reliability {
namespace {

using scenario::Command;
using scenario::CommandKind;

constexpr sim::OpenFault kDeviceFaults[] = {
    sim::OpenFault::Enum,      sim::OpenFault::Detail,     sim::OpenFault::Open,
    sim::OpenFault::Preparsed, sim::OpenFault::Attributes, sim::OpenFault::Caps,
};

const char* OpenStepWord(sim::OpenFault fault) {
  switch (fault) {
    case sim::OpenFault::Enum:
      return "enum";
    case sim::OpenFault::Detail:
      return "detail";
    case sim::OpenFault::Open:
      return "open";
    case sim::OpenFault::Preparsed:
      return "preparsed";
    case sim::OpenFault::Attributes:
      return "attributes";
    case sim::OpenFault::Caps:
      return "caps";
    default:
      return nullptr;
  }
}

const char* FaultWord(sim::Fault fault) {
  switch (fault) {
    case sim::Fault::Alloc:
      return "alloc";
    case sim::Fault::Thread:
      return "thread";
    case sim::Fault::Read:
      return "read";
    case sim::Fault::Post:
      return "post";
    default:
      return "?";
  }
}

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

// The generator's view of the machine, so that every command it makes is valid.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : random_(seed) {}

  Sequence Make() {
    const int length = Between(15, 45);
    const int start_at = Between(0, 4);
    if (Chance(85)) Add(Window(CommandKind::kTarget, true));
    for (int devices = Between(1, 4); devices > 0; --devices) AddDevice();
    for (int step = 0; step < length; ++step) {
      if (step == start_at) Add(Simple(CommandKind::kStart));
      AddRandomStep();
      if (destroyed_) break;
    }
    return sequence_;
  }

 private:
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool Chance(int percent) { return Between(1, 100) <= percent; }

  void Add(const Command& command) {
    switch (command.kind) {
      case CommandKind::kDevice:
        present_.push_back(command.device);
        if (command.usage_page == 0x0C && command.open_fault == sim::OpenFault::None)
          readable_.push_back(command.device);
        break;
      case CommandKind::kUnplug:
        std::erase(present_, command.device);
        std::erase(readable_, command.device);
        unplugged_.push_back(command.device);
        break;
      case CommandKind::kTarget:
        open_targets_ += command.open ? 1 : -1;
        break;
      case CommandKind::kOtherAgent:
        open_other_agents_ += command.open ? 1 : -1;
        break;
      case CommandKind::kStart:
        started_ = true;
        break;
      case CommandKind::kDestroy:
        destroyed_ = started_;
        break;
      default:
        break;
    }
    sequence_.push_back(command);
  }

  static Command Simple(CommandKind kind) {
    Command command;
    command.kind = kind;
    return command;
  }

  static Command Window(CommandKind kind, bool open) {
    Command command = Simple(kind);
    command.open = open;
    return command;
  }

  static Command Notify(WPARAM event) {
    Command command = Simple(CommandKind::kNotify);
    command.event = event;
    return command;
  }

  void AddDevice() {
    Command command = Simple(CommandKind::kDevice);
    command.device = "d" + std::to_string(next_device_++);
    const int page = Between(1, 100);
    command.usage_page = page <= 80 ? 0x0C : page <= 95 ? 0x01 : 0xFF00;
    if (Chance(20)) command.open_fault = kDeviceFaults[Between(0, std::size(kDeviceFaults) - 1)];
    Add(command);
    if (Chance(70)) Add(Notify(DBT_DEVICEARRIVAL));
  }

  void AddUnplug() {
    Command command = Simple(CommandKind::kUnplug);
    command.device = present_[static_cast<std::size_t>(Between(0, static_cast<int>(present_.size()) - 1))];
    Add(command);
    if (Chance(70)) Add(Notify(DBT_DEVICEREMOVECOMPLETE));
  }

  void AddReport() {
    Command command = Simple(CommandKind::kReport);
    // Mostly on the collections that readers can be reading.
    const std::vector<std::string>* pool = &unplugged_;
    if (!readable_.empty() && Chance(75)) {
      pool = &readable_;
    } else if (!present_.empty() && (unplugged_.empty() || Chance(90))) {
      pool = &present_;
    }
    command.device = (*pool)[static_cast<std::size_t>(Between(0, static_cast<int>(pool->size()) - 1))];
    // Mostly the buttons every reader posts a code for.
    const int shape = Between(1, 100);
    std::uint8_t button = 0;
    if (shape <= 55) {
      button = static_cast<std::uint8_t>(1u << Between(0, 2));
    } else if (shape <= 75) {
      button = static_cast<std::uint8_t>(1u << Between(3, 7));
    } else if (shape <= 85) {
      button = 0;
    } else {
      button = static_cast<std::uint8_t>(Between(0, 255));
    }
    command.report = {static_cast<std::uint8_t>(Chance(70) ? 0 : Between(0, 255)), button,
                      static_cast<std::uint8_t>(Between(0, 255)), static_cast<std::uint8_t>(Between(0, 255))};
    Add(command);
  }

  void AddFault() {
    Command command = Simple(CommandKind::kFail);
    const int kind = Between(1, 100);
    if (kind <= 35) {
      command.fault = sim::Fault::Alloc;
      command.nth = Between(1, 12);
    } else {
      command.fault = kind <= 60 ? sim::Fault::Thread : kind <= 80 ? sim::Fault::Read : sim::Fault::Post;
      command.nth = Between(1, 4);
    }
    Add(command);
  }

  void AddRandomStep() {
    for (;;) {
      const int pick = Between(1, 100);
      if (pick <= 10) return AddDevice();
      if (pick <= 15) {
        if (present_.empty()) continue;
        return AddUnplug();
      }
      if (pick <= 21) {
        const int event = Between(1, 100);
        return Add(Notify(event <= 45 ? DBT_DEVICEARRIVAL : event <= 90 ? DBT_DEVICEREMOVECOMPLETE : 0x0007));
      }
      if (pick <= 26) return Add(Window(CommandKind::kTarget, open_targets_ == 0 || Chance(40)));
      if (pick <= 29) return Add(Window(CommandKind::kOtherAgent, open_other_agents_ == 0 || Chance(40)));
      if (pick <= 36) return AddFault();
      if (pick <= 37) {
        if (!started_) continue;
        return Add(Simple(CommandKind::kDestroy));
      }
      if (present_.empty() && unplugged_.empty()) continue;
      return AddReport();
    }
  }

  std::mt19937_64 random_;
  Sequence sequence_;
  std::vector<std::string> present_;
  std::vector<std::string> unplugged_;
  std::vector<std::string> readable_;  // present consumer-page collections without a fault
  int next_device_ = 0;
  int open_targets_ = 0;
  int open_other_agents_ = 0;
  bool started_ = false;
  bool destroyed_ = false;
};

std::string CommandText(const Command& command) {
  switch (command.kind) {
    case CommandKind::kDevice: {
      std::string text = "device " + command.device + " page=" + Hex2(command.usage_page);
      if (const char* step = OpenStepWord(command.open_fault)) text += std::string(" fail=") + step;
      return text;
    }
    case CommandKind::kUnplug:
      return "unplug " + command.device;
    case CommandKind::kNotify:
      if (command.event == DBT_DEVICEARRIVAL) return "notify arrival";
      if (command.event == DBT_DEVICEREMOVECOMPLETE) return "notify removal";
      return "notify " + Hex2(static_cast<unsigned>(command.event));
    case CommandKind::kTarget:
      return command.open ? "target open" : "target close";
    case CommandKind::kOtherAgent:
      return command.open ? "other-agent open" : "other-agent close";
    case CommandKind::kStart:
      return "start";
    case CommandKind::kReport: {
      std::string text = "report " + command.device;
      for (std::uint8_t byte : command.report) text += " " + Hex2(byte);
      return text;
    }
    case CommandKind::kPress:
      return "press " + command.device + " " + Hex2(command.report[1]);
    case CommandKind::kDestroy:
      return "destroy";
    case CommandKind::kFail:
      return std::string("fail ") + FaultWord(command.fault) + " " + std::to_string(command.nth);
    case CommandKind::kState:
      return "state";
  }
  return "";
}

}  // namespace

Sequence GenerateSequence(std::uint64_t seed) {
  return Generator(seed).Make();
}

std::string SequenceText(const Sequence& sequence) {
  std::string text;
  for (const Command& command : sequence) text += CommandText(command) + "\n";
  return text;
}

Sequence Normalized(const Sequence& sequence) {
  Sequence kept;
  std::set<std::string> defined;
  std::set<std::string> unplugged;
  int open_targets = 0;
  int open_other_agents = 0;
  bool started = false;
  for (const Command& command : sequence) {
    switch (command.kind) {
      case CommandKind::kDevice:
        if (!defined.insert(command.device).second) continue;
        break;
      case CommandKind::kUnplug:
        if (defined.count(command.device) == 0 || !unplugged.insert(command.device).second) continue;
        break;
      case CommandKind::kReport:
      case CommandKind::kPress:
        if (defined.count(command.device) == 0) continue;
        break;
      case CommandKind::kTarget:
        if (!command.open && open_targets == 0) continue;
        open_targets += command.open ? 1 : -1;
        break;
      case CommandKind::kOtherAgent:
        if (!command.open && open_other_agents == 0) continue;
        open_other_agents += command.open ? 1 : -1;
        break;
      case CommandKind::kStart:
        if (started) continue;
        started = true;
        break;
      default:
        break;
    }
    kept.push_back(command);
  }
  return kept;
}

}  // namespace reliability
