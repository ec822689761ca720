// SetupAPI: device information sets holding a snapshot of the present HID
// interfaces, their enumeration and their interface details.
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

std::string GuidText(const GUID* guid) {
  if (guid == nullptr) return "(null)";
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid->Data1,
                guid->Data2, guid->Data3, guid->Data4[0], guid->Data4[1], guid->Data4[2], guid->Data4[3],
                guid->Data4[4], guid->Data4[5], guid->Data4[6], guid->Data4[7]);
  return text;
}

InfoSet* FindSet(HDEVINFO set) {
  auto found = S().info_sets.find(reinterpret_cast<std::uintptr_t>(set));
  return found == S().info_sets.end() ? nullptr : &found->second;
}

// Reserved names the snapshot entry that SetupDiEnumDeviceInterfaces filled in.
DevicePtr MemberOf(const InfoSet& set, const SP_DEVICE_INTERFACE_DATA* data) {
  if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return nullptr;
  if (data->Reserved == 0 || data->Reserved > set.members.size()) return nullptr;
  return set.members[data->Reserved - 1];
}

long MemberIndex(const SP_DEVICE_INTERFACE_DATA* data) {
  return data == nullptr ? -1 : static_cast<long>(data->Reserved) - 1;
}

constexpr DWORD kDetailHeader = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

}  // namespace

}  // namespace sim::detail

using namespace sim::detail;

HDEVINFO SetupDiGetClassDevsA(const GUID* class_guid, PCSTR enumerator, HWND parent, DWORD flags) {
  auto lock = Enter("SetupDiGetClassDevsA");
  State& state = S();
  if (state.tracing) {
    Trace("SetupDiGetClassDevsA guid=%s enumerator=%s parent=0x%" PRIXPTR " flags=0x%X",
          GuidText(class_guid).c_str(), Text(enumerator), reinterpret_cast<std::uintptr_t>(parent), flags);
  }
  if (class_guid == nullptr || !SameGuid(*class_guid, kHidGuid) ||
      flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
    SetError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (state.class_devs_fail) {
    SetError(ERROR_INVALID_DATA);
    return INVALID_HANDLE_VALUE;
  }
  InfoSet set;
  for (const DevicePtr& device : state.devices) {
    if (device->present) set.members.push_back(device);
  }
  const std::uintptr_t value = state.next_info_set;
  state.next_info_set += 8;
  state.info_sets.emplace(value, std::move(set));
  return reinterpret_cast<HDEVINFO>(value);
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO device_set, PSP_DEVINFO_DATA, const GUID* class_guid,
                                 DWORD member_index, PSP_DEVICE_INTERFACE_DATA interface_data) {
  auto lock = Enter("SetupDiEnumDeviceInterfaces");
  if (S().tracing) {
    Trace("SetupDiEnumDeviceInterfaces set=0x%" PRIXPTR " guid=%s member=%u cbSize=%u",
          reinterpret_cast<std::uintptr_t>(device_set), GuidText(class_guid).c_str(), member_index,
          interface_data == nullptr ? 0u : interface_data->cbSize);
  }
  InfoSet* set = FindSet(device_set);
  if (set == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (interface_data == nullptr || class_guid == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (interface_data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    SetError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (S().enumeration_never_ends) {
    SetError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  // The set holds interfaces of the HID class only.
  if (member_index >= set->members.size() || !SameGuid(*class_guid, kHidGuid)) {
    SetError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  Device& device = *set->members[member_index];
  CountDeviceCall(device, "SetupDiEnumDeviceInterfaces");
  if (device.fault == sim::OpenFault::Enum) {
    SetError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  interface_data->InterfaceClassGuid = kHidGuid;
  interface_data->Flags = SPINT_ACTIVE;
  interface_data->Reserved = member_index + 1;
  return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO device_set, PSP_DEVICE_INTERFACE_DATA interface_data,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detail_size,
                                      PDWORD required_size, PSP_DEVINFO_DATA) {
  auto lock = Enter("SetupDiGetDeviceInterfaceDetailA");
  if (S().tracing) {
    const char* buffer = detail == nullptr ? "none" : detail_size < sizeof(DWORD) ? "short" : nullptr;
    char cb_size[24];
    if (buffer == nullptr) {
      std::snprintf(cb_size, sizeof cb_size, "cbSize:%u", detail->cbSize);
      buffer = cb_size;
    }
    Trace("SetupDiGetDeviceInterfaceDetailA set=0x%" PRIXPTR " member=%ld buffer=%s size=%u",
          reinterpret_cast<std::uintptr_t>(device_set), MemberIndex(interface_data), buffer, detail_size);
  }
  InfoSet* set = FindSet(device_set);
  if (set == nullptr) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DevicePtr device = MemberOf(*set, interface_data);
  if (device == nullptr) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  CountDeviceCall(*device, "SetupDiGetDeviceInterfaceDetailA");
  const DWORD required = kDetailHeader + static_cast<DWORD>(device->path.size()) + 1;
  if (detail == nullptr) {
    if (detail_size != 0) {
      SetError(ERROR_INVALID_USER_BUFFER);
      return FALSE;
    }
    if (required_size != nullptr) *required_size = device->fault == sim::OpenFault::DetailSize ? 2 : required;
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  // Too short to hold cbSize and one character: cbSize is not even read.
  if (detail_size < kDetailHeader + 1 || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    SetError(ERROR_INVALID_USER_BUFFER);
    return FALSE;
  }
  if (device->fault == sim::OpenFault::Detail) {
    SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (required_size != nullptr) *required_size = required;
  if (detail_size < required) {
    SetError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(detail->DevicePath, device->path.c_str(), device->path.size() + 1);
  return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO device_set) {
  auto lock = Enter("SetupDiDestroyDeviceInfoList");
  Trace("SetupDiDestroyDeviceInfoList set=0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(device_set));
  if (S().info_sets.erase(reinterpret_cast<std::uintptr_t>(device_set)) == 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
