// The simulated machine's state, shared by the files of the simulated Windows.
// One mutex guards all of it. No user code (window procedures, completion
// routines, APCs, the foreign-message observer) is ever called with it held.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/sim/sim_control.h"

namespace sim::detail {

// The HID interface class {4D1E55B2-F16F-11CF-88CB-001111000030}.
inline constexpr GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
bool SameGuid(const GUID& a, const GUID& b);

// Where a thread is blocked, as far as quiescence is concerned.
enum class Blocked { No, GetMessage, AlertableSleep, Wait, Forever, TimedSleep };

// One user-mode call queued to a thread: a read completion or an APC.
struct QueuedCall {
  LPOVERLAPPED_COMPLETION_ROUTINE completion = nullptr;
  DWORD error = 0;
  DWORD bytes = 0;
  LPOVERLAPPED overlapped = nullptr;
  PAPCFUNC apc = nullptr;
  ULONG_PTR data = 0;
};

// A message sent to a window by the system, processed inside its owner's GetMessageA.
struct SentMessage {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM w_param = 0;
  LPARAM l_param = 0;
  std::vector<char> payload;  // when not empty, lParam points to it while the message is processed
  bool destroy_after = false;
};

struct ThreadRecord {
  DWORD id = 0;
  bool simulated = false;  // started by CreateThread or StartProcess
  bool ended = false;
  DWORD exit_code = STILL_ACTIVE;
  std::thread thread;
  std::condition_variable wake;
  Blocked blocked = Blocked::No;
  HWND filter_window = nullptr;
  UINT filter_min = 0;
  UINT filter_max = 0;
  std::vector<std::shared_ptr<ThreadRecord>> waiting_on;
  bool wait_all = false;
  std::deque<QueuedCall> queued_calls;
  std::deque<MSG> posted;
  std::deque<SentMessage> sent;
  bool quit_pending = false;
  int quit_code = 0;
};
using ThreadPtr = std::shared_ptr<ThreadRecord>;

// Calls by operation name. The names are the operations' string literals, so
// counting goes by the literal's address; asking goes by the text, adding up
// the counts of equal literals at different addresses.
struct CallCounts {
  std::unordered_map<const char*, std::pair<std::string_view, int>> counts;
  void Add(std::string_view operation);
  int Of(std::string_view operation) const;
};

struct Device {
  DeviceId id = 0;
  DeviceSpec description;
  OpenFault fault = OpenFault::None;
  bool present = true;
  std::string path;
  CallCounts calls;
};
using DevicePtr = std::shared_ptr<Device>;

struct PendingRead {
  ThreadPtr thread;
  BYTE* buffer = nullptr;
  DWORD length = 0;
  LPOVERLAPPED overlapped = nullptr;
  LPOVERLAPPED_COMPLETION_ROUTINE completion = nullptr;
};

struct OpenFile {
  DevicePtr device;
  DWORD flags = 0;
  std::deque<PendingRead> pending;
  std::deque<std::vector<std::uint8_t>> ring;
};
using FilePtr = std::shared_ptr<OpenFile>;

// What a kernel handle refers to: exactly one of the two.
struct KernelObject {
  ThreadPtr thread;
  FilePtr file;
};

// The device's description is set when the device is added and never changes,
// so preparsed data refers to it rather than copying it.
struct Preparsed {
  DevicePtr device;
};

struct InfoSet {
  std::vector<DevicePtr> members;
};

struct Window {
  HWND handle = nullptr;
  std::string class_name;
  std::string title;
  WNDPROC procedure = nullptr;
  ThreadPtr owner;  // null for a window of another process
  bool visible = false;
  bool destroyed = false;
  std::vector<MSG> received;  // what was posted to a window of another process
};
using WindowPtr = std::shared_ptr<Window>;

// Class names, like window titles, are compared without regard to letter case.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

struct WindowClass {
  ATOM atom = 0;
  WNDPROC procedure = nullptr;
  UINT style = 0;
};

struct Registration {
  HWND window = nullptr;
  GUID class_guid = {};
};

struct FaultState {
  int countdown = 0;
  bool always = false;
  int points = 0;
};

struct HeapBlock {
  std::size_t size = 0;
  std::uint64_t serial = 0;
};

inline constexpr int kFaultKinds = 7;
inline constexpr std::size_t kRingReports = 32;

struct State {
  std::uint64_t generation = 0;
  std::vector<ThreadPtr> threads;
  DWORD next_thread_id = 0x1004;
  ThreadPtr process;
  bool process_exited = false;
  int process_exit_code = 0;

  std::map<std::uintptr_t, KernelObject> handles;
  std::set<std::uintptr_t> closed_handles;  // values free again, below next_handle
  std::uintptr_t next_handle = 0x100;
  std::unordered_map<std::string, DevicePtr> devices_by_path;  // lower-case path
  std::map<std::uintptr_t, InfoSet> info_sets;
  std::uintptr_t next_info_set = 0x00D50008;
  std::map<std::uintptr_t, Preparsed> preparsed;
  std::uintptr_t next_preparsed = 0x00FA0100;
  std::unordered_map<void*, HeapBlock> blocks;
  std::size_t bytes = 0;
  std::uint64_t block_serial = 0;
  int bad_frees = 0;

  std::vector<DevicePtr> devices;  // DeviceId - 1
  bool class_devs_fail = false;
  bool enumeration_never_ends = false;
  std::string last_arrived_path;
  std::string last_removed_path;

  std::map<std::string, WindowClass, NoCaseLess> classes;
  ATOM next_atom = 0xC000;
  std::map<std::uintptr_t, WindowPtr> windows;  // handle values rise, so this is creation order
  std::uintptr_t next_window = 0x000A0010;
  std::map<std::uintptr_t, Registration> notifications;
  std::uintptr_t next_notification = 0x00DE0008;
  std::function<void(HWND, const MSG&)> observer;
  std::deque<std::pair<HWND, MSG>> unobserved;
  bool observing = false;

  FaultState faults[kFaultKinds];
  CallCounts calls;
  bool tracing = false;
  std::vector<std::string> trace;
};

struct Machine {
  std::mutex mutex;
  std::condition_variable changed;  // a thread blocked or ended, the process exited
  State state;
};

Machine& TheMachine();
std::unique_lock<std::mutex> Lock();
// Locks the machine and counts one call of a Windows operation.
std::unique_lock<std::mutex> Enter(std::string_view operation);
// The state; only with the lock held.
inline State& S() {
  return TheMachine().state;
}

// ---- Lock held for everything below ------------------------------------

// The calling thread's record, made on its first call into the machine.
ThreadPtr CurrentThread();
// Takes the std::thread of every ended thread, to be joined without the lock,
// and forgets the ended threads (their handles keep what waits need).
std::vector<std::thread> TakeEndedThreads();
// Binds a thread that the machine started to its record.
void BindCurrentThread(const ThreadPtr& record, std::uint64_t generation);
void SetError(DWORD error);
bool TakeFault(Fault fault);
void CountDeviceCall(Device& device, std::string_view operation);
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
const char* Text(const char* text);  // "(null)" for null

HANDLE AddHandle(KernelObject object);
KernelObject* FindHandle(HANDLE handle);
ThreadPtr FindThreadHandle(HANDLE handle);
FilePtr FindFileHandle(HANDLE handle);
DevicePtr FindDevice(DeviceId device);

void EndThread(ThreadRecord& thread, DWORD exit_code);
void QueueCall(ThreadRecord& thread, const QueuedCall& call);
bool HasMessage(const ThreadRecord& thread);
bool WaitSatisfied(const ThreadRecord& thread);

// Ends a read: on success copies at most its buffer length of `data`, then
// queues the completion routine to the thread that started it.
void CompleteRead(const PendingRead& read, DWORD error, const std::uint8_t* data, std::size_t size);
void EndReads(std::deque<PendingRead>& reads, DWORD error);

WindowPtr FindLiveWindow(HWND window);
void DestroyWindowRecord(Window& window);

void FreeAllBlocks(State& state);

inline std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower;
}

}  // namespace sim::detail
