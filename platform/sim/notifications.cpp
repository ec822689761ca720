// Device-change notifications and the other messages the system sends to the
// process's windows.
#include <algorithm>
#include <cinttypes>
#include <cstring>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

void Send(const Window& window, SentMessage message) {
  window.owner->sent.push_back(std::move(message));
  window.owner->wake.notify_all();
}

// The DEV_BROADCAST_DEVICEINTERFACE_A that comes with an interface event, the
// device path in dbcc_name.
std::vector<char> InterfaceBroadcast(const std::string& path) {
  constexpr std::size_t kHeader = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  const std::size_t size = kHeader + path.size() + 1;
  std::vector<char> payload(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)), '\0');
  DEV_BROADCAST_DEVICEINTERFACE_A header = {};
  header.dbcc_size = static_cast<DWORD>(size);
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header.dbcc_classguid = kHidGuid;
  std::memcpy(payload.data(), &header, kHeader);
  std::memcpy(payload.data() + kHeader, path.c_str(), path.size() + 1);
  return payload;
}

}  // namespace

}  // namespace sim::detail

using namespace sim::detail;

HDEVNOTIFY RegisterDeviceNotificationA(HANDLE recipient, LPVOID filter, DWORD flags) {
  auto lock = Enter("RegisterDeviceNotificationA");
  const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
  Trace("RegisterDeviceNotificationA recipient=0x%" PRIXPTR " type=%u flags=0x%X",
        reinterpret_cast<std::uintptr_t>(recipient), header == nullptr ? 0u : header->dbch_devicetype, flags);
  // Only interface-class notifications to a window are modelled.
  if (flags != DEVICE_NOTIFY_WINDOW_HANDLE || header == nullptr ||
      header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
    SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  WindowPtr window = FindLiveWindow(static_cast<HWND>(recipient));
  if (window == nullptr || window->owner == nullptr) {
    SetError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  const auto* interface_filter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
  State& state = S();
  const std::uintptr_t value = state.next_notification;
  state.next_notification += 8;
  state.notifications.emplace(value, Registration{window->handle, interface_filter->dbcc_classguid});
  return reinterpret_cast<HDEVNOTIFY>(value);
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY notification) {
  auto lock = Enter("UnregisterDeviceNotification");
  Trace("UnregisterDeviceNotification notification=0x%" PRIXPTR,
        reinterpret_cast<std::uintptr_t>(notification));
  if (S().notifications.erase(reinterpret_cast<std::uintptr_t>(notification)) == 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

namespace sim {

void AnnounceDeviceChange(WPARAM event) {
  auto lock = Lock();
  State& state = S();
  if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) {
    // Windows delivers interface events only to the windows registered for
    // that interface class.
    const std::string& path = event == DBT_DEVICEARRIVAL ? state.last_arrived_path : state.last_removed_path;
    for (const auto& [value, registration] : state.notifications) {
      WindowPtr window = FindLiveWindow(registration.window);
      if (window == nullptr || !SameGuid(registration.class_guid, kHidGuid)) continue;
      SentMessage message;
      message.window = window->handle;
      message.message = WM_DEVICECHANGE;
      message.w_param = event;
      message.payload = InterfaceBroadcast(path);
      Send(*window, std::move(message));
    }
    return;
  }
  // Other events go to every top-level window.
  for (const auto& [value, window] : state.windows) {
    if (window->destroyed || window->owner == nullptr) continue;
    SentMessage message;
    message.window = window->handle;
    message.message = WM_DEVICECHANGE;
    message.w_param = event;
    Send(*window, std::move(message));
  }
}

void DestroyWindowFromSystem(HWND window) {
  auto lock = Lock();
  WindowPtr record = FindLiveWindow(window);
  if (record == nullptr) return;
  if (record->owner == nullptr) {
    DestroyWindowRecord(*record);
    return;
  }
  SentMessage message;
  message.window = window;
  message.message = WM_DESTROY;
  message.destroy_after = true;
  Send(*record, std::move(message));
}

int DeviceNotificationRegistrations() {
  auto lock = Lock();
  int registered = 0;
  for (const auto& [value, registration] : S().notifications) {
    if (FindLiveWindow(registration.window) != nullptr && SameGuid(registration.class_guid, kHidGuid))
      ++registered;
  }
  return registered;
}

}  // namespace sim
