// The agent process: its entry routine and the window procedure of its one
// hidden window.
#pragma once

#include "platform/windows_api.h"

extern const char kTargetClassName[];
extern const char kTargetWindowTitle[];
extern const char kAgentWindowTitle[];

int AgentMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR command_line, int show_command);
LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param);
