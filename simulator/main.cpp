// button-agent-sim SCENARIO_FILE: plays a scenario against the real agent on
// the simulated Windows and prints the transcript on standard output.
#include <cstdlib>
#include <iostream>

#include "simulator/scenario.h"
#include "simulator/scenario_run.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: button-agent-sim SCENARIO_FILE\n";
    return 2;
  }
  const scenario::ParseOutcome outcome = scenario::LoadScenario(argv[1]);
  if (!outcome.error.empty()) {
    std::cerr << outcome.error << '\n';
    return 2;
  }
  if (scenario::RunScenario(outcome.scenario, std::cout) != 0) {
    // The agent's threads still run, so the process cannot end in the ordinary way.
    std::cerr << argv[1] << ": the agent did not end when its window was destroyed\n";
    std::cout.flush();
    std::_Exit(1);
  }
  return 0;
}
