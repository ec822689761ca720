// The platform calls of one enumeration and of one release, line by line:
// their exact arguments, the order of the steps, and the order in which a
// record's blocks are released.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "hid/hid_device.h"
#include "hid_test_support.h"
#include "support/sim_fixture.h"

namespace {

using hid_test::BareCollection;
using hid_test::ButtonRange;
using hid_test::ButtonUsage;
using hid_test::Listed;
using hid_test::ValueRange;
using hid_test::ValueUsage;

class CallSequenceTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::TraceCalls(true);
  }
};

std::string Hex(const void* value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%" PRIXPTR, reinterpret_cast<std::uintptr_t>(value));
  return text;
}

void ReplaceAll(std::string& line, const std::string& from, const std::string& to) {
  for (std::size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size())) {
    line.replace(at, from.size(), to);
  }
}

// The trace with the values a test cannot know in advance named: the device
// information set S, the class identifier G, the record's handle H and
// preparsed data P.
std::vector<std::string> NamedTrace(const HidDeviceRecord* record) {
  static const std::regex set(R"(set=0x[0-9A-F]+)");
  static const std::regex guid(R"(guid=\{[0-9A-F-]+\})");
  std::vector<std::string> lines;
  for (std::string line : sim::CallTrace()) {
    line = std::regex_replace(line, set, "set=S");
    line = std::regex_replace(line, guid, "guid=G");
    if (record != nullptr) {
      ReplaceAll(line, "handle=" + Hex(record->handle), "handle=H");
      ReplaceAll(line, "preparsed=" + Hex(record->preparsed), "preparsed=P");
    }
    lines.push_back(line);
  }
  return lines;
}

void ExpectLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
  const std::size_t rows = std::max(actual.size(), expected.size());
  for (std::size_t i = 0; i < rows; ++i) {
    EXPECT_EQ(i < actual.size() ? actual[i] : "(no call)", i < expected.size() ? expected[i] : "(no call)")
        << "call " << i;
  }
}

std::string Alloc(std::size_t bytes) {
  return "LocalAlloc flags=0x40 bytes=" + std::to_string(bytes);
}

TEST_F(CallSequenceTest, EnumeratingOneCollectionMakesExactlyTheseCalls) {
  sim::DeviceSpec device_spec = BareCollection("buttons");
  device_spec.input_report_length = 4;
  device_spec.button_caps[HidP_Input] = {ButtonUsage(0x0C, 0xE9), ButtonRange(0x09, 1, 8)};
  device_spec.value_caps[HidP_Input] = {ValueRange(0x01, 0x30, 0x31)};
  device_spec.max_usage_list_length[HidP_Input] = 5;
  const sim::DeviceId device = sim::AddDevice(device_spec);
  const std::string path = sim::DevicePath(device);
  const std::size_t detail_size = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1;
  const std::string detail = std::to_string(detail_size);
  const std::string interface_cb = std::to_string(sizeof(SP_DEVICE_INTERFACE_DATA));
  const std::string detail_cb = std::to_string(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));

  const Listed list = hid_test::Enumerate();

  ASSERT_EQ(list.count, 1u);
  ExpectLines(
      NamedTrace(&list.records[0]),
      {
          "HidD_GetHidGuid",
          "SetupDiGetClassDevsA guid=G enumerator=(null) parent=0x0 flags=0x12",
          Alloc(8 * sizeof(HidDeviceRecord)),
          "SetupDiEnumDeviceInterfaces set=S guid=G member=0 cbSize=" + interface_cb,
          "SetupDiGetDeviceInterfaceDetailA set=S member=0 buffer=none size=0",
          Alloc(detail_size),
          "SetupDiGetDeviceInterfaceDetailA set=S member=0 buffer=cbSize:" + detail_cb + " size=" + detail,
          "CreateFileA path=" + path + " access=0xC0000000 share=0x3 disposition=3 flags=0x40000000",
          "LocalFree block=#2",
          "HidD_GetPreparsedData handle=H",
          "HidD_GetAttributes handle=H",
          "HidP_GetCaps preparsed=P",
          // input
          Alloc(4),
          Alloc(2 * sizeof(HIDP_BUTTON_CAPS)),
          Alloc(1 * sizeof(HIDP_VALUE_CAPS)),
          "HidP_GetSpecificButtonCaps type=0 page=0x0 link=0 usage=0x0 length=2 preparsed=P",
          "HidP_GetSpecificValueCaps type=0 page=0x0 link=0 usage=0x0 length=1 preparsed=P",
          Alloc(4 * sizeof(ReportItem)),
          "HidP_MaxUsageListLength type=0 page=0xC preparsed=P",
          Alloc(5 * sizeof(USHORT)),
          "HidP_MaxUsageListLength type=0 page=0x9 preparsed=P",
          Alloc(5 * sizeof(USHORT)),
          // output and feature: nothing to hold
          "HidP_GetSpecificButtonCaps type=1 page=0x0 link=0 usage=0x0 length=0 preparsed=P",
          "HidP_GetSpecificValueCaps type=1 page=0x0 link=0 usage=0x0 length=0 preparsed=P",
          "HidP_GetSpecificButtonCaps type=2 page=0x0 link=0 usage=0x0 length=0 preparsed=P",
          "HidP_GetSpecificValueCaps type=2 page=0x0 link=0 usage=0x0 length=0 preparsed=P",
          "SetupDiEnumDeviceInterfaces set=S guid=G member=1 cbSize=" + interface_cb,
          "GetLastError",
          "SetupDiDestroyDeviceInfoList set=S",
      });
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

TEST_F(CallSequenceTest, GrowingTheArrayAsksForAMovableZeroFilledBlockOfTwiceTheRecords) {
  for (int i = 0; i < 8; ++i) sim::AddDevice(BareCollection("dev" + std::to_string(i)), sim::OpenFault::Enum);

  const Listed list = hid_test::Enumerate();

  ASSERT_EQ(list.count, 8u);
  std::vector<std::string> growth;
  for (const std::string& line : NamedTrace(nullptr)) {
    if (line.rfind("LocalAlloc", 0) == 0 || line.rfind("LocalReAlloc", 0) == 0) growth.push_back(line);
  }
  ExpectLines(growth, {
                          Alloc(8 * sizeof(HidDeviceRecord)),
                          "LocalReAlloc block=#1 bytes=" + std::to_string(16 * sizeof(HidDeviceRecord)) +
                              " flags=0x42",
                      });
  ReleaseDeviceList(list.records, list.count);
  ExpectNothingHeld();
}

// Blocks are named by the order they were allocated in, which the trace of
// the LocalFree calls shows as #1, #2 and so on.
TEST_F(CallSequenceTest, CloseReleasesHandlePreparsedThenEachKindsBlocksInOrder) {
  sim::DeviceSpec device_spec = BareCollection("buttons");
  device_spec.input_report_length = 4;
  device_spec.output_report_length = 1;
  device_spec.feature_report_length = 3;
  device_spec.button_caps[HidP_Input] = {ButtonUsage(0x0C, 0xE9), ButtonRange(0x09, 1, 8)};
  device_spec.value_caps[HidP_Input] = {ValueUsage(0x01, 0x30)};
  device_spec.button_caps[HidP_Output] = {ButtonUsage(0x08, 0x01)};
  device_spec.value_caps[HidP_Feature] = {ValueRange(0xFF00, 1, 2)};
  device_spec.max_usage_list_length[HidP_Input] = 4;
  device_spec.max_usage_list_length[HidP_Output] = 1;
  sim::AddDevice(device_spec);
  const Listed list = hid_test::Enumerate();
  ASSERT_EQ(list.count, 1u);

  // Allocation order: array #1, detail buffer #2, then per kind its report
  // buffer, button caps, value caps, items and each button item's usage list.
  std::map<std::string, int> block;
  int serial = 0;
  for (const char* name :
       {"array", "detail", "input buffer", "input button caps", "input value caps", "input items",
        "input usage list 0", "input usage list 1", "output buffer", "output button caps", "output items",
        "output usage list 0", "feature buffer", "feature value caps", "feature items"}) {
    block[name] = ++serial;
  }
  auto freed = [&](const char* name) { return "LocalFree block=#" + std::to_string(block.at(name)); };
  const HidDeviceRecord record = list.records[0];
  const std::size_t enumeration_calls = sim::CallTrace().size();

  ReleaseDeviceList(list.records, list.count);

  std::vector<std::string> release = NamedTrace(&record);
  release.erase(release.begin(), release.begin() + static_cast<std::ptrdiff_t>(enumeration_calls));
  ExpectLines(release, {
                           "CloseHandle handle=H",
                           "HidD_FreePreparsedData preparsed=P",
                           freed("input buffer"),
                           freed("input usage list 0"),
                           freed("input usage list 1"),
                           freed("input items"),
                           freed("input button caps"),
                           freed("input value caps"),
                           freed("output buffer"),
                           freed("output usage list 0"),
                           freed("output items"),
                           freed("output button caps"),
                           freed("feature buffer"),
                           freed("feature items"),
                           freed("feature value caps"),
                           freed("array"),
                       });
  ExpectNothingHeld();
}

TEST_F(CallSequenceTest, ClosingRecordsThatNeverOpenedTouchesOnlyTheirHandles) {
  sim::AddDevice(BareCollection("unlisted"), sim::OpenFault::Enum);
  sim::AddDevice(BareCollection("refused"), sim::OpenFault::Open);
  const Listed list = hid_test::Enumerate();
  ASSERT_EQ(list.count, 2u);
  const std::size_t enumeration_calls = sim::CallTrace().size();

  ReleaseDeviceList(list.records, list.count);

  std::vector<std::string> release = NamedTrace(nullptr);
  release.erase(release.begin(), release.begin() + static_cast<std::ptrdiff_t>(enumeration_calls));
  // The blank record's zero handle is passed on; the refused one's
  // INVALID_HANDLE_VALUE is not.
  ExpectLines(release, {"CloseHandle handle=0x0", "LocalFree block=#1"});
  ExpectNothingHeld();
}

}  // namespace
