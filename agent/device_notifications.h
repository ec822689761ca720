// Registration of the agent's window for HID device-interface events: Windows
// sends the arrival and removal of a HID interface only to windows that asked
// for its interface class.
#pragma once

#include "platform/windows_api.h"

void RegisterHidNotifications(HWND window);
void UnregisterHidNotifications();
