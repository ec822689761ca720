#include "agent/device_notifications.h"

namespace {
HDEVNOTIFY hid_notifications = nullptr;
}  // namespace

void RegisterHidNotifications(HWND window) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  // Without the registration the agent still runs; it only misses hot-plug.
  hid_notifications = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void UnregisterHidNotifications() {
  if (hid_notifications != nullptr) UnregisterDeviceNotification(hid_notifications);
  hid_notifications = nullptr;
}
