// The agent as a process: it makes one hidden pop-up window with its own class
// and title, keeps running, and ends with exit code 0 when its window is
// closed or receives WM_DESTROY, whether or not the target window exists.
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
  UINT end_message;
};

const Row kRows[] = {
    {"closed, no target window", false, WM_CLOSE},
    {"closed, target window present", true, WM_CLOSE},
    {"WM_DESTROY posted, no target window", false, WM_DESTROY},
    {"WM_DESTROY posted, target window present", true, WM_DESTROY},
};

void RunRow(const std::string& program, const Row& row) {
  SetCheckContext("%s", row.name);
  if (!CheckNoAgentRunning()) return;
  std::unique_ptr<TargetWindow> target;
  if (row.target_present) target = std::make_unique<TargetWindow>();

  AgentProcess agent;
  HWND window = nullptr;
  if (!StartAgentAndFindWindow(program, agent, &window)) return;
  if (target)
    CHECK(target->TakeButtonMessages() == 0, "the agent posted button messages with no button pressed");

  EndAgentWith(agent, window, row.end_message);
  if (target) CHECK(target->TakeButtonMessages() == 0, "the agent posted button messages while ending");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: agent_window_test AGENT.exe\n");
    return 2;
  }
  for (const Row& row : kRows) RunRow(argv[1], row);
  return CheckReport("agent_window_test");
}
