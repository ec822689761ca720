// The agent's HID device access against the platform's real SetupAPI and HID
// library: the list it builds agrees, record by record, with what the platform
// reports directly; each opened record's report item tables agree with the
// platform's capability lists in counts and order; and releasing the list
// leaves no handle and no heap block behind.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "hid/hid_device.h"
#include "platform_hid.h"

using namespace wintest;

namespace {

const char* kProgram = "hid_list_test";

// The handles this process holds, found by asking about every small handle value.
std::vector<uintptr_t> OpenHandles() {
  std::vector<uintptr_t> handles;
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) handles.push_back(value);
  }
  return handles;
}

struct HeapCensus {
  unsigned long blocks = 0;
  unsigned long bytes = 0;
  bool operator==(const HeapCensus&) const = default;
};

// The busy blocks of every heap of the process: the agent's own blocks and
// those the HID library keeps for preparsed data alike.
HeapCensus TakeHeapCensus() {
  HeapCensus census;
  HANDLE heaps[64];
  DWORD heap_count = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < heap_count && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heaps[i], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
        ++census.blocks;
        census.bytes += entry.cbData;
      }
    }
    HeapUnlock(heaps[i]);
  }
  return census;
}

template <typename T>
unsigned long Count(const std::vector<T>& elements) {
  return static_cast<unsigned long>(elements.size());
}

bool IsZero(const void* block, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

struct ReportKind {
  const char* name;
  HIDP_REPORT_TYPE type;
  ReportKindTables HidDeviceRecord::*tables;
  USHORT HIDP_CAPS::*report_length;
  USHORT HIDP_CAPS::*button_cap_count;
  USHORT HIDP_CAPS::*value_cap_count;
};

const ReportKind kReportKinds[] = {
    {"input", HidP_Input, &HidDeviceRecord::input, &HIDP_CAPS::InputReportByteLength,
     &HIDP_CAPS::NumberInputButtonCaps, &HIDP_CAPS::NumberInputValueCaps},
    {"output", HidP_Output, &HidDeviceRecord::output, &HIDP_CAPS::OutputReportByteLength,
     &HIDP_CAPS::NumberOutputButtonCaps, &HIDP_CAPS::NumberOutputValueCaps},
    {"feature", HidP_Feature, &HidDeviceRecord::feature, &HIDP_CAPS::FeatureReportByteLength,
     &HIDP_CAPS::NumberFeatureButtonCaps, &HIDP_CAPS::NumberFeatureValueCaps},
};

// What one item should hold, derived from the platform's own capability lists.
struct ExpectedItem {
  bool is_button;
  USHORT usage_page;
  ULONG report_id;
  ULONG usage_min;  // the usage of a value item
  ULONG usage_max;
  ULONG max_usage_count;
};

std::vector<ExpectedItem> ExpectedItems(HIDP_REPORT_TYPE type, const std::vector<HIDP_BUTTON_CAPS>& buttons,
                                        const std::vector<HIDP_VALUE_CAPS>& values,
                                        PHIDP_PREPARSED_DATA preparsed) {
  std::vector<ExpectedItem> items;
  for (const HIDP_BUTTON_CAPS& entry : buttons) {
    ULONG first = entry.IsRange ? entry.Range.UsageMin : entry.NotRange.Usage;
    ULONG last = entry.IsRange ? entry.Range.UsageMax : entry.NotRange.Usage;
    items.push_back({true, entry.UsagePage, entry.ReportID, first, last,
                     HidP_MaxUsageListLength(type, entry.UsagePage, preparsed)});
  }
  for (const HIDP_VALUE_CAPS& entry : values) {
    ULONG first = entry.IsRange ? entry.Range.UsageMin : entry.NotRange.Usage;
    ULONG last = entry.IsRange ? entry.Range.UsageMax : entry.NotRange.Usage;
    for (ULONG usage = first; usage <= last; ++usage) {
      items.push_back({false, entry.UsagePage, entry.ReportID, usage, usage, 0});
    }
  }
  return items;
}

void CheckItem(const ReportItem& item, const ExpectedItem& expected, ULONG index) {
  CHECK(item.status == HIDP_STATUS_SUCCESS, "item %lu: status 0x%08lX", index,
        static_cast<unsigned long>(item.status));
  CHECK(item.is_button == (expected.is_button ? 1 : 0), "item %lu: is_button %u", index, item.is_button);
  CHECK(item.usage_page == expected.usage_page, "item %lu: usage page 0x%04X, platform 0x%04X", index,
        item.usage_page, expected.usage_page);
  CHECK(item.report_id == expected.report_id, "item %lu: report id %lu, platform %lu", index, item.report_id,
        expected.report_id);
  if (!expected.is_button) {
    CHECK(item.usage == expected.usage_min, "item %lu: usage 0x%04X, platform 0x%04lX", index, item.usage,
          expected.usage_min);
    return;
  }
  CHECK(item.usage_min == expected.usage_min && item.usage_max == expected.usage_max,
        "item %lu: usages 0x%lX-0x%lX, platform 0x%lX-0x%lX", index, item.usage_min, item.usage_max,
        expected.usage_min, expected.usage_max);
  CHECK(item.max_usage_count == expected.max_usage_count, "item %lu: max usage count %lu, platform %lu",
        index, item.max_usage_count, expected.max_usage_count);
  if (item.max_usage_count > 0 && CHECK(item.usage_list != nullptr, "item %lu: no usage list for %lu usages",
                                        index, item.max_usage_count)) {
    CHECK(IsZero(item.usage_list, item.max_usage_count * sizeof(USHORT)), "item %lu: usage list not zero",
          index);
  }
}

void CheckTables(const HidDeviceRecord& record, const PlatformCollection& platform, const ReportKind& kind) {
  const ReportKindTables& tables = record.*kind.tables;
  const USHORT length = platform.caps.*kind.report_length;
  const USHORT button_count = platform.caps.*kind.button_cap_count;
  const USHORT value_count = platform.caps.*kind.value_cap_count;

  if (length > 0 &&
      CHECK(tables.report_buffer != nullptr, "%s: no report buffer for %u bytes", kind.name, length)) {
    CHECK(IsZero(tables.report_buffer, length), "%s: report buffer not zero", kind.name);
  }

  std::vector<HIDP_BUTTON_CAPS> buttons(button_count);
  USHORT got = button_count;
  if (button_count > 0) {
    CHECK(HidP_GetSpecificButtonCaps(kind.type, 0, 0, 0, buttons.data(), &got, platform.preparsed) ==
                  HIDP_STATUS_SUCCESS &&
              got == button_count,
          "%s: the platform gave %u of %u button capabilities", kind.name, got, button_count);
    if (CHECK(tables.button_caps != nullptr, "%s: no button capabilities", kind.name)) {
      for (USHORT i = 0; i < button_count; ++i) {
        CHECK(memcmp(&tables.button_caps[i], &buttons[i], sizeof buttons[i]) == 0,
              "%s: button capability %u differs from the platform's", kind.name, i);
      }
    }
  }
  std::vector<HIDP_VALUE_CAPS> values(value_count);
  got = value_count;
  if (value_count > 0) {
    CHECK(HidP_GetSpecificValueCaps(kind.type, 0, 0, 0, values.data(), &got, platform.preparsed) ==
                  HIDP_STATUS_SUCCESS &&
              got == value_count,
          "%s: the platform gave %u of %u value capabilities", kind.name, got, value_count);
    if (CHECK(tables.value_caps != nullptr, "%s: no value capabilities", kind.name)) {
      for (USHORT i = 0; i < value_count; ++i) {
        CHECK(memcmp(&tables.value_caps[i], &values[i], sizeof values[i]) == 0,
              "%s: value capability %u differs from the platform's", kind.name, i);
      }
    }
  }

  std::vector<ExpectedItem> expected = ExpectedItems(kind.type, buttons, values, platform.preparsed);
  printf("  %s: %u-byte reports, %u button and %u value capabilities, %lu items\n", kind.name, length,
         button_count, value_count, Count(expected));
  if (!CHECK(tables.item_count == expected.size(), "%s: %lu items, the platform's lists give %lu", kind.name,
             tables.item_count, Count(expected))) {
    return;
  }
  if (expected.empty()) return;
  if (!CHECK(tables.items != nullptr, "%s: no item array", kind.name)) return;
  for (ULONG i = 0; i < tables.item_count; ++i) CheckItem(tables.items[i], expected[i], i);
}

void CheckRecord(const HidDeviceRecord& record, const std::string& path, ULONG index) {
  SetCheckContext("record %lu: %s", index, path.c_str());
  if (path.empty()) {
    CHECK(IsZero(&record, sizeof record),
          "the platform gave no path for this member index, yet the record is not blank");
    return;
  }
  PlatformCollection platform = OpenPlatformCollection(path);
  if (platform.handle == INVALID_HANDLE_VALUE) {
    CHECK(record.handle == INVALID_HANDLE_VALUE, "the platform refuses to open it, the record holds %p",
          record.handle);
    CHECK(record.preparsed == nullptr && record.caps.UsagePage == 0,
          "a refused record holds preparsed data or caps");
  } else if (CHECK(record.handle != nullptr && record.handle != INVALID_HANDLE_VALUE,
                   "the platform opens it, the record holds %p", record.handle)) {
    HIDD_ATTRIBUTES through_record = {};
    CHECK(HidD_GetAttributes(record.handle, &through_record),
          "the record's handle is not an open HID collection");
    CHECK(!platform.has_attributes || (through_record.VendorID == platform.attributes.VendorID &&
                                       through_record.ProductID == platform.attributes.ProductID),
          "the record's handle is open on another device");
  }
  if (platform.preparsed == nullptr || !platform.has_attributes || !platform.has_caps) {
    CHECK(record.preparsed == nullptr,
          "the platform did not open it completely, the record holds preparsed data");
    ClosePlatformCollection(platform);
    return;
  }

  printf("  usage page 0x%04X usage 0x%04X, vendor 0x%04X product 0x%04X\n", platform.caps.UsagePage,
         platform.caps.Usage, platform.attributes.VendorID, platform.attributes.ProductID);
  if (CHECK(record.preparsed != nullptr, "no preparsed data")) {
    HIDP_CAPS through_record = {};
    CHECK(HidP_GetCaps(record.preparsed, &through_record) == HIDP_STATUS_SUCCESS &&
              memcmp(&through_record, &platform.caps, sizeof through_record) == 0,
          "the record's preparsed data does not describe this collection");
  }
  CHECK(memcmp(&record.caps, &platform.caps, sizeof record.caps) == 0, "caps differ from HidP_GetCaps");
  CHECK(record.attributes.VendorID == platform.attributes.VendorID &&
            record.attributes.ProductID == platform.attributes.ProductID &&
            record.attributes.VersionNumber == platform.attributes.VersionNumber,
        "attributes %04X:%04X v%04X, platform %04X:%04X v%04X", record.attributes.VendorID,
        record.attributes.ProductID, record.attributes.VersionNumber, platform.attributes.VendorID,
        platform.attributes.ProductID, platform.attributes.VersionNumber);
  for (const ReportKind& kind : kReportKinds) CheckTables(record, platform, kind);
  ClosePlatformCollection(platform);
}

}  // namespace

int main() {
  std::vector<std::string> paths;
  if (!WaitForSettledHidPaths(&paths)) {
    return SkipProgram(kProgram, "the platform lists no HID collection to compare with");
  }
  // One list built and released first, so that what the platform keeps after
  // its first use is not counted as left behind.
  HidDeviceRecord* records = nullptr;
  ULONG count = 0;
  EnumerateHidDevices(records, count);
  ReleaseDeviceList(records, count);

  SetCheckContext("enumeration of %lu HID collections", Count(paths));
  const std::vector<uintptr_t> handles_before = OpenHandles();
  const HeapCensus heap_before = TakeHeapCensus();

  CHECK(EnumerateHidDevices(records, count), "the enumeration did not reach the platform's end of the list");
  // The platform's own view is read again around the agent's: when it changed,
  // a collection came or went in between and the counts cannot be compared.
  if (PresentHidPaths() != paths) {
    ReleaseDeviceList(records, count);
    return SkipProgram(kProgram, "the platform's HID collections changed during the enumeration");
  }
  if (CHECK(count == paths.size(), "%lu records, the platform lists %lu interfaces", count, Count(paths))) {
    for (ULONG i = 0; i < count; ++i) CheckRecord(records[i], paths[i], i);
  }

  SetCheckContext("release");
  std::vector<HANDLE> record_handles;
  for (ULONG i = 0; i < count; ++i) {
    if (records[i].handle != nullptr && records[i].handle != INVALID_HANDLE_VALUE) {
      record_handles.push_back(records[i].handle);
    }
  }
  ReleaseDeviceList(records, count);
  for (HANDLE handle : record_handles) {
    DWORD flags = 0;
    SetLastError(0xDEADBEEF);
    CHECK(!GetHandleInformation(handle, &flags) && GetLastError() == ERROR_INVALID_HANDLE,
          "the released record's device handle %p is still open", handle);
  }
  record_handles.clear();
  record_handles.shrink_to_fit();
  const HeapCensus heap_after = TakeHeapCensus();
  const std::vector<uintptr_t> handles_after = OpenHandles();
  CHECK(handles_after == handles_before, "%lu handles open before the enumeration, %lu after the release",
        Count(handles_before), Count(handles_after));
  CHECK(heap_after == heap_before,
        "heap blocks before the enumeration: %lu (%lu bytes); after the release: %lu (%lu bytes)",
        heap_before.blocks, heap_before.bytes, heap_after.blocks, heap_after.bytes);
  return CheckReport(kProgram);
}
