// The device list: its growth, its count, the state each record is left in,
// and what closing each state releases.
#include <gtest/gtest.h>

#include <string>

#include "hid/hid_device.h"
#include "hid_test_support.h"
#include "support/sim_fixture.h"

namespace {

using hid_test::BareCollection;
using hid_test::Enumerate;
using hid_test::IsBlank;
using hid_test::Listed;

class DeviceListTest : public SimTest {};

bool IsOpenHandle(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

void ExpectOpened(const HidDeviceRecord& record, const sim::DeviceSpec& device_spec) {
  EXPECT_TRUE(IsOpenHandle(record.handle));
  EXPECT_NE(record.preparsed, nullptr);
  EXPECT_EQ(record.caps.UsagePage, device_spec.usage_page);
  EXPECT_EQ(record.caps.Usage, device_spec.usage);
  EXPECT_EQ(record.attributes.VendorID, device_spec.vendor_id);
  EXPECT_EQ(record.attributes.ProductID, device_spec.product_id);
  EXPECT_EQ(record.attributes.VersionNumber, device_spec.version);
}

struct GrowthRow {
  int interfaces;
  ULONG capacity;  // records in the array the enumeration leaves
  int growths;
};

TEST_F(DeviceListTest, ArrayStartsAtEightRecordsAndDoublesBeforeTheNextIndex) {
  const GrowthRow rows[] = {{0, 8, 0},  {1, 8, 0},   {7, 8, 0},   {8, 16, 1},
                            {9, 16, 1}, {16, 32, 2}, {20, 32, 2}, {33, 64, 3}};
  for (const GrowthRow& row : rows) {
    SCOPED_TRACE(std::to_string(row.interfaces) + " interfaces");
    sim::Reset();
    for (int i = 0; i < row.interfaces; ++i) sim::AddDevice(BareCollection("dev" + std::to_string(i)));

    const Listed list = Enumerate();

    EXPECT_TRUE(list.reached_end);
    ASSERT_EQ(list.count, static_cast<ULONG>(row.interfaces));
    ASSERT_NE(list.records, nullptr);
    const sim::Resources held = sim::Held();
    EXPECT_EQ(held.blocks, 1) << "only the array is held";
    EXPECT_EQ(held.bytes, row.capacity * sizeof(HidDeviceRecord));
    EXPECT_EQ(sim::Calls("LocalReAlloc"), row.growths);
    EXPECT_EQ(held.device_handles, row.interfaces);
    EXPECT_EQ(held.info_sets, 0);
    for (ULONG i = list.count; i < row.capacity; ++i) {
      EXPECT_TRUE(IsBlank(list.records[i])) << "record " << i << " beyond the count";
    }

    const int close_calls = sim::Calls("CloseHandle");
    const int frees = sim::Calls("LocalFree");
    ReleaseDeviceList(list.records, list.count);
    EXPECT_EQ(sim::Calls("CloseHandle") - close_calls, row.interfaces)
        << "records beyond the count are visited";
    EXPECT_EQ(sim::Calls("LocalFree") - frees, 1);
    ExpectNothingHeld();
  }
}

TEST_F(DeviceListTest, RecordIndexEqualsMemberIndexAcrossGrowths) {
  std::vector<sim::DeviceSpec> specs;
  for (int i = 0; i < 20; ++i) {
    sim::DeviceSpec device_spec = BareCollection("dev" + std::to_string(i));
    device_spec.usage_page = static_cast<USAGE>(0x100 + i);
    device_spec.vendor_id = static_cast<USHORT>(i);
    specs.push_back(device_spec);
    sim::AddDevice(device_spec);
  }

  const Listed list = Enumerate();

  ASSERT_EQ(list.count, 20u);
  for (ULONG i = 0; i < list.count; ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    ExpectOpened(list.records[i], specs[i]);
  }
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

TEST_F(DeviceListTest, EnumerationErrorBetweenTwoGoodIndicesLeavesABlankCountedRecord) {
  const sim::DeviceSpec first = BareCollection("first");
  sim::DeviceSpec last = BareCollection("last");
  last.usage_page = 0x01;
  sim::AddDevice(first);
  const sim::DeviceId failing = sim::AddDevice(BareCollection("failing"), sim::OpenFault::Enum);
  const sim::DeviceId last_id = sim::AddDevice(last);

  const Listed list = Enumerate();

  EXPECT_TRUE(list.reached_end);
  ASSERT_EQ(list.count, 3u);
  ExpectOpened(list.records[0], first);
  EXPECT_TRUE(IsBlank(list.records[1]));
  ExpectOpened(list.records[2], last);
  EXPECT_EQ(sim::DeviceCalls(failing, "CreateFileA"), 0);
  EXPECT_EQ(sim::DeviceCalls(last_id, "CreateFileA"), 1);
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

enum class State { Blank, OpenRefused, HandleOnly, Opened };

struct StateRow {
  const char* name;
  sim::OpenFault fault;
  State state;
  bool attributes_filled;
  int preparsed_frees_in_open;  // HidD_FreePreparsedData calls while opening
  int preparsed_frees_in_life;  // and over the record's whole life
};

// Each step of the open that the platform can refuse, between two devices that
// open: the record keeps the state of its step, is counted, and the
// enumeration goes on.
TEST_F(DeviceListTest, EveryRefusedStepLeavesItsStateAndCloseReleasesExactlyThat) {
  const StateRow rows[] = {
      {"opens", sim::OpenFault::None, State::Opened, true, 0, 1},
      {"enumeration error", sim::OpenFault::Enum, State::Blank, false, 0, 0},
      {"detail refused", sim::OpenFault::Detail, State::Blank, false, 0, 0},
      {"detail size too small", sim::OpenFault::DetailSize, State::Blank, false, 0, 0},
      {"open refused", sim::OpenFault::Open, State::OpenRefused, false, 0, 0},
      {"preparsed refused", sim::OpenFault::Preparsed, State::HandleOnly, false, 0, 0},
      {"attributes refused", sim::OpenFault::Attributes, State::HandleOnly, false, 1, 1},
      {"caps refused", sim::OpenFault::Caps, State::HandleOnly, true, 1, 1},
  };
  for (const StateRow& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Reset();
    const sim::DeviceSpec device_spec = BareCollection("middle");
    sim::AddDevice(BareCollection("before"));
    const sim::DeviceId device = sim::AddDevice(device_spec, row.fault);
    sim::AddDevice(BareCollection("after"));

    const Listed list = Enumerate();

    EXPECT_TRUE(list.reached_end);
    ASSERT_EQ(list.count, 3u);
    ExpectOpened(list.records[0], BareCollection("before"));
    ExpectOpened(list.records[2], BareCollection("after"));
    const HidDeviceRecord& record = list.records[1];
    switch (row.state) {
      case State::Blank:
        EXPECT_TRUE(IsBlank(record));
        EXPECT_EQ(sim::DeviceCalls(device, "CreateFileA"), 0);
        break;
      case State::OpenRefused:
        EXPECT_EQ(record.handle, INVALID_HANDLE_VALUE);
        break;
      case State::HandleOnly:
      case State::Opened:
        EXPECT_TRUE(IsOpenHandle(record.handle));
        EXPECT_EQ(sim::OpenHandles(device), 1);
        break;
    }
    if (row.state == State::Opened) {
      ExpectOpened(record, device_spec);
    } else {
      EXPECT_EQ(record.preparsed, nullptr);
      EXPECT_TRUE(hid_test::IsZeroCaps(record.caps))
          << "a refused record must never be selected by usage page";
      EXPECT_EQ(record.attributes.VendorID, row.attributes_filled ? device_spec.vendor_id : 0);
      EXPECT_TRUE(hid_test::HasBlankTables(record));
    }
    EXPECT_EQ(sim::DeviceCalls(device, "HidD_FreePreparsedData"), row.preparsed_frees_in_open);
    EXPECT_EQ(sim::Held().blocks, 1) << "the interface-detail buffer is released on every path";
    EXPECT_EQ(sim::Held().preparsed, row.state == State::Opened ? 3 : 2);

    const int close_calls = sim::Calls("CloseHandle");
    ReleaseDeviceList(list.records, list.count);
    // The two good neighbours are closed; the middle record's close passes its
    // zero handle when blank, skips INVALID_HANDLE_VALUE and closes an open one.
    const int middle_close_calls = row.state == State::OpenRefused ? 0 : 1;
    EXPECT_EQ(sim::Calls("CloseHandle") - close_calls, 2 + middle_close_calls);
    EXPECT_EQ(sim::DeviceCalls(device, "HidD_FreePreparsedData"), row.preparsed_frees_in_life);
    EXPECT_EQ(sim::OpenHandles(device), 0);
    ExpectNothingHeld();
  }
}

TEST_F(DeviceListTest, PreparsedRefusedKeepsTheHandleOpenUntilTheListIsReleased) {
  const sim::DeviceId device = sim::AddDevice(BareCollection("buttons"), sim::OpenFault::Preparsed);

  const Listed list = Enumerate();

  ASSERT_EQ(list.count, 1u);
  EXPECT_EQ(sim::OpenHandles(device), 1);
  EXPECT_EQ(sim::DeviceCalls(device, "CloseHandle"), 0);
  ReleaseDeviceList(list.records, list.count);
  EXPECT_EQ(sim::DeviceCalls(device, "CloseHandle"), 1);
  EXPECT_EQ(sim::OpenHandles(device), 0);
  ExpectNothingHeld();
}

TEST_F(DeviceListTest, ClosingABlankRecordPassesItsZeroHandleAndFreesNothing) {
  HidDeviceRecord record{};

  CloseHidCollection(&record);

  EXPECT_EQ(sim::Calls("CloseHandle"), 1);
  EXPECT_EQ(sim::Calls("HidD_FreePreparsedData"), 0);
  EXPECT_EQ(sim::Calls("LocalFree"), 0);
  ExpectNothingHeld();
}

TEST_F(DeviceListTest, ReleasingANullListDoesNothing) {
  ReleaseDeviceList(nullptr, 0);

  EXPECT_EQ(sim::Calls("CloseHandle"), 0);
  EXPECT_EQ(sim::Calls("LocalFree"), 0);
  ExpectNothingHeld();
}

TEST_F(DeviceListTest, AFreshEnumerationReplacesTheHoldersVariables) {
  sim::AddDevice(BareCollection("buttons"));
  const Listed first = Enumerate();
  ASSERT_EQ(first.count, 1u);

  HidDeviceRecord* records = first.records;
  ULONG count = first.count;
  ReleaseDeviceList(records, count);
  EXPECT_TRUE(EnumerateHidDevices(records, count));

  ASSERT_EQ(count, 1u);
  ExpectOpened(records[0], BareCollection("buttons"));
  ReleaseDeviceList(records, count);
  ExpectNothingHeld();
}

}  // namespace
