#include "platform_hid.h"

#include "agent_process.h"

namespace wintest {

std::vector<std::string> PresentHidPaths() {
  std::vector<std::string> paths;
  GUID hid_class;
  HidD_GetHidGuid(&hid_class);
  HDEVINFO device_set =
      SetupDiGetClassDevsA(&hid_class, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (device_set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA interface_data = {};
  interface_data.cbSize = sizeof interface_data;
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(device_set, nullptr, &hid_class, index, &interface_data);
       ++index) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(device_set, &interface_data, nullptr, 0, &size, nullptr);
    std::vector<char> buffer(
        size > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ? size : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof *detail;
    if (SetupDiGetDeviceInterfaceDetailA(device_set, &interface_data, detail,
                                         static_cast<DWORD>(buffer.size()), nullptr, nullptr)) {
      paths.push_back(detail->DevicePath);
    } else {
      paths.push_back("");  // keeps the member index; the agent's record stays blank
    }
  }
  SetupDiDestroyDeviceInfoList(device_set);
  return paths;
}

bool WaitForSettledHidPaths(std::vector<std::string>* paths) {
  constexpr DWORD kPollMs = 200;
  std::vector<std::string> previous = PresentHidPaths();
  // Polling: the platform offers no event for "every collection announced".
  for (DWORD waited = 0; waited < kProcessWaitMs; waited += kPollMs) {
    Sleep(kPollMs);
    std::vector<std::string> current = PresentHidPaths();
    if (!current.empty() && current == previous) {
      *paths = current;
      return true;
    }
    previous = current;
  }
  return false;
}

PlatformCollection OpenPlatformCollection(const std::string& path) {
  PlatformCollection collection;
  collection.handle =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (collection.handle == INVALID_HANDLE_VALUE) return collection;
  if (!HidD_GetPreparsedData(collection.handle, &collection.preparsed)) {
    collection.preparsed = nullptr;
    return collection;
  }
  collection.has_attributes = HidD_GetAttributes(collection.handle, &collection.attributes);
  collection.has_caps = HidP_GetCaps(collection.preparsed, &collection.caps) == HIDP_STATUS_SUCCESS;
  return collection;
}

void ClosePlatformCollection(PlatformCollection& collection) {
  if (collection.preparsed != nullptr) HidD_FreePreparsedData(collection.preparsed);
  if (collection.handle != INVALID_HANDLE_VALUE) CloseHandle(collection.handle);
  collection = PlatformCollection();
}

}  // namespace wintest
