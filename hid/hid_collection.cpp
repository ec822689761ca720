// Opening one HID interface into its record, and releasing what a record holds.
#include <cstddef>

#include "hid/hid_device.h"

namespace {

bool HidDSucceeded(BOOLEAN result) {
  return result != FALSE;
}

bool HidPSucceeded(NTSTATUS status) {
  return status == HIDP_STATUS_SUCCESS;
}

// The smallest detail buffer that holds cbSize and a one-character device path.
constexpr std::size_t kMinDetailSize = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1;

// Opens the interface's device path into `handle` (INVALID_HANDLE_VALUE when
// the platform refuses it). False, with `handle` untouched, when the path
// cannot be read: the record then stays blank.
bool OpenDevicePath(HDEVINFO device_set, PSP_DEVICE_INTERFACE_DATA interface_data, HANDLE* handle) {
  DWORD required_size = 0;
  SetupDiGetDeviceInterfaceDetailA(device_set, interface_data, nullptr, 0, &required_size, nullptr);
  if (required_size < kMinDetailSize) return false;
  const DWORD detail_size = required_size;

  auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(LocalAlloc(LPTR, detail_size));
  if (detail == nullptr) return false;
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(device_set, interface_data, detail, detail_size, &required_size,
                                        nullptr)) {
    LocalFree(detail);
    return false;
  }
  // The path must end inside the buffer whatever the platform wrote.
  reinterpret_cast<char*>(detail)[detail_size - 1] = '\0';

  *handle = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  LocalFree(detail);
  return true;
}

void DropPreparsed(HidDeviceRecord* record) {
  HidD_FreePreparsedData(record->preparsed);
  record->preparsed = nullptr;
}

}  // namespace

bool OpenHidCollection(HDEVINFO device_set, PSP_DEVICE_INTERFACE_DATA interface_data,
                       HidDeviceRecord* record) {
  if (!OpenDevicePath(device_set, interface_data, &record->handle)) return false;
  if (record->handle == INVALID_HANDLE_VALUE) return false;

  if (!HidDSucceeded(HidD_GetPreparsedData(record->handle, &record->preparsed))) {
    record->preparsed = nullptr;
    return false;
  }
  if (!HidDSucceeded(HidD_GetAttributes(record->handle, &record->attributes))) {
    DropPreparsed(record);
    return false;
  }
  if (!HidPSucceeded(HidP_GetCaps(record->preparsed, &record->caps))) {
    // The bridge selects by caps.UsagePage, so a refused record keeps zero caps.
    record->caps = HIDP_CAPS{};
    DropPreparsed(record);
    return false;
  }

  BuildReportItemTables(record);
  return true;
}

void CloseHidCollection(HidDeviceRecord* record) {
  // A blank record's zero handle goes to CloseHandle too; its refusal is harmless.
  if (record->handle != INVALID_HANDLE_VALUE) CloseHandle(record->handle);
  if (record->preparsed != nullptr) HidD_FreePreparsedData(record->preparsed);
  ReleaseReportKindTables(&record->input);
  ReleaseReportKindTables(&record->output);
  ReleaseReportKindTables(&record->feature);
}
