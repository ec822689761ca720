// Plays a parsed scenario: the real agent on the simulated Windows, with a
// transcript of what the target application receives and what the agent holds.
#pragma once

#include <ostream>

#include "simulator/scenario.h"

namespace scenario {

// Runs every command in order, waiting after each until the simulated machine
// is quiet, then ends the agent if it still runs and prints what it still
// holds. Returns 0, or 1 when the agent could not be ended (its threads then
// still run, and the caller should leave the process at once).
int RunScenario(const Scenario& scenario, std::ostream& out);

}  // namespace scenario
