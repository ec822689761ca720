// The platform conformance test: the window, message, thread and asynchronous
// read behaviours that the agent relies on, checked on the side this program
// was built for. The same cases run against the simulated Windows on the host
// and against the real Windows API under Wine; the two must agree.
#include <vector>

#include "cases.h"
#include "side.h"

int main() {
  PrepareSide();
  std::vector<ConformanceCase> cases;
  for (std::span<const ConformanceCase> group : {WindowCases(), ThreadCases(), ReadCases()}) {
    cases.insert(cases.end(), group.begin(), group.end());
  }
  return RunCases(SideName(), cases, LeftHeld);
}
