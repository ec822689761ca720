// A scenario: the commands of one scenario file, parsed and checked as a
// whole before anything runs, each with the line it came from.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim_control.h"

namespace scenario {

enum class CommandKind {
  kDevice,      // device NAME page=HEX [fail=STEP]
  kUnplug,      // unplug NAME
  kNotify,      // notify arrival|removal|HEX
  kTarget,      // target open|close
  kOtherAgent,  // other-agent open|close
  kStart,       // start
  kReport,      // report NAME HH HH HH HH
  kPress,       // press NAME HH
  kDestroy,     // destroy
  kFail,        // fail alloc|thread|read|post N
  kState,       // state
};

struct Command {
  CommandKind kind = CommandKind::kState;
  int line = 0;                                      // 1-based line of the scenario file
  std::string device;                                // device, unplug, report, press
  USAGE usage_page = 0;                              // device
  sim::OpenFault open_fault = sim::OpenFault::None;  // device
  WPARAM event = 0;                                  // notify
  bool open = false;                                 // target, other-agent
  std::array<std::uint8_t, 4> report{};              // report; press: the button byte is report[1]
  sim::Fault fault = sim::Fault::Alloc;              // fail
  int nth = 0;                                       // fail
};

struct Scenario {
  std::string file;  // as given on the command line
  std::vector<Command> commands;
};

// Either a scenario or, when error is not empty, the first thing wrong with
// the text as "FILE:LINE: what is wrong".
struct ParseOutcome {
  Scenario scenario;
  std::string error;
};

ParseOutcome ParseScenario(std::string_view text, const std::string& file_name);

// Reads and parses a scenario file; a file that cannot be read gives the
// error "cannot open 'FILE'".
ParseOutcome LoadScenario(const std::string& file_name);

}  // namespace scenario
