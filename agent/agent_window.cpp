// The hidden window's procedure: creation attaches the bridge, destruction
// detaches it and ends the process, device arrival and removal re-attach.
#include "agent/agent.h"
#include "agent/device_notifications.h"
#include "bridge/bridge.h"

namespace {

HWND FindTargetWindow() {
  return FindWindowA(kTargetClassName, kTargetWindowTitle);
}

void OnDeviceChange(WORD event) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  HWND target = FindTargetWindow();
  if (target == nullptr) return;
  // A removal re-selects the collections. So does an arrival while the bridge
  // runs short of readers: a device announces its collections one by one, and
  // the first may have attached before its siblings were present; or a read
  // was refused and ended its reader.
  if (event == DBT_DEVICEREMOVECOMPLETE || BridgeRunsShortOfReaders()) DetachBridge();
  AttachBridge(target);
}

}  // namespace

LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
    case WM_CREATE: {
      HWND target = FindTargetWindow();
      if (target != nullptr) AttachBridge(target);
      return 0;
    }
    case WM_DESTROY:
      DetachBridge();
      UnregisterHidNotifications();
      PostQuitMessage(0);
      return 0;
    case WM_DEVICECHANGE:
      OnDeviceChange(LOWORD(w_param));
      return 0;
    default:
      return DefWindowProcA(window, message, w_param, l_param);
  }
}
