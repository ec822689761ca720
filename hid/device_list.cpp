// Building and releasing the device list: one record per member index of the
// platform's HID interface enumeration, in one contiguous array.
#include "hid/hid_device.h"

namespace {

// A platform that keeps failing member indices without ever reporting the end
// would grow the array forever; after this many failures in a row the
// enumeration is taken as broken and stops.
constexpr ULONG kMaxEnumFailuresInARow = 64;

constexpr ULONG kFirstCapacity = 4;

// Gives the array room for `capacity` records, the added ones blank. A failed
// growth leaves the old array valid and in place.
bool GrowRecords(HidDeviceRecord*& records, ULONG old_capacity, ULONG capacity) {
  HLOCAL block;
  if (records == nullptr) {
    block = LocalAlloc(LPTR, capacity * sizeof(HidDeviceRecord));
  } else {
    block = LocalReAlloc(records, capacity * sizeof(HidDeviceRecord), LMEM_MOVEABLE | LMEM_ZEROINIT);
  }
  if (block == nullptr) return false;
  records = static_cast<HidDeviceRecord*>(block);
  for (ULONG i = old_capacity; i < capacity; ++i) records[i] = HidDeviceRecord{};
  return true;
}

}  // namespace

bool EnumerateHidDevices(HidDeviceRecord*& records, ULONG& count) {
  GUID hid_guid;
  HidD_GetHidGuid(&hid_guid);
  records = nullptr;
  count = 0;

  HDEVINFO device_set =
      SetupDiGetClassDevsA(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (device_set == INVALID_HANDLE_VALUE) return false;

  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
  ULONG capacity = kFirstCapacity;
  ULONG index = 0;
  ULONG failures_in_a_row = 0;
  bool reached_end = false;
  bool stopped_early = false;

  while (!reached_end && !stopped_early) {
    const ULONG old_capacity = records == nullptr ? 0 : capacity;
    capacity *= 2;
    if (!GrowRecords(records, old_capacity, capacity)) break;

    while (index < capacity) {
      if (SetupDiEnumDeviceInterfaces(device_set, nullptr, &hid_guid, index, &interface_data)) {
        failures_in_a_row = 0;
        OpenHidCollection(device_set, &interface_data, &records[index]);
      } else if (GetLastError() == ERROR_NO_MORE_ITEMS) {
        reached_end = true;
        break;
      } else if (++failures_in_a_row == kMaxEnumFailuresInARow) {
        ++index;
        stopped_early = true;
        break;
      }
      ++index;
    }
  }

  count = index;
  SetupDiDestroyDeviceInfoList(device_set);
  return reached_end;
}

void ReleaseDeviceList(HidDeviceRecord* records, ULONG count) {
  for (ULONG i = 0; i < count; ++i) CloseHidCollection(&records[i]);
  if (records != nullptr) LocalFree(records);
}
