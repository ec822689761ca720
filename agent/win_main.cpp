// The Windows program's entry: the agent's entry routine is its WinMain.
#include "agent/agent.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR command_line, int show_command) {
  return AgentMain(instance, previous_instance, command_line, show_command);
}
