// The local heap, fault injection, call counting, tracing and accounting.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

class HeapTest : public SimTest {};

TEST_F(HeapTest, BlocksAreZeroFilledAndCounted) {
  auto* first = static_cast<BYTE*>(LocalAlloc(LPTR, 64));
  auto* empty = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, 0));
  auto* other_empty = static_cast<BYTE*>(LocalAlloc(LPTR, 0));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(empty, other_empty) << "empty blocks are distinct";
  for (int i = 0; i < 64; ++i) EXPECT_EQ(first[i], 0) << i;
  EXPECT_EQ(sim::Held().blocks, 3);
  EXPECT_EQ(sim::Held().bytes, 64u);
  EXPECT_EQ(LocalFree(first), nullptr);
  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalFree(other_empty), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
  ExpectNothingHeld();
}

TEST_F(HeapTest, BlockWithoutZeroInitIsNotCleared) {
  auto* block = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, 8));
  ASSERT_NE(block, nullptr);
  bool all_zero = true;
  for (int i = 0; i < 8; ++i) all_zero = all_zero && block[i] == 0;
  EXPECT_FALSE(all_zero);
  LocalFree(block);
  ExpectNothingHeld();
}

TEST_F(HeapTest, ReAllocMovesKeepsContentsAndZeroFillsTheGrowth) {
  auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, 4));
  std::memcpy(block, "\x01\x02\x03\x04", 4);
  auto* grown = static_cast<BYTE*>(LocalReAlloc(block, 12, LMEM_MOVEABLE | LMEM_ZEROINIT));
  ASSERT_NE(grown, nullptr);
  EXPECT_NE(grown, block) << "always moved, so stale pointers are caught";
  const BYTE expected[12] = {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(grown, expected, 12), 0);
  EXPECT_EQ(sim::Held().blocks, 1);
  EXPECT_EQ(sim::Held().bytes, 12u);
  auto* shrunk = static_cast<BYTE*>(LocalReAlloc(grown, 2, LMEM_MOVEABLE | LMEM_ZEROINIT));
  ASSERT_NE(shrunk, nullptr);
  EXPECT_EQ(shrunk[0], 1);
  EXPECT_EQ(shrunk[1], 2);
  EXPECT_EQ(sim::Held().bytes, 2u);
  LocalFree(shrunk);
  ExpectNothingHeld();
}

TEST_F(HeapTest, FailedReAllocLeavesTheOldBlock) {
  auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, 4));
  block[0] = 7;
  sim::FailNth(sim::Fault::Alloc, 1);
  SetLastError(kSentinel);
  EXPECT_EQ(LocalReAlloc(block, 8, LMEM_MOVEABLE | LMEM_ZEROINIT), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(block[0], 7);
  EXPECT_EQ(sim::Held().blocks, 1);
  EXPECT_EQ(sim::Held().bytes, 4u);
  // A fixed block cannot grow where it is.
  EXPECT_EQ(LocalReAlloc(block, 8, LMEM_ZEROINIT), nullptr);
  EXPECT_EQ(LocalFree(block), nullptr);
  ExpectNothingHeld();
}

TEST_F(HeapTest, FreeingWhatIsNotHeldIsCounted) {
  int local = 0;
  auto* block = LocalAlloc(LPTR, 4);
  EXPECT_EQ(LocalFree(block), nullptr);
  const HLOCAL rows[] = {block, &local};
  for (HLOCAL bad : rows) {
    SetLastError(kSentinel);
    EXPECT_EQ(LocalFree(bad), bad);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(sim::Held().bad_frees, 2);
  EXPECT_EQ(sim::Held().blocks, 0);
}

// One call of each fault kind; true when it succeeded. Whatever it took is
// released before it returns.
struct FaultRow {
  sim::Fault fault;
  DWORD error;
  std::function<bool()> call;
};

LRESULT CALLBACK QuietProc(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}
DWORD WINAPI Nothing(LPVOID) {
  return 0;
}

std::vector<FaultRow> FaultRows(HANDLE device, HWND target) {
  static int class_number = 0;
  return {
      {sim::Fault::Alloc, ERROR_NOT_ENOUGH_MEMORY,
       [] {
         HLOCAL block = LocalAlloc(LPTR, 8);
         LocalFree(block);
         return block != nullptr;
       }},
      {sim::Fault::Thread, ERROR_NOT_ENOUGH_MEMORY,
       [] {
         HANDLE thread = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
         if (thread == nullptr) return false;
         WaitForSingleObject(thread, INFINITE);
         CloseHandle(thread);
         return true;
       }},
      {sim::Fault::Read, ERROR_NO_SYSTEM_RESOURCES,
       [device] {
         static BYTE buffer[4];
         static OVERLAPPED overlapped;
         if (!ReadFileEx(device, buffer, 4, &overlapped, [](DWORD, DWORD, LPOVERLAPPED) {})) return false;
         CancelIo(device);
         SleepEx(0, TRUE);
         return true;
       }},
      {sim::Fault::Post, ERROR_NOT_ENOUGH_QUOTA,
       [target] { return PostMessageA(target, WM_USER, 0, 0) != FALSE; }},
      {sim::Fault::GetMessage, ERROR_INVALID_PARAMETER,
       [] {
         // A refused call leaves the quit request for the next one.
         PostQuitMessage(0);
         MSG message;
         return GetMessageA(&message, nullptr, 0, 0) == 0;
       }},
      {sim::Fault::RegisterClass, ERROR_NOT_ENOUGH_MEMORY,
       [] {
         const std::string name = "Class" + std::to_string(++class_number);
         WNDCLASSA window_class = {};
         window_class.lpfnWndProc = QuietProc;
         window_class.lpszClassName = name.c_str();
         return RegisterClassA(&window_class) != 0;
       }},
      {sim::Fault::CreateWindow, ERROR_NOT_ENOUGH_MEMORY,
       [] {
         return CreateWindowExA(0, "Faults", "Window", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                                nullptr) != nullptr;
       }},
  };
}

class FaultsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    pad_ = sim::AddDevice(sim::ButtonCollection("pad"));
    device_ = CreateFileA(sim::DevicePath(pad_).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    target_ = sim::CreateForeignWindow("Target", "Title");
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = QuietProc;
    window_class.lpszClassName = "Faults";
    ASSERT_NE(RegisterClassA(&window_class), 0);
  }

  void TearDown() override {
    EXPECT_TRUE(CloseHandle(device_));
    ExpectNothingHeld();
  }

  sim::DeviceId pad_ = 0;
  HANDLE device_ = nullptr;
  HWND target_ = nullptr;
};

TEST_F(FaultsTest, FailNthFailsExactlyTheNthCallFromNow) {
  for (const FaultRow& row : FaultRows(device_, target_)) {
    const int kind = static_cast<int>(row.fault);
    EXPECT_TRUE(row.call()) << "fault " << kind;
    const int before = sim::FaultPoints(row.fault);
    sim::FailNth(row.fault, 3);
    EXPECT_TRUE(row.call()) << "fault " << kind;
    EXPECT_TRUE(row.call()) << "fault " << kind;
    SetLastError(kSentinel);
    EXPECT_FALSE(row.call()) << "fault " << kind;
    EXPECT_EQ(GetLastError(), row.error) << "fault " << kind;
    EXPECT_TRUE(row.call()) << "fault " << kind << ": only once";
    EXPECT_EQ(sim::FaultPoints(row.fault), before + 4) << "fault " << kind;
  }
}

TEST_F(FaultsTest, FailAlwaysFailsUntilCleared) {
  for (const FaultRow& row : FaultRows(device_, target_)) {
    const int kind = static_cast<int>(row.fault);
    sim::FailAlways(row.fault, true);
    EXPECT_FALSE(row.call()) << "fault " << kind;
    EXPECT_FALSE(row.call()) << "fault " << kind;
    sim::FailAlways(row.fault, false);
    EXPECT_TRUE(row.call()) << "fault " << kind;
  }
}

TEST_F(FaultsTest, FailNthZeroClears) {
  sim::FailNth(sim::Fault::Alloc, 1);
  sim::FailNth(sim::Fault::Alloc, 0);
  HLOCAL block = LocalAlloc(LPTR, 1);
  EXPECT_NE(block, nullptr);
  LocalFree(block);
}

TEST_F(FaultsTest, RefusedWindowCreationSendsNothing) {
  int creates = 0;
  static int* counter = nullptr;
  counter = &creates;
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_CREATE) ++*counter;
    return 0;
  };
  window_class.lpszClassName = "Counted";
  ASSERT_NE(RegisterClassA(&window_class), 0);
  sim::FailNth(sim::Fault::CreateWindow, 1);
  EXPECT_EQ(CreateWindowExA(0, "Counted", "W", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(creates, 0);
  EXPECT_TRUE(sim::ProcessWindows().empty());
}

class AccountingTest : public SimTest {};

TEST_F(AccountingTest, EverythingTakenAndReleasedComesBackToZero) {
  const sim::DeviceId pad = sim::AddDevice(sim::ButtonCollection("pad"));
  GUID hid;
  HidD_GetHidGuid(&hid);
  HDEVINFO set = SetupDiGetClassDevsA(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  HANDLE device = CreateFileA(sim::DevicePath(pad).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(HidD_GetPreparsedData(device, &preparsed));
  HLOCAL block = LocalAlloc(LPTR, 10);
  HANDLE thread = CreateThread(nullptr, 0, Nothing, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);

  const sim::Resources held = sim::Held();
  EXPECT_EQ(held.device_handles, 1);
  EXPECT_EQ(held.thread_handles, 1);
  EXPECT_EQ(held.info_sets, 1);
  EXPECT_EQ(held.handles(), 3);
  EXPECT_EQ(held.blocks, 1);
  EXPECT_EQ(held.bytes, 10u);
  EXPECT_EQ(held.preparsed, 1);
  EXPECT_EQ(held.threads, 0);

  SetupDiDestroyDeviceInfoList(set);
  HidD_FreePreparsedData(preparsed);
  CloseHandle(device);
  CloseHandle(thread);
  LocalFree(block);
  ExpectNothingHeld();
}

TEST_F(AccountingTest, CallsAreCountedPerOperationAndPerDevice) {
  const sim::DeviceId a = sim::AddDevice(sim::ButtonCollection("a"));
  const sim::DeviceId b = sim::AddDevice(sim::ButtonCollection("b"));
  auto open = [](sim::DeviceId device) {
    return CreateFileA(sim::DevicePath(device).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  };
  HANDLE handles[3] = {open(a), open(a), open(b)};
  for (HANDLE handle : handles) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(handle, &preparsed));
    HidD_FreePreparsedData(preparsed);
    CloseHandle(handle);
  }
  EXPECT_EQ(sim::Calls("CreateFileA"), 3);
  EXPECT_EQ(sim::Calls("HidD_FreePreparsedData"), 3);
  EXPECT_EQ(sim::DeviceCalls(a, "HidD_FreePreparsedData"), 2);
  EXPECT_EQ(sim::DeviceCalls(b, "HidD_FreePreparsedData"), 1);
  EXPECT_EQ(sim::DeviceCalls(a, "CloseHandle"), 2);
  EXPECT_EQ(sim::Calls("CloseHandle"), 3);
  EXPECT_EQ(sim::Calls("NeverCalled"), 0);
  EXPECT_EQ(sim::DeviceCalls(99, "CreateFileA"), 0);
  sim::Reset();
  EXPECT_EQ(sim::Calls("CreateFileA"), 0);
  ExpectNothingHeld();
}

TEST_F(AccountingTest, TraceRecordsEachCallWithItsArguments) {
  const sim::DeviceId pad = sim::AddDevice(sim::ButtonCollection("pad"));
  const std::string path = sim::DevicePath(pad);
  HANDLE untraced =
      CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_TRUE(sim::CallTrace().empty()) << "off by default";
  sim::TraceCalls(true);
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  HLOCAL block = LocalAlloc(LPTR, 24);
  LocalFree(block);
  CloseHandle(handle);
  CloseHandle(nullptr);
  sim::TraceCalls(false);
  CloseHandle(untraced);
  const std::vector<std::string> expected = {
      "CreateFileA path=" + path + " access=0xC0000000 share=0x3 disposition=3 flags=0x40000000",
      "LocalAlloc flags=0x40 bytes=24",
      "LocalFree block=#1",
      "CloseHandle handle=0x104",
      "CloseHandle handle=0x0",
  };
  EXPECT_EQ(sim::CallTrace(), expected);
  ExpectNothingHeld();
}

}  // namespace
