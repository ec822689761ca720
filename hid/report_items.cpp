// The report item tables of an opened record: per report kind, the platform's
// button and value capabilities, one item per button capability and per value
// usage, and a buffer as long as one report.
#include <cstdint>

#include "hid/hid_device.h"

namespace {

// What one report kind draws on from the record's caps.
struct ReportKindSource {
  HIDP_REPORT_TYPE report_type;
  USHORT report_length;
  USHORT button_cap_count;
  USHORT value_cap_count;
};

// A zero-filled block of `count` elements; a count of 0 takes no block and
// leaves the pointer null.
template <typename T>
bool AllocateZeroed(T** block, SIZE_T count) {
  *block = nullptr;
  if (count == 0) return true;
  if (count > SIZE_MAX / sizeof(T)) return false;
  *block = static_cast<T*>(LocalAlloc(LPTR, count * sizeof(T)));
  return *block != nullptr;
}

// Counted in 32 bits, with every usage iterated in 32 bits, because one kind's
// value usages can total 65,536 or more and a range may end at usage 0xFFFF;
// an inverted range (UsageMax below UsageMin) fills no item and so counts none.
// The count then always equals the number of value items the fill writes, and
// with the button count it stays within 32 bits (65,535 + 65,535 * 65,536).
ULONG CountValueUsages(const HIDP_VALUE_CAPS* value_caps, USHORT value_cap_count) {
  ULONG total = 0;
  for (USHORT i = 0; i < value_cap_count; ++i) {
    const HIDP_VALUE_CAPS& entry = value_caps[i];
    if (!entry.IsRange) {
      total += 1;
    } else if (entry.Range.UsageMax >= entry.Range.UsageMin) {
      total += ULONG{entry.Range.UsageMax} - entry.Range.UsageMin + 1;
    }
  }
  return total;
}

bool FillButtonItem(const ReportKindSource& source, const HIDP_BUTTON_CAPS& entry,
                    PHIDP_PREPARSED_DATA preparsed, ReportItem* item) {
  item->is_button = 1;
  item->status = HIDP_STATUS_SUCCESS;
  item->usage_page = entry.UsagePage;
  if (entry.IsRange) {
    item->usage_min = entry.Range.UsageMin;
    item->usage_max = entry.Range.UsageMax;
  } else {
    item->usage_min = entry.NotRange.Usage;
    item->usage_max = entry.NotRange.Usage;
  }
  item->max_usage_count = HidP_MaxUsageListLength(source.report_type, entry.UsagePage, preparsed);
  item->report_id = entry.ReportID;
  return AllocateZeroed(&item->usage_list, item->max_usage_count);
}

void FillValueItem(const HIDP_VALUE_CAPS& entry, ULONG usage, ReportItem* item) {
  item->is_button = 0;
  item->status = HIDP_STATUS_SUCCESS;
  item->usage_page = entry.UsagePage;
  item->usage = static_cast<USHORT>(usage);
  item->report_id = entry.ReportID;
}

// Builds into `built`, which starts blank. False when a block could not be
// taken; what was taken is then still held in `built`.
bool BuildTables(const ReportKindSource& source, PHIDP_PREPARSED_DATA preparsed, ReportKindTables* built) {
  if (!AllocateZeroed(&built->report_buffer, source.report_length)) return false;
  if (!AllocateZeroed(&built->button_caps, source.button_cap_count)) return false;
  if (!AllocateZeroed(&built->value_caps, source.value_cap_count)) return false;

  USHORT button_length = source.button_cap_count;
  HidP_GetSpecificButtonCaps(source.report_type, 0, 0, 0, built->button_caps, &button_length, preparsed);
  USHORT value_length = source.value_cap_count;
  HidP_GetSpecificValueCaps(source.report_type, 0, 0, 0, built->value_caps, &value_length, preparsed);

  const ULONG item_count =
      source.button_cap_count + CountValueUsages(built->value_caps, source.value_cap_count);
  if (!AllocateZeroed(&built->items, item_count)) return false;
  built->item_count = item_count;

  ReportItem* next = built->items;
  for (USHORT i = 0; i < source.button_cap_count; ++i) {
    if (!FillButtonItem(source, built->button_caps[i], preparsed, next++)) return false;
  }
  for (USHORT i = 0; i < source.value_cap_count; ++i) {
    const HIDP_VALUE_CAPS& entry = built->value_caps[i];
    if (!entry.IsRange) {
      FillValueItem(entry, entry.NotRange.Usage, next++);
      continue;
    }
    for (ULONG usage = entry.Range.UsageMin; usage <= entry.Range.UsageMax; ++usage) {
      FillValueItem(entry, usage, next++);
    }
  }
  return true;
}

// A kind whose blocks cannot all be taken is left blank; the other kinds are
// built all the same.
void BuildReportKindTables(const ReportKindSource& source, PHIDP_PREPARSED_DATA preparsed,
                           ReportKindTables* tables) {
  ReportKindTables built{};
  if (!BuildTables(source, preparsed, &built)) {
    ReleaseReportKindTables(&built);
    return;
  }
  *tables = built;
}

}  // namespace

void BuildReportItemTables(HidDeviceRecord* record) {
  const HIDP_CAPS& caps = record->caps;
  BuildReportKindTables(
      {HidP_Input, caps.InputReportByteLength, caps.NumberInputButtonCaps, caps.NumberInputValueCaps},
      record->preparsed, &record->input);
  BuildReportKindTables(
      {HidP_Output, caps.OutputReportByteLength, caps.NumberOutputButtonCaps, caps.NumberOutputValueCaps},
      record->preparsed, &record->output);
  BuildReportKindTables(
      {HidP_Feature, caps.FeatureReportByteLength, caps.NumberFeatureButtonCaps, caps.NumberFeatureValueCaps},
      record->preparsed, &record->feature);
}

void ReleaseReportKindTables(ReportKindTables* tables) {
  if (tables->report_buffer != nullptr) LocalFree(tables->report_buffer);
  if (tables->items != nullptr) {
    for (ULONG i = 0; i < tables->item_count; ++i) {
      const ReportItem& item = tables->items[i];
      if (item.is_button && item.usage_list != nullptr) LocalFree(item.usage_list);
    }
    LocalFree(tables->items);
  }
  if (tables->button_caps != nullptr) LocalFree(tables->button_caps);
  if (tables->value_caps != nullptr) LocalFree(tables->value_caps);
}
