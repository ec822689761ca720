// SetupAPI enumeration, opening HID interfaces, and the refusals that each
// OpenFault injects.
#include <cstddef>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr DWORD kDetailHeader = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

class SetupApiTest : public SimTest {
 protected:
  static HDEVINFO OpenSet() {
    GUID hid;
    HidD_GetHidGuid(&hid);
    return SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  }

  static BOOL Enum(HDEVINFO set, DWORD index, SP_DEVICE_INTERFACE_DATA& data) {
    GUID hid;
    HidD_GetHidGuid(&hid);
    data.cbSize = sizeof data;
    return SetupDiEnumDeviceInterfaces(set, nullptr, &hid, index, &data);
  }

  // The paths of every member the enumeration yields, until its end.
  static std::vector<std::string> EnumeratedPaths() {
    std::vector<std::string> paths;
    HDEVINFO set = OpenSet();
    SP_DEVICE_INTERFACE_DATA data;
    for (DWORD index = 0; Enum(set, index, data); ++index) paths.push_back(DetailPath(set, data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    SetupDiDestroyDeviceInfoList(set);
    return paths;
  }

  static std::string DetailPath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, &required, nullptr)) return "";
    return detail->DevicePath;
  }
};

TEST_F(SetupApiTest, DevicePathNamesTheHidInterface) {
  const sim::DeviceId pad = sim::AddDevice(sim::ButtonCollection("pad"));
  EXPECT_EQ(sim::DevicePath(pad), R"(\\?\hid#sim_pad#1&0000&0#{4d1e55b2-f16f-11cf-88cb-001111000030})");
  const sim::DeviceId second = sim::AddDevice(sim::ButtonCollection("pad"));
  EXPECT_NE(sim::DevicePath(second), sim::DevicePath(pad));
  ExpectNothingHeld();
}

TEST_F(SetupApiTest, EnumerationListsPresentInterfacesInOrderThenEnds) {
  const sim::DeviceId a = sim::AddDevice(sim::ButtonCollection("a"));
  const sim::DeviceId b = sim::AddDevice(sim::ButtonCollection("b"));
  const sim::DeviceId c = sim::AddDevice(sim::ButtonCollection("c"));
  EXPECT_EQ(EnumeratedPaths(),
            (std::vector<std::string>{sim::DevicePath(a), sim::DevicePath(b), sim::DevicePath(c)}));
  sim::RemoveDevice(b);
  EXPECT_EQ(EnumeratedPaths(), (std::vector<std::string>{sim::DevicePath(a), sim::DevicePath(c)}));
  EXPECT_EQ(sim::Held().info_sets, 0);
  ExpectNothingHeld();
}

TEST_F(SetupApiTest, SetIsASnapshotTakenAtTheCall) {
  const sim::DeviceId a = sim::AddDevice(sim::ButtonCollection("a"));
  HDEVINFO set = OpenSet();
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim::Held().info_sets, 1);
  sim::AddDevice(sim::ButtonCollection("late"));
  sim::RemoveDevice(a);
  SP_DEVICE_INTERFACE_DATA data;
  ASSERT_TRUE(Enum(set, 0, data));
  EXPECT_EQ(DetailPath(set, data), sim::DevicePath(a));
  SetLastError(kSentinel);
  EXPECT_FALSE(Enum(set, 1, data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
  SetLastError(kSentinel);
  EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  ExpectNothingHeld();
}

TEST_F(SetupApiTest, ClassDevsNeedsTheHidClassAndPresentInterfaces) {
  GUID hid;
  HidD_GetHidGuid(&hid);
  EXPECT_EQ(hid.Data1, 0x4D1E55B2u);
  EXPECT_EQ(hid.Data2, 0xF16Fu);
  EXPECT_EQ(hid.Data3, 0x11CFu);
  const BYTE tail[8] = {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(hid.Data4[i], tail[i]);
  GUID other = hid;
  other.Data1 ^= 1;
  EXPECT_EQ(SetupDiGetClassDevsA(&other, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_DEVICEINTERFACE), INVALID_HANDLE_VALUE);
  sim::SetClassDevsFails(true);
  EXPECT_EQ(OpenSet(), INVALID_HANDLE_VALUE);
  sim::SetClassDevsFails(false);
  HDEVINFO set = OpenSet();
  EXPECT_NE(set, INVALID_HANDLE_VALUE);
  SetupDiDestroyDeviceInfoList(set);
  ExpectNothingHeld();
}

TEST_F(SetupApiTest, EnumerationChecksTheInterfaceDataSize) {
  sim::AddDevice(sim::ButtonCollection("a"));
  HDEVINFO set = OpenSet();
  GUID hid;
  HidD_GetHidGuid(&hid);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data + 4;
  SetLastError(kSentinel);
  EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
  data.cbSize = sizeof data;
  EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data));
  EXPECT_EQ(data.Flags, SPINT_ACTIVE);
  SetupDiDestroyDeviceInfoList(set);
  ExpectNothingHeld();
}

TEST_F(SetupApiTest, DetailSizeQueryAndRead) {
  const sim::DeviceId pad = sim::AddDevice(sim::ButtonCollection("pad"));
  const std::string path = sim::DevicePath(pad);
  HDEVINFO set = OpenSet();
  SP_DEVICE_INTERFACE_DATA data;
  ASSERT_TRUE(Enum(set, 0, data));

  DWORD required = 0;
  SetLastError(kSentinel);
  EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, kDetailHeader + path.size() + 1);
  EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), kDetailHeader + 1) << "the packed 32-bit layout";

  struct Row {
    DWORD cb_size;
    DWORD buffer_size;
    BOOL result;
    DWORD error;
  };
  const Row rows[] = {
      {sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), required, TRUE, kSentinel},
      {sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), required + 10, TRUE, kSentinel},
      {sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), required - 1, FALSE, ERROR_INSUFFICIENT_BUFFER},
      {8, required, FALSE, ERROR_INVALID_USER_BUFFER},
      {required, required, FALSE, ERROR_INVALID_USER_BUFFER},
      {sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), kDetailHeader, FALSE, ERROR_INVALID_USER_BUFFER},
  };
  for (const Row& row : rows) {
    std::vector<char> buffer(required + 10, 'x');
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
    detail->cbSize = row.cb_size;
    SetLastError(kSentinel);
    DWORD reported = 0;
    EXPECT_EQ(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, row.buffer_size, &reported, nullptr),
              row.result)
        << "cbSize " << row.cb_size << ", buffer " << row.buffer_size;
    EXPECT_EQ(GetLastError(), row.error) << "cbSize " << row.cb_size << ", buffer " << row.buffer_size;
    if (row.result) {
      EXPECT_EQ(std::string(detail->DevicePath), path);
      EXPECT_EQ(reported, required);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  ExpectNothingHeld();
}

TEST_F(SetupApiTest, EnumerationThatNeverEnds) {
  sim::AddDevice(sim::ButtonCollection("a"));
  sim::SetEnumerationNeverEnds(true);
  HDEVINFO set = OpenSet();
  SP_DEVICE_INTERFACE_DATA data;
  for (DWORD index = 0; index < 200; ++index) {
    SetLastError(kSentinel);
    EXPECT_FALSE(Enum(set, index, data));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);
  }
  SetupDiDestroyDeviceInfoList(set);
  ExpectNothingHeld();
}

// Where an open of one interface stops, step by step as the device list opens it.
enum class Step { Enum, Detail, Open, Preparsed, Attributes, Caps, Done };

struct OpenResult {
  Step failed_at = Step::Done;
  DWORD error = 0;
  HANDLE handle = nullptr;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
};

OpenResult OpenMember(HDEVINFO set, DWORD index) {
  OpenResult result;
  GUID hid;
  HidD_GetHidGuid(&hid);
  SP_DEVICE_INTERFACE_DATA data = {};
  data.cbSize = sizeof data;
  SetLastError(kSentinel);
  if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hid, index, &data)) return {Step::Enum, GetLastError()};
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
  if (required < kDetailHeader + 1) return {Step::Detail, required};
  std::vector<char> buffer(required);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  SetLastError(kSentinel);
  if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, &required, nullptr)) {
    return {Step::Detail, GetLastError()};
  }
  SetLastError(kSentinel);
  result.handle =
      CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (result.handle == INVALID_HANDLE_VALUE) return {Step::Open, GetLastError(), result.handle};
  if (!HidD_GetPreparsedData(result.handle, &result.preparsed)) {
    result.failed_at = Step::Preparsed;
    return result;
  }
  HIDD_ATTRIBUTES attributes = {};
  if (!HidD_GetAttributes(result.handle, &attributes)) {
    result.failed_at = Step::Attributes;
    return result;
  }
  HIDP_CAPS caps = {};
  caps.UsagePage = 0x4242;
  const NTSTATUS status = HidP_GetCaps(result.preparsed, &caps);
  if (status != HIDP_STATUS_SUCCESS) {
    result.failed_at = Step::Caps;
    result.error = static_cast<DWORD>(status);
    EXPECT_EQ(caps.UsagePage, 0x4242) << "a refused query leaves caps untouched";
  }
  return result;
}

void CloseOpened(const OpenResult& result) {
  if (result.preparsed != nullptr) {
    EXPECT_TRUE(HidD_FreePreparsedData(result.preparsed));
  }
  if (result.handle != nullptr && result.handle != INVALID_HANDLE_VALUE) {
    EXPECT_TRUE(CloseHandle(result.handle));
  }
}

TEST_F(SetupApiTest, EachOpenFaultStopsItsStep) {
  struct Row {
    sim::OpenFault fault;
    Step step;
    DWORD error;
  };
  const Row rows[] = {
      {sim::OpenFault::None, Step::Done, 0},
      {sim::OpenFault::Enum, Step::Enum, ERROR_GEN_FAILURE},
      {sim::OpenFault::Detail, Step::Detail, ERROR_INVALID_PARAMETER},
      {sim::OpenFault::DetailSize, Step::Detail, 2},
      {sim::OpenFault::Open, Step::Open, ERROR_ACCESS_DENIED},
      {sim::OpenFault::Preparsed, Step::Preparsed, 0},
      {sim::OpenFault::Attributes, Step::Attributes, 0},
      {sim::OpenFault::Caps, Step::Caps, static_cast<DWORD>(HIDP_STATUS_INVALID_PREPARSED_DATA)},
  };
  // One faulty device between two good ones: the faulty index still counts.
  for (const Row& row : rows) {
    sim::Reset();
    sim::AddDevice(sim::ButtonCollection("before"));
    const sim::DeviceId faulty = sim::AddDevice(sim::ButtonCollection("faulty"), row.fault);
    sim::AddDevice(sim::ButtonCollection("after"));
    HDEVINFO set = OpenSet();
    const OpenResult results[3] = {OpenMember(set, 0), OpenMember(set, 1), OpenMember(set, 2)};
    const int fault_index = static_cast<int>(row.fault);
    EXPECT_EQ(results[0].failed_at, Step::Done) << "fault " << fault_index;
    EXPECT_EQ(results[2].failed_at, Step::Done) << "fault " << fault_index;
    EXPECT_EQ(results[1].failed_at, row.step) << "fault " << fault_index;
    if (row.error != 0) {
      EXPECT_EQ(results[1].error, row.error) << "fault " << fault_index;
    }
    EXPECT_EQ(OpenMember(set, 3).error, ERROR_NO_MORE_ITEMS);
    for (const OpenResult& result : results) CloseOpened(result);
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(sim::DeviceCalls(faulty, "HidD_FreePreparsedData"), results[1].preparsed != nullptr ? 1 : 0);
    ExpectNothingHeld();
  }
}

TEST_F(SetupApiTest, FaultCanBeSetAfterTheDeviceArrives) {
  const sim::DeviceId pad = sim::AddDevice(sim::ButtonCollection("pad"));
  sim::SetDeviceFault(pad, sim::OpenFault::Open);
  HDEVINFO set = OpenSet();
  OpenResult refused = OpenMember(set, 0);
  EXPECT_EQ(refused.failed_at, Step::Open);
  sim::SetDeviceFault(pad, sim::OpenFault::None);
  OpenResult opened = OpenMember(set, 0);
  EXPECT_EQ(opened.failed_at, Step::Done);
  CloseOpened(opened);
  SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(sim::DeviceCalls(pad, "CreateFileA"), 2);
  ExpectNothingHeld();
}

}  // namespace
