// An agent started while another one runs ends at once with exit code 0 and
// leaves the running agent and its window as they were.
#include <cstdio>
#include <memory>
#include <string>

#include "agent_process.h"
#include "check.h"
#include "target_window.h"

using namespace wintest;

namespace {

struct Row {
  const char* name;
  bool target_present;
};

const Row kRows[] = {
    {"no target window", false},
    {"target window present", true},
};

void RunRow(const std::string& program, const Row& row) {
  SetCheckContext("%s", row.name);
  if (!CheckNoAgentRunning()) return;
  std::unique_ptr<TargetWindow> target;
  if (row.target_present) target = std::make_unique<TargetWindow>();

  AgentProcess first;
  HWND first_window = nullptr;
  if (!StartAgentAndFindWindow(program, first, &first_window)) return;

  AgentProcess second;
  if (!StartAgent(program, second)) return;
  DWORD exit_code = 0;
  if (WaitForExit(second, &exit_code)) {
    CHECK(exit_code == 0, "the second agent ended with exit code %lu, expected 0", exit_code);
  }

  CHECK(IsRunning(first), "the first agent ended when the second one started");
  CHECK(FindAgentWindow() == first_window, "the agent window is no longer the first agent's");
  CHECK(CountWindows(kAgentClass, kAgentTitle) == 1, "%d agent windows, expected the first agent's only",
        CountWindows(kAgentClass, kAgentTitle));
  SendWithin(first_window, WM_NULL, 0, 0, nullptr);
  if (target) CHECK(target->TakeButtonMessages() == 0, "button messages posted with no button pressed");

  EndAgentWith(first, first_window, WM_CLOSE);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: second_agent_test AGENT.exe\n");
    return 2;
  }
  for (const Row& row : kRows) RunRow(argv[1], row);
  return CheckReport("second_agent_test");
}
