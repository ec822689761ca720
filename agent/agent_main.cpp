// The process entry: registers the window class, creates the hidden window
// (which attaches the bridge on creation) and runs the message loop.
#include "agent/agent.h"
#include "agent/device_notifications.h"
#include "bridge/bridge.h"

// Kept in the program's data for whoever inspects the file; no code reads it,
// so it is marked used to survive the optimiser and the linker.
[[gnu::used]] extern const char kAgentIdentification[] = "Vandrel Corvix USB Driver Ver 0.9";

namespace {

bool RegisterAgentClass(HINSTANCE instance) {
  WNDCLASSA window_class = {};
  window_class.style = CS_PARENTDC;
  window_class.lpfnWndProc = AgentWindowProc;
  window_class.cbClsExtra = 0;
  window_class.cbWndExtra = 0;
  window_class.hInstance = instance;
  window_class.hIcon = nullptr;
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  window_class.lpszMenuName = "";
  window_class.lpszClassName = kAgentClassName;
  return RegisterClassA(&window_class) != 0;
}

}  // namespace

int AgentMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR, int) {
  if (previous_instance == nullptr && !RegisterAgentClass(instance)) return 0;
  HWND running_agent = FindWindowA(kAgentClassName, kAgentWindowTitle);
  HWND window = CreateWindowExA(0, kAgentClassName, kAgentWindowTitle, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
  if (window == nullptr) {
    // Nothing could ever end a loop without a window; creation may still have
    // attached the bridge.
    DetachBridge();
    return 1;
  }
  RegisterHidNotifications(window);
  ShowWindow(window, SW_HIDE);
  if (running_agent != nullptr) PostMessageA(window, WM_DESTROY, 0, 0);

  MSG message = {};
  BOOL result;
  while ((result = GetMessageA(&message, nullptr, 0, 0)) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (result < 0) {
    // The queue failed; stop the readers rather than leave them behind.
    DetachBridge();
    UnregisterHidNotifications();
    return 1;
  }
  return static_cast<int>(message.wParam);
}
