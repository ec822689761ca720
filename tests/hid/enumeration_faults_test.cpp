// The enumeration always ends and always leaves a list that can be scanned by
// its count and released: a set that cannot be built, member indices that
// keep failing, allocations that fail, and detail sizes too small to hold a
// path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid_test_support.h"
#include "support/sim_fixture.h"

namespace {

using hid_test::BareCollection;
using hid_test::Enumerate;
using hid_test::IsBlank;
using hid_test::Listed;

class EnumerationFaultsTest : public SimTest {};

bool IsOpened(const HidDeviceRecord& record) {
  return record.handle != nullptr && record.handle != INVALID_HANDLE_VALUE && record.preparsed != nullptr &&
         record.caps.UsagePage != 0;
}

TEST_F(EnumerationFaultsTest, ASetThatCannotBeBuiltGivesAnEmptyListAtOnce) {
  sim::AddDevice(BareCollection("buttons"));
  sim::SetClassDevsFails(true);

  const Listed list = Enumerate();

  EXPECT_FALSE(list.reached_end);
  EXPECT_EQ(list.records, nullptr);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(sim::Calls("SetupDiEnumDeviceInterfaces"), 0);
  EXPECT_EQ(sim::Calls("SetupDiDestroyDeviceInfoList"), 0) << "no set was built";
  EXPECT_EQ(sim::Calls("LocalAlloc"), 0);
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

TEST_F(EnumerationFaultsTest, AnEnumerationThatNeverEndsStopsAfter64FailuresInARow) {
  sim::AddDevice(BareCollection("buttons"));
  sim::SetEnumerationNeverEnds(true);

  const Listed list = Enumerate();

  EXPECT_FALSE(list.reached_end);
  ASSERT_EQ(list.count, 64u);
  for (ULONG i = 0; i < list.count; ++i) EXPECT_TRUE(IsBlank(list.records[i])) << "record " << i;
  EXPECT_EQ(sim::Calls("SetupDiEnumDeviceInterfaces"), 64);
  EXPECT_EQ(sim::Held().bytes, 64 * sizeof(HidDeviceRecord)) << "the array stops growing";
  EXPECT_EQ(sim::Held().info_sets, 0);
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

// Runs of failing member indices (E) and good ones (G): only 64 failures in a
// row stop the enumeration; a good index starts the run afresh.
struct RunRow {
  const char* name;
  std::string indices;  // in enumeration order
  bool reached_end;
  ULONG count;
};

TEST_F(EnumerationFaultsTest, OnlyARunOf64FailuresStopsTheEnumeration) {
  const RunRow rows[] = {
      {"63 failures then a good one", std::string(63, 'E') + "G", true, 64},
      {"64 failures then a good one", std::string(64, 'E') + "G", false, 64},
      {"a good one, then 64 failures", "G" + std::string(64, 'E') + "G", false, 65},
      {"two runs of 40 broken by a good one", std::string(40, 'E') + "G" + std::string(40, 'E') + "G", true,
       82},
  };
  for (const RunRow& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Reset();
    std::vector<sim::DeviceId> devices;
    for (std::size_t i = 0; i < row.indices.size(); ++i) {
      const sim::OpenFault fault = row.indices[i] == 'E' ? sim::OpenFault::Enum : sim::OpenFault::None;
      devices.push_back(sim::AddDevice(BareCollection("dev" + std::to_string(i)), fault));
    }

    const Listed list = Enumerate();

    EXPECT_EQ(list.reached_end, row.reached_end);
    ASSERT_EQ(list.count, row.count);
    for (ULONG i = 0; i < list.count; ++i) {
      EXPECT_EQ(IsOpened(list.records[i]), row.indices[i] == 'G') << "record " << i;
    }
    for (std::size_t i = list.count; i < devices.size(); ++i) {
      EXPECT_EQ(sim::DeviceCalls(devices[i], "CreateFileA"), 0) << "index " << i << " is past the stop";
    }
    EXPECT_EQ(sim::Held().info_sets, 0);
    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
  }
}

// Nine interfaces need one growth of the array. Failing each allocation in
// turn: a failed array allocation or growth ends the enumeration with the
// records gathered so far (none before the first array), a failed detail
// buffer leaves that one record blank; every list can be released whole.
TEST_F(EnumerationFaultsTest, EveryFailedAllocationLeavesAConsistentList) {
  constexpr int kInterfaces = 9;
  auto add_devices = [] {
    for (int i = 0; i < kInterfaces; ++i) sim::AddDevice(BareCollection("dev" + std::to_string(i)));
  };
  add_devices();
  const Listed clean = Enumerate();
  ReleaseDeviceList(clean.records, clean.count);
  const int allocations = sim::FaultPoints(sim::Fault::Alloc);
  ASSERT_GE(allocations, 2);

  int first_array_failures = 0;
  int growth_failures = 0;
  int blank_record_runs = 0;
  for (int n = 1; n <= allocations; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
    sim::Reset();
    add_devices();
    sim::FailNth(sim::Fault::Alloc, n);

    const Listed list = Enumerate();

    EXPECT_EQ(sim::Held().info_sets, 0);
    if (!list.reached_end && list.records == nullptr) {
      ++first_array_failures;
      EXPECT_EQ(list.count, 0u);
      EXPECT_EQ(sim::Held().device_handles, 0);
    } else if (!list.reached_end) {
      ++growth_failures;
      ASSERT_EQ(list.count, 8u) << "every index of the first array was tried";
      for (ULONG i = 0; i < list.count; ++i) EXPECT_TRUE(IsOpened(list.records[i])) << "record " << i;
      EXPECT_EQ(sim::Held().bytes, 8 * sizeof(HidDeviceRecord)) << "the old array stays valid";
    } else {
      ASSERT_EQ(list.count, static_cast<ULONG>(kInterfaces));
      int blank = 0;
      for (ULONG i = 0; i < list.count; ++i) blank += IsBlank(list.records[i]);
      EXPECT_EQ(blank, 1) << "only the record whose detail buffer failed stays blank";
      ++blank_record_runs;
    }
    ReleaseDeviceList(list.records, list.count);
    ExpectNothingHeld();
  }
  EXPECT_EQ(first_array_failures, 1);
  EXPECT_EQ(growth_failures, 1);
  EXPECT_EQ(blank_record_runs, kInterfaces);
}

TEST_F(EnumerationFaultsTest, ADetailSizeTooSmallForAPathLeavesTheRecordBlank) {
  const sim::DeviceId device = sim::AddDevice(BareCollection("short"), sim::OpenFault::DetailSize);
  sim::AddDevice(BareCollection("after"));

  const Listed list = Enumerate();

  EXPECT_TRUE(list.reached_end);
  ASSERT_EQ(list.count, 2u);
  EXPECT_TRUE(IsBlank(list.records[0]));
  EXPECT_TRUE(IsOpened(list.records[1]));
  EXPECT_EQ(sim::DeviceCalls(device, "CreateFileA"), 0);
  EXPECT_EQ(sim::Held().blocks, 1);
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

}  // namespace
