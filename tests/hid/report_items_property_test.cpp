// Random capability lists, built and released many times: the items follow
// the order rules, item_count equals the items filled, every block has the
// size the lists call for, and nothing is left held.
#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>

#include "hid/hid_device.h"
#include "hid_test_support.h"
#include "support/sim_fixture.h"

namespace {

class ReportItemsPropertyTest : public SimTest {};

constexpr USAGE kPages[] = {0x01, 0x07, 0x09, 0x0C, 0xFF00};

// A usage range: mostly short and ascending, sometimes inverted, sometimes
// ending at the top of the usage space.
void RandomRange(std::mt19937& random, USAGE* first, USAGE* last) {
  std::uniform_int_distribution<int> shape(0, 9);
  std::uniform_int_distribution<int> usage(0, 0xFFFF);
  std::uniform_int_distribution<int> width(0, 40);
  const int kind = shape(random);
  if (kind == 0) {  // inverted
    *first = static_cast<USAGE>(usage(random) | 1);
    *last = static_cast<USAGE>(*first - 1 - width(random) % *first);
  } else if (kind == 1) {  // up to 0xFFFF
    *last = 0xFFFF;
    *first = static_cast<USAGE>(0xFFFF - width(random));
  } else {
    *first = static_cast<USAGE>(usage(random) % 0xF000);
    *last = static_cast<USAGE>(*first + width(random));
  }
}

template <typename Caps>
Caps RandomEntry(std::mt19937& random) {
  std::uniform_int_distribution<int> page(0, std::size(kPages) - 1);
  std::uniform_int_distribution<int> byte(0, 0xFF);
  std::uniform_int_distribution<int> usage(0, 0xFFFF);
  Caps entry{};
  entry.UsagePage = kPages[page(random)];
  entry.ReportID = static_cast<UCHAR>(byte(random) < 128 ? 0 : byte(random));
  entry.IsRange = byte(random) < 128;
  if (entry.IsRange) {
    RandomRange(random, &entry.Range.UsageMin, &entry.Range.UsageMax);
  } else {
    entry.NotRange.Usage = static_cast<USAGE>(usage(random));
  }
  return entry;
}

sim::DeviceSpec RandomSpec(std::mt19937& random) {
  std::uniform_int_distribution<int> length(0, 12);
  std::uniform_int_distribution<int> entries(0, 4);
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_int_distribution<int> list_length(-1, 6);

  sim::DeviceSpec device_spec = hid_test::BareCollection("random");
  device_spec.input_report_length = static_cast<USHORT>(length(random));
  device_spec.output_report_length = static_cast<USHORT>(length(random));
  device_spec.feature_report_length = static_cast<USHORT>(length(random));
  for (HIDP_REPORT_TYPE type : hid_test::kReportTypes) {
    for (int n = entries(random); n > 0; --n)
      device_spec.button_caps[type].push_back(RandomEntry<HIDP_BUTTON_CAPS>(random));
    for (int n = entries(random); n > 0; --n)
      device_spec.value_caps[type].push_back(RandomEntry<HIDP_VALUE_CAPS>(random));
    // Now and then caps announces more entries than the queries deliver.
    if (percent(random) < 10)
      device_spec.announced_button_caps[type] = static_cast<int>(device_spec.button_caps[type].size()) + 2;
    if (percent(random) < 10)
      device_spec.announced_value_caps[type] = static_cast<int>(device_spec.value_caps[type].size()) + 1;
    device_spec.max_usage_list_length[type] = list_length(random);
  }
  return device_spec;
}

TEST_F(ReportItemsPropertyTest, RandomCapabilityListsBuildInOrderAndReleaseEverything) {
  constexpr int kRuns = 3000;
  std::mt19937 random(20240611);
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    sim::Reset();
    const sim::DeviceSpec device_spec = RandomSpec(random);
    sim::AddDevice(device_spec);

    const hid_test::Listed list = hid_test::Enumerate();

    ASSERT_TRUE(list.reached_end);
    ASSERT_EQ(list.count, 1u);
    hid_test::ExpectTablesBuilt(list.records[0], device_spec);
    std::size_t table_bytes = 0;
    int table_blocks = 0;
    for (HIDP_REPORT_TYPE type : hid_test::kReportTypes) {
      table_bytes += hid_test::ExpectedKindBytes(device_spec, type);
      table_blocks += hid_test::ExpectedKindBlocks(device_spec, type);
    }
    const sim::Resources held = sim::Held();
    EXPECT_EQ(held.blocks, 1 + table_blocks);
    EXPECT_EQ(held.bytes, 8 * sizeof(HidDeviceRecord) + table_bytes);

    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
    if (HasFailure()) break;
  }
}

}  // namespace
