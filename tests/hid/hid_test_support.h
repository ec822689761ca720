// Capability entries, device descriptions, record checks and the expected
// report items of a described device, for the HID device access tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "platform/sim/sim_control.h"
#include "support/test_devices.h"

namespace hid_test {

inline constexpr HIDP_REPORT_TYPE kReportTypes[] = {HidP_Input, HidP_Output, HidP_Feature};

inline HIDP_BUTTON_CAPS ButtonUsage(USAGE page, USAGE usage, UCHAR report_id = 0) {
  HIDP_BUTTON_CAPS entry{};
  entry.UsagePage = page;
  entry.ReportID = report_id;
  entry.NotRange.Usage = usage;
  return entry;
}

inline HIDP_BUTTON_CAPS ButtonRange(USAGE page, USAGE first, USAGE last, UCHAR report_id = 0) {
  HIDP_BUTTON_CAPS entry{};
  entry.UsagePage = page;
  entry.ReportID = report_id;
  entry.IsRange = 1;
  entry.Range.UsageMin = first;
  entry.Range.UsageMax = last;
  return entry;
}

inline HIDP_VALUE_CAPS ValueUsage(USAGE page, USAGE usage, UCHAR report_id = 0) {
  HIDP_VALUE_CAPS entry{};
  entry.UsagePage = page;
  entry.ReportID = report_id;
  entry.NotRange.Usage = usage;
  return entry;
}

inline HIDP_VALUE_CAPS ValueRange(USAGE page, USAGE first, USAGE last, UCHAR report_id = 0) {
  HIDP_VALUE_CAPS entry{};
  entry.UsagePage = page;
  entry.ReportID = report_id;
  entry.IsRange = 1;
  entry.Range.UsageMin = first;
  entry.Range.UsageMax = last;
  return entry;
}

using ::BareCollection;

// The list that one enumeration left.
struct Listed {
  HidDeviceRecord* records = nullptr;
  ULONG count = 0;
  bool reached_end = false;
};

inline Listed Enumerate() {
  Listed list;
  // Whatever the variables held before is overwritten.
  list.records = reinterpret_cast<HidDeviceRecord*>(static_cast<std::uintptr_t>(0xBAD0));
  list.count = 0xBAD0;
  list.reached_end = EnumerateHidDevices(list.records, list.count);
  return list;
}

inline bool IsZero(const void* bytes, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < size; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

inline bool IsZeroCaps(const HIDP_CAPS& caps) {
  return IsZero(&caps, sizeof caps);
}

inline bool IsZeroAttributes(const HIDD_ATTRIBUTES& attributes) {
  return attributes.Size == 0 && attributes.VendorID == 0 && attributes.ProductID == 0 &&
         attributes.VersionNumber == 0;
}

inline bool IsBlank(const ReportKindTables& tables) {
  return tables.report_buffer == nullptr && tables.items == nullptr && tables.item_count == 0 &&
         tables.button_caps == nullptr && tables.value_caps == nullptr;
}

inline bool HasBlankTables(const HidDeviceRecord& record) {
  return IsBlank(record.input) && IsBlank(record.output) && IsBlank(record.feature);
}

inline bool IsBlank(const HidDeviceRecord& record) {
  return record.handle == nullptr && record.preparsed == nullptr && IsZeroCaps(record.caps) &&
         IsZeroAttributes(record.attributes) && HasBlankTables(record);
}

inline const ReportKindTables& TablesOf(const HidDeviceRecord& record, HIDP_REPORT_TYPE type) {
  return type == HidP_Input ? record.input : type == HidP_Output ? record.output : record.feature;
}

// ---- What a described device's tables must hold ---------------------------

inline int AnnouncedButtonCaps(const sim::DeviceSpec& device_spec, HIDP_REPORT_TYPE type) {
  const int announced = device_spec.announced_button_caps[type];
  return announced >= 0 ? announced : static_cast<int>(device_spec.button_caps[type].size());
}

inline int AnnouncedValueCaps(const sim::DeviceSpec& device_spec, HIDP_REPORT_TYPE type) {
  const int announced = device_spec.announced_value_caps[type];
  return announced >= 0 ? announced : static_cast<int>(device_spec.value_caps[type].size());
}

inline USHORT ReportLength(const sim::DeviceSpec& device_spec, HIDP_REPORT_TYPE type) {
  return type == HidP_Input    ? device_spec.input_report_length
         : type == HidP_Output ? device_spec.output_report_length
                               : device_spec.feature_report_length;
}

// The capability arrays as the queries leave them: the announced count, the
// entries the device does not deliver zero.
inline std::vector<HIDP_BUTTON_CAPS> DeliveredButtonCaps(const sim::DeviceSpec& device_spec,
                                                         HIDP_REPORT_TYPE type) {
  std::vector<HIDP_BUTTON_CAPS> caps(AnnouncedButtonCaps(device_spec, type));
  for (std::size_t i = 0; i < caps.size() && i < device_spec.button_caps[type].size(); ++i) {
    caps[i] = device_spec.button_caps[type][i];
  }
  return caps;
}

inline std::vector<HIDP_VALUE_CAPS> DeliveredValueCaps(const sim::DeviceSpec& device_spec,
                                                       HIDP_REPORT_TYPE type) {
  std::vector<HIDP_VALUE_CAPS> caps(AnnouncedValueCaps(device_spec, type));
  for (std::size_t i = 0; i < caps.size() && i < device_spec.value_caps[type].size(); ++i) {
    caps[i] = device_spec.value_caps[type][i];
  }
  return caps;
}

// The usage list length the device reports for one report kind and page
// (page 0: any page).
inline ULONG MaxUsageListLength(const sim::DeviceSpec& device_spec, HIDP_REPORT_TYPE type, USAGE page) {
  if (device_spec.max_usage_list_length[type] >= 0)
    return static_cast<ULONG>(device_spec.max_usage_list_length[type]);
  ULONG usages = 0;
  for (const HIDP_BUTTON_CAPS& entry : device_spec.button_caps[type]) {
    if (page != 0 && entry.UsagePage != page) continue;
    if (!entry.IsRange) {
      usages += 1;
    } else if (entry.Range.UsageMax >= entry.Range.UsageMin) {
      usages += ULONG{entry.Range.UsageMax} - entry.Range.UsageMin + 1;
    }
  }
  return usages;
}

struct ExpectedItem {
  bool is_button = false;
  USHORT usage_page = 0;
  ULONG report_id = 0;
  ULONG usage_min = 0;  // value items: the usage
  ULONG usage_max = 0;
  ULONG max_usage_count = 0;
};

// Button items in the order of the button capabilities, then for each value
// capability in order its usages ascending; an inverted range gives none.
inline std::vector<ExpectedItem> ExpectedItems(const sim::DeviceSpec& device_spec, HIDP_REPORT_TYPE type) {
  std::vector<ExpectedItem> items;
  for (const HIDP_BUTTON_CAPS& entry : DeliveredButtonCaps(device_spec, type)) {
    ExpectedItem item;
    item.is_button = true;
    item.usage_page = entry.UsagePage;
    item.report_id = entry.ReportID;
    item.usage_min = entry.IsRange ? entry.Range.UsageMin : entry.NotRange.Usage;
    item.usage_max = entry.IsRange ? entry.Range.UsageMax : entry.NotRange.Usage;
    item.max_usage_count = MaxUsageListLength(device_spec, type, entry.UsagePage);
    items.push_back(item);
  }
  for (const HIDP_VALUE_CAPS& entry : DeliveredValueCaps(device_spec, type)) {
    const ULONG first = entry.IsRange ? entry.Range.UsageMin : entry.NotRange.Usage;
    const ULONG last = entry.IsRange ? entry.Range.UsageMax : entry.NotRange.Usage;
    for (ULONG usage = first; usage <= last; ++usage) {
      ExpectedItem item;
      item.usage_page = entry.UsagePage;
      item.report_id = entry.ReportID;
      item.usage_min = usage;
      items.push_back(item);
    }
  }
  return items;
}

// Every block one kind's tables take, in bytes.
inline std::size_t ExpectedKindBytes(const sim::DeviceSpec& device_spec, HIDP_REPORT_TYPE type) {
  const std::vector<ExpectedItem> items = ExpectedItems(device_spec, type);
  std::size_t bytes =
      ReportLength(device_spec, type) + AnnouncedButtonCaps(device_spec, type) * sizeof(HIDP_BUTTON_CAPS) +
      AnnouncedValueCaps(device_spec, type) * sizeof(HIDP_VALUE_CAPS) + items.size() * sizeof(ReportItem);
  for (const ExpectedItem& item : items) bytes += item.max_usage_count * sizeof(USHORT);
  return bytes;
}

// How many blocks one kind's tables take.
inline int ExpectedKindBlocks(const sim::DeviceSpec& device_spec, HIDP_REPORT_TYPE type) {
  const std::vector<ExpectedItem> items = ExpectedItems(device_spec, type);
  int blocks = (ReportLength(device_spec, type) != 0) + (AnnouncedButtonCaps(device_spec, type) != 0) +
               (AnnouncedValueCaps(device_spec, type) != 0) + !items.empty();
  for (const ExpectedItem& item : items) blocks += item.max_usage_count != 0;
  return blocks;
}

// Checks one kind's tables against the device's description, field by field;
// a failure names the kind and the item.
inline void ExpectKindBuilt(const ReportKindTables& tables, const sim::DeviceSpec& device_spec,
                            HIDP_REPORT_TYPE type) {
  SCOPED_TRACE("report type " + std::to_string(type));
  const std::vector<ExpectedItem> expected = ExpectedItems(device_spec, type);

  const USHORT length = ReportLength(device_spec, type);
  if (length == 0) {
    EXPECT_EQ(tables.report_buffer, nullptr);
  } else {
    ASSERT_NE(tables.report_buffer, nullptr);
    EXPECT_TRUE(IsZero(tables.report_buffer, length)) << "report buffer not zero-filled";
  }

  const std::vector<HIDP_BUTTON_CAPS> button_caps = DeliveredButtonCaps(device_spec, type);
  if (button_caps.empty()) {
    EXPECT_EQ(tables.button_caps, nullptr);
  } else {
    ASSERT_NE(tables.button_caps, nullptr);
    EXPECT_EQ(
        std::memcmp(tables.button_caps, button_caps.data(), button_caps.size() * sizeof(HIDP_BUTTON_CAPS)), 0)
        << "button capabilities differ from what the device delivers";
  }
  const std::vector<HIDP_VALUE_CAPS> value_caps = DeliveredValueCaps(device_spec, type);
  if (value_caps.empty()) {
    EXPECT_EQ(tables.value_caps, nullptr);
  } else {
    ASSERT_NE(tables.value_caps, nullptr);
    EXPECT_EQ(std::memcmp(tables.value_caps, value_caps.data(), value_caps.size() * sizeof(HIDP_VALUE_CAPS)),
              0)
        << "value capabilities differ from what the device delivers";
  }

  ASSERT_EQ(tables.item_count, expected.size());
  if (expected.empty()) {
    EXPECT_EQ(tables.items, nullptr);
    return;
  }
  ASSERT_NE(tables.items, nullptr);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ReportItem& item = tables.items[i];
    const ExpectedItem& want = expected[i];
    SCOPED_TRACE("item " + std::to_string(i));
    ASSERT_EQ(item.is_button, want.is_button ? 1 : 0);
    EXPECT_EQ(item.usage_page, want.usage_page);
    EXPECT_EQ(item.status, HIDP_STATUS_SUCCESS);
    EXPECT_EQ(item.report_id, want.report_id);
    if (want.is_button) {
      EXPECT_EQ(item.usage_min, want.usage_min);
      EXPECT_EQ(item.usage_max, want.usage_max);
      EXPECT_EQ(item.max_usage_count, want.max_usage_count);
      if (want.max_usage_count == 0) {
        EXPECT_EQ(item.usage_list, nullptr);
      } else {
        ASSERT_NE(item.usage_list, nullptr);
        EXPECT_TRUE(IsZero(item.usage_list, want.max_usage_count * sizeof(USHORT)));
      }
    } else {
      EXPECT_EQ(item.usage, want.usage_min);
      // What the build does not set stays zero, the storage shared with usage included.
      EXPECT_EQ(item.usage_min, want.usage_min);
      EXPECT_EQ(item.usage_max, 0u);
      EXPECT_EQ(item.max_usage_count, 0u);
      EXPECT_EQ(item.usage_list, nullptr);
    }
  }
}

inline void ExpectTablesBuilt(const HidDeviceRecord& record, const sim::DeviceSpec& device_spec) {
  for (HIDP_REPORT_TYPE type : kReportTypes) ExpectKindBuilt(TablesOf(record, type), device_spec, type);
}

}  // namespace hid_test
