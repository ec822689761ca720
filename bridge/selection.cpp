// The selection rule: which collections of a device list carry the buttons.
#include "bridge/bridge.h"

ULONG ScanButtonCollections(const HidDeviceRecord* devices, ULONG device_count, ULONG* selected) {
  ULONG matches = 0;
  for (ULONG j = 0; j < device_count && matches < kSelectionEntries; ++j) {
    if (devices[j].caps.UsagePage == kConsumerUsagePage) selected[matches++] = j;
  }
  return matches;
}
