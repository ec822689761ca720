// The report item tables that an open builds into its record, and their
// release with the record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid_test_support.h"
#include "support/sim_fixture.h"

namespace {

using hid_test::BareCollection;
using hid_test::ButtonRange;
using hid_test::ButtonUsage;
using hid_test::ExpectKindBuilt;
using hid_test::ExpectTablesBuilt;
using hid_test::IsBlank;
using hid_test::Listed;
using hid_test::ValueRange;
using hid_test::ValueUsage;

constexpr USAGE kConsumer = 0x0C;
constexpr USAGE kButtons = 0x09;
constexpr USAGE kDesktop = 0x01;

class ReportItemsTest : public SimTest {
 protected:
  // Enumerates the one device described; its record is records[0].
  Listed Open(const sim::DeviceSpec& device_spec) {
    sim::AddDevice(device_spec);
    Listed list = hid_test::Enumerate();
    EXPECT_TRUE(list.reached_end);
    EXPECT_EQ(list.count, 1u);
    return list;
  }
};

sim::DeviceSpec InputOnly(std::vector<HIDP_BUTTON_CAPS> buttons, std::vector<HIDP_VALUE_CAPS> values) {
  sim::DeviceSpec device_spec = BareCollection("collection");
  device_spec.input_report_length = 4;
  device_spec.button_caps[HidP_Input] = std::move(buttons);
  device_spec.value_caps[HidP_Input] = std::move(values);
  device_spec.max_usage_list_length[HidP_Input] = 3;
  return device_spec;
}

// A collection with reports and capabilities of every kind.
sim::DeviceSpec AllKinds() {
  sim::DeviceSpec device_spec = BareCollection("collection");
  device_spec.input_report_length = 4;
  device_spec.output_report_length = 2;
  device_spec.feature_report_length = 9;
  device_spec.button_caps[HidP_Input] = {ButtonUsage(kConsumer, 0xE9, 1), ButtonRange(kButtons, 1, 8, 1)};
  device_spec.value_caps[HidP_Input] = {ValueRange(kDesktop, 0x30, 0x32, 2), ValueUsage(kDesktop, 0x38, 2)};
  device_spec.button_caps[HidP_Output] = {ButtonRange(0x08, 1, 3, 3)};
  device_spec.value_caps[HidP_Output] = {ValueUsage(0x08, 0x4B, 3)};
  device_spec.button_caps[HidP_Feature] = {ButtonUsage(0xFF00, 0x01, 4), ButtonUsage(0xFF00, 0x02, 4),
                                           ButtonUsage(0xFF01, 0x03, 4)};
  device_spec.value_caps[HidP_Feature] = {ValueRange(0xFF00, 0x10, 0x11, 5)};
  device_spec.max_usage_list_length[HidP_Input] = 8;
  device_spec.max_usage_list_length[HidP_Output] = 3;
  device_spec.max_usage_list_length[HidP_Feature] = 2;
  return device_spec;
}

int ExpectedBlocks(const sim::DeviceSpec& device_spec) {
  int blocks = 0;
  for (HIDP_REPORT_TYPE type : hid_test::kReportTypes)
    blocks += hid_test::ExpectedKindBlocks(device_spec, type);
  return blocks;
}

std::size_t ExpectedBytes(const sim::DeviceSpec& device_spec) {
  std::size_t bytes = 0;
  for (HIDP_REPORT_TYPE type : hid_test::kReportTypes)
    bytes += hid_test::ExpectedKindBytes(device_spec, type);
  return bytes;
}

TEST_F(ReportItemsTest, InputOnlyCollectionLeavesOutputAndFeatureWithoutBlocks) {
  const sim::DeviceSpec device_spec = InputOnly({ButtonUsage(kConsumer, 0xCD)}, {ValueUsage(kDesktop, 0x30)});
  const Listed list = Open(device_spec);
  const HidDeviceRecord& record = list.records[0];

  EXPECT_TRUE(IsBlank(record.output));
  EXPECT_TRUE(IsBlank(record.feature));
  ASSERT_EQ(record.input.item_count, 2u);
  ExpectTablesBuilt(record, device_spec);
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

TEST_F(ReportItemsTest, ButtonEntryGivesOneItemWhetherSingleOrRanged) {
  struct Row {
    const char* name;
    HIDP_BUTTON_CAPS entry;
    ULONG usage_min;
    ULONG usage_max;
  };
  const Row rows[] = {
      {"single usage", ButtonUsage(kConsumer, 0xB5), 0xB5, 0xB5},
      {"range 1 to 8", ButtonRange(kButtons, 1, 8), 1, 8},
      {"range to 0xFFFF", ButtonRange(kButtons, 0xFFF0, 0xFFFF), 0xFFF0, 0xFFFF},
      {"inverted range", ButtonRange(kButtons, 9, 2), 9, 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Reset();
    const Listed list = Open(InputOnly({row.entry}, {}));
    const ReportKindTables& input = list.records[0].input;

    ASSERT_EQ(input.item_count, 1u);
    const ReportItem& item = input.items[0];
    EXPECT_EQ(item.is_button, 1);
    EXPECT_EQ(item.usage_page, row.entry.UsagePage);
    EXPECT_EQ(item.usage_min, row.usage_min);
    EXPECT_EQ(item.usage_max, row.usage_max);
    EXPECT_EQ(item.max_usage_count, 3u);
    ASSERT_NE(item.usage_list, nullptr);
    EXPECT_EQ(item.status, HIDP_STATUS_SUCCESS);
    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
  }
}

TEST_F(ReportItemsTest, RangedValueEntryGivesOneItemPerUsageAscending) {
  struct Row {
    const char* name;
    USAGE first;
    USAGE last;
  };
  const Row rows[] = {
      {"0x30 to 0x32", 0x30, 0x32},
      {"ending at 0xFFFF", 0xFFFD, 0xFFFF},
      {"one usage", 0x40, 0x40},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Reset();
    const Listed list = Open(InputOnly({}, {ValueRange(kDesktop, row.first, row.last, 7)}));
    const ReportKindTables& input = list.records[0].input;

    const ULONG usages = ULONG{row.last} - row.first + 1;
    ASSERT_EQ(input.item_count, usages);
    for (ULONG i = 0; i < usages; ++i) {
      const ReportItem& item = input.items[i];
      EXPECT_EQ(item.is_button, 0);
      EXPECT_EQ(item.usage, row.first + i);
      EXPECT_EQ(item.usage_page, kDesktop);
      EXPECT_EQ(item.report_id, 7u);
      EXPECT_EQ(item.status, HIDP_STATUS_SUCCESS);
    }
    EXPECT_EQ(input.items[usages - 1].usage, row.last);
    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
  }
}

TEST_F(ReportItemsTest, ButtonItemsComeFirstThenValueUsagesByEntry) {
  const Listed list = Open(InputOnly({ButtonUsage(kConsumer, 0xE9), ButtonRange(kButtons, 1, 4)},
                                     {ValueRange(kDesktop, 0x30, 0x32), ValueUsage(kDesktop, 0x38)}));
  const ReportKindTables& input = list.records[0].input;

  ASSERT_EQ(input.item_count, 6u);
  EXPECT_EQ(input.items[0].is_button, 1);
  EXPECT_EQ(input.items[0].usage_min, 0xE9u);
  EXPECT_EQ(input.items[1].is_button, 1);
  EXPECT_EQ(input.items[1].usage_min, 1u);
  EXPECT_EQ(input.items[1].usage_max, 4u);
  const USHORT value_usages[] = {0x30, 0x31, 0x32, 0x38};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(input.items[2 + i].is_button, 0) << "item " << 2 + i;
    EXPECT_EQ(input.items[2 + i].usage, value_usages[i]) << "item " << 2 + i;
  }
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

TEST_F(ReportItemsTest, ReportIdIsZeroExtended) {
  for (UCHAR report_id : {UCHAR{0}, UCHAR{0x7F}, UCHAR{0x80}, UCHAR{0xFF}}) {
    SCOPED_TRACE("report id " + std::to_string(report_id));
    sim::Reset();
    const Listed list =
        Open(InputOnly({ButtonUsage(kConsumer, 0xE9, report_id)}, {ValueRange(kDesktop, 1, 2, report_id)}));
    const ReportKindTables& input = list.records[0].input;

    ASSERT_EQ(input.item_count, 3u);
    for (ULONG i = 0; i < input.item_count; ++i) EXPECT_EQ(input.items[i].report_id, ULONG{report_id});
    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
  }
}

TEST_F(ReportItemsTest, EveryKindIsBuiltFromItsOwnReportTypeWithEveryItemSucceeded) {
  const sim::DeviceSpec device_spec = AllKinds();
  const Listed list = Open(device_spec);

  ExpectTablesBuilt(list.records[0], device_spec);
  EXPECT_EQ(sim::Held().blocks, 1 + ExpectedBlocks(device_spec));
  EXPECT_EQ(sim::Held().bytes, sizeof(HidDeviceRecord) * 8 + ExpectedBytes(device_spec));
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

TEST_F(ReportItemsTest, ClosingABuiltRecordReleasesEveryBlockOfEveryKind) {
  const sim::DeviceSpec device_spec = AllKinds();
  const Listed list = Open(device_spec);
  const int frees = sim::Calls("LocalFree");

  CloseHidCollection(&list.records[0]);

  EXPECT_EQ(sim::Calls("LocalFree") - frees, ExpectedBlocks(device_spec));
  EXPECT_EQ(sim::Held().blocks, 1) << "only the array is left";
  LocalFree(list.records);
  ExpectNothingHeld();
}

TEST_F(ReportItemsTest, ClosingARecordWhoseOpenStoppedBeforeTheBuildReleasesNoTable) {
  for (sim::OpenFault fault : {sim::OpenFault::Preparsed, sim::OpenFault::Attributes, sim::OpenFault::Caps}) {
    SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)));
    sim::Reset();
    sim::AddDevice(AllKinds(), fault);
    const Listed list = hid_test::Enumerate();
    ASSERT_EQ(list.count, 1u);
    EXPECT_TRUE(hid_test::HasBlankTables(list.records[0]));
    EXPECT_EQ(sim::Calls("HidP_GetSpecificButtonCaps"), 0);
    const int frees = sim::Calls("LocalFree");

    ReleaseDeviceList(list.records, list.count);

    EXPECT_EQ(sim::Calls("LocalFree") - frees, 1) << "only the array";
    ExpectNothingHeld();
  }
}

TEST_F(ReportItemsTest, NoUsageListRoomGivesAnEmptyUsageList) {
  sim::DeviceSpec device_spec = InputOnly({ButtonUsage(kConsumer, 0xE9), ButtonRange(kButtons, 1, 8)}, {});
  device_spec.max_usage_list_length[HidP_Input] = 0;
  const Listed list = Open(device_spec);
  const ReportKindTables& input = list.records[0].input;

  ASSERT_EQ(input.item_count, 2u);
  for (ULONG i = 0; i < input.item_count; ++i) {
    EXPECT_EQ(input.items[i].max_usage_count, 0u);
    EXPECT_EQ(input.items[i].usage_list, nullptr);
  }
  EXPECT_EQ(sim::Held().blocks, 4) << "array, report buffer, button caps, items";
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

// The capability queries deliver fewer entries than caps announces: the
// missing entries stay zero and each still gives its item.
TEST_F(ReportItemsTest, EntriesTheQueryLeavesUnfilledGiveZeroItems) {
  sim::DeviceSpec device_spec =
      InputOnly({ButtonUsage(kConsumer, 0xE9, 1)}, {ValueRange(kDesktop, 0x30, 0x31, 2)});
  device_spec.announced_button_caps[HidP_Input] = 3;
  device_spec.announced_value_caps[HidP_Input] = 2;
  device_spec.max_usage_list_length[HidP_Input] = -1;
  const Listed list = Open(device_spec);
  const ReportKindTables& input = list.records[0].input;

  ASSERT_EQ(input.item_count, 3u + 2u + 1u);
  for (ULONG i = 1; i < 3; ++i) {
    SCOPED_TRACE("zero button item " + std::to_string(i));
    EXPECT_EQ(input.items[i].is_button, 1);
    EXPECT_EQ(input.items[i].usage_page, 0);
    EXPECT_EQ(input.items[i].usage_min, 0u);
    EXPECT_EQ(input.items[i].usage_max, 0u);
    EXPECT_EQ(input.items[i].report_id, 0u);
    EXPECT_EQ(input.items[i].max_usage_count, hid_test::MaxUsageListLength(device_spec, HidP_Input, 0));
  }
  const ReportItem& zero_value = input.items[5];
  EXPECT_EQ(zero_value.is_button, 0);
  EXPECT_EQ(zero_value.usage_page, 0);
  EXPECT_EQ(zero_value.usage, 0);
  EXPECT_EQ(zero_value.report_id, 0u);
  EXPECT_EQ(zero_value.status, HIDP_STATUS_SUCCESS);
  ExpectTablesBuilt(list.records[0], device_spec);
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

// ---- Value usage totals beyond 16 bits and inverted ranges ---------------

TEST_F(ReportItemsTest, ValueUsagesTotalling65536OrMoreAreAllCountedAndFilled) {
  struct Row {
    const char* name;
    std::vector<HIDP_VALUE_CAPS> values;
    ULONG value_items;
  };
  const Row rows[] = {
      {"one range 0 to 0xFFFF", {ValueRange(kDesktop, 0, 0xFFFF)}, 65536},
      {"a range to 0xFFFF and a single",
       {ValueRange(kDesktop, 0, 0xFFFF), ValueUsage(kDesktop, 0x30)},
       65537},
      {"two full ranges", {ValueRange(kDesktop, 0, 0xFFFF), ValueRange(0xFF00, 0, 0xFFFF)}, 131072},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Reset();
    const sim::DeviceSpec device_spec = InputOnly({ButtonUsage(kConsumer, 0xE9)}, row.values);
    const Listed list = Open(device_spec);
    const ReportKindTables& input = list.records[0].input;

    ASSERT_EQ(input.item_count, 1 + row.value_items);
    EXPECT_EQ(input.items[65536].usage, 0xFFFF) << "the range ends with usage 0xFFFF";
    ExpectKindBuilt(input, device_spec, HidP_Input);
    EXPECT_EQ(sim::Held().bytes,
              sizeof(HidDeviceRecord) * 8 + hid_test::ExpectedKindBytes(device_spec, HidP_Input));
    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
  }
}

TEST_F(ReportItemsTest, AnInvertedValueRangeGivesNoItems) {
  struct Row {
    const char* name;
    USAGE first;
    USAGE last;
  };
  const Row rows[] = {{"5 down to 3", 5, 3}, {"0xFFFF down to 0", 0xFFFF, 0}, {"1 down to 0", 1, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Reset();
    const sim::DeviceSpec device_spec = InputOnly(
        {},
        {ValueUsage(kDesktop, 0x30), ValueRange(kDesktop, row.first, row.last), ValueUsage(kDesktop, 0x31)});
    const Listed list = Open(device_spec);
    const ReportKindTables& input = list.records[0].input;

    ASSERT_EQ(input.item_count, 2u);
    EXPECT_EQ(input.items[0].usage, 0x30);
    EXPECT_EQ(input.items[1].usage, 0x31);
    ExpectKindBuilt(input, device_spec, HidP_Input);
    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
  }
}

TEST_F(ReportItemsTest, OnlyInvertedValueRangesGiveNoItemArray) {
  const Listed list = Open(InputOnly({}, {ValueRange(kDesktop, 9, 1)}));
  const ReportKindTables& input = list.records[0].input;

  EXPECT_EQ(input.item_count, 0u);
  EXPECT_EQ(input.items, nullptr);
  EXPECT_NE(input.value_caps, nullptr);
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

// ---- Allocation failures during the build --------------------------------

// Failing each allocation of an open in turn: the kind it hits is left blank,
// the others are built as usual, the open still counts, nothing leaks.
TEST_F(ReportItemsTest, AFailedAllocationLeavesOnlyItsKindBlank) {
  const sim::DeviceSpec device_spec = AllKinds();
  const Listed clean = Open(device_spec);
  ReleaseDeviceList(clean.records, clean.count);
  const int allocations = sim::FaultPoints(sim::Fault::Alloc);
  // The array and the detail buffer come before the tables.
  ASSERT_EQ(allocations, 2 + ExpectedBlocks(device_spec));

  int blank_kinds[3] = {0, 0, 0};
  for (int n = 3; n <= allocations; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
    sim::Reset();
    sim::AddDevice(device_spec);
    sim::FailNth(sim::Fault::Alloc, n);

    const Listed list = hid_test::Enumerate();

    ASSERT_EQ(list.count, 1u);
    const HidDeviceRecord& record = list.records[0];
    EXPECT_NE(record.preparsed, nullptr) << "the open still counts as successful";
    EXPECT_EQ(record.caps.UsagePage, device_spec.usage_page);
    int blanks = 0;
    for (HIDP_REPORT_TYPE type : hid_test::kReportTypes) {
      const ReportKindTables& tables = hid_test::TablesOf(record, type);
      if (IsBlank(tables)) {
        ++blanks;
        ++blank_kinds[type];
      } else {
        ExpectKindBuilt(tables, device_spec, type);
      }
    }
    EXPECT_EQ(blanks, 1);
    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
  }
  for (HIDP_REPORT_TYPE type : hid_test::kReportTypes) {
    EXPECT_EQ(blank_kinds[type], hid_test::ExpectedKindBlocks(device_spec, type)) << "report type " << type;
  }
}

}  // namespace
