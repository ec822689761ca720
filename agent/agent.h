// The agent process: its entry routine and the window procedure of its one
// hidden window.
#pragma once

#include "platform/windows_api.h"

// The agent's own hidden window shares its class name with the target
// application's window; the title tells them apart.
inline constexpr char kAgentClassName[] = "KalvorethClass";
inline constexpr char kAgentWindowTitle[] = "KalvorethTMSG";

int AgentMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR command_line, int show_command);
LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param);
