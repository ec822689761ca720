// The test side of the simulated Windows: what tests, the scenario simulator
// and benchmarks use to set up the machine (devices, windows of other
// processes), to inject faults, to read the accounting, and to wait until the
// simulated machine is quiet. The agent itself never includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "win_api.h"

namespace sim {

// ---- Whole machine -------------------------------------------------------

// Forgets every device, window, class, registration, fault, counter and
// accounting figure. Call only while no simulated thread runs (after the
// agent's threads have ended); it joins the threads that have ended.
void Reset();

// Blocks until every simulated thread other than the caller is blocked with
// nothing to do or has ended: a thread in GetMessageA with an empty queue and
// nothing sent to it, in an alertable SleepEx with no completion or APC
// queued, or in WaitForSingleObject/WaitForMultipleObjects on objects that are
// not signalled. Deterministic tests call it after every step instead of
// sleeping.
void WaitQuiet();

// ---- Devices (HID interfaces) --------------------------------------------

using DeviceId = int;

// One HID top-level collection, exposed as one HID device interface.
struct DeviceSpec {
  std::string name;  // the sim's name for it; the device path is derived from it
  USAGE usage_page = 0;
  USAGE usage = 0;
  USHORT vendor_id = 0;
  USHORT product_id = 0;
  USHORT version = 0;
  USHORT input_report_length = 4;
  USHORT output_report_length = 0;
  USHORT feature_report_length = 0;
  // Capability lists per report kind, indexed by HIDP_REPORT_TYPE.
  std::vector<HIDP_BUTTON_CAPS> button_caps[3];
  std::vector<HIDP_VALUE_CAPS> value_caps[3];
  // Announced capability counts in HIDP_CAPS; by default the list sizes. Set
  // to announce a count the capability queries do not deliver.
  int announced_button_caps[3] = {-1, -1, -1};
  int announced_value_caps[3] = {-1, -1, -1};
  // HidP_MaxUsageListLength per report kind; -1 computes it from the button
  // capabilities (the number of button usages of the page asked for).
  long max_usage_list_length[3] = {-1, -1, -1};
};

// A consumer-page button collection as the agent's device presents it.
DeviceSpec ButtonCollection(const std::string& name);

// Capability entries of a described collection: a button usage range, one
// value and a range of values, with data indices from the first given on.
HIDP_BUTTON_CAPS ButtonRangeCaps(USAGE page, USAGE first, USAGE last, USHORT first_index,
                                 UCHAR report_id = 0);
HIDP_VALUE_CAPS ValueCaps(USAGE page, USAGE usage, USHORT bits, USHORT index, UCHAR report_id = 0);
HIDP_VALUE_CAPS ValueRangeCaps(USAGE page, USAGE first, USAGE last, USHORT bits, USHORT first_index,
                               UCHAR report_id = 0);

// One step of opening an interface that the platform refuses.
enum class OpenFault {
  None,
  Enum,        // SetupDiEnumDeviceInterfaces fails at its member index (ERROR_GEN_FAILURE)
  Detail,      // SetupDiGetDeviceInterfaceDetailA's read fails (ERROR_INVALID_PARAMETER)
  DetailSize,  // the size query answers 2, too small to hold cbSize
  Open,        // CreateFileA fails (ERROR_ACCESS_DENIED)
  Preparsed,   // HidD_GetPreparsedData returns FALSE
  Attributes,  // HidD_GetAttributes returns FALSE
  Caps,        // HidP_GetCaps returns HIDP_STATUS_INVALID_PREPARSED_DATA
};

// The interface becomes present, last in enumeration order. Not announced.
DeviceId AddDevice(const DeviceSpec& device_spec, OpenFault fault = OpenFault::None);
void SetDeviceFault(DeviceId device, OpenFault fault);
// The interface leaves: pending reads on it end with ERROR_DEVICE_NOT_CONNECTED,
// new reads are refused, it is no longer enumerated. Handles stay open until
// closed. Not announced.
void RemoveDevice(DeviceId device);
// The device sends one input report. For every open handle on it, the oldest
// pending read completes with the report (at most its buffer length is
// copied) and its completion routine is queued to the thread that started
// it; a handle with no pending read keeps the report in its ring of 32, the
// oldest dropped when full. Returns the number of reads completed.
int SendReport(DeviceId device, const std::vector<std::uint8_t>& report);
std::string DevicePath(DeviceId device);
int PendingReads(DeviceId device);  // over all open handles on it
int OpenHandles(DeviceId device);
int BufferedReports(DeviceId device);  // over all open handles on it

// The device information set cannot be built: SetupDiGetClassDevsA returns
// INVALID_HANDLE_VALUE.
void SetClassDevsFails(bool fails);
// Every member index fails with ERROR_GEN_FAILURE and the end is never reported.
void SetEnumerationNeverEnds(bool never_ends);

// ---- Windows of other processes and system notifications ----------------

// A top-level window owned by another process (the target application, another
// agent). Messages posted to it are recorded in order.
HWND CreateForeignWindow(const std::string& class_name, const std::string& title);
// Destroys it; later posts to its handle fail with ERROR_INVALID_WINDOW_HANDLE.
void DestroyForeignWindow(HWND window);
std::vector<MSG> ReceivedMessages(HWND window);
// Registered callback called (under no lock) for each message posted to any
// foreign window, in posting order; for transcripts. Pass nullptr to clear.
void OnForeignMessage(std::function<void(HWND, const MSG&)> observer);

// The system announces a device interface event: WM_DEVICECHANGE with the event
// as wParam is sent to every window that registered for HID interface
// notifications (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, with a
// DEV_BROADCAST_DEVICEINTERFACE_A), or, for any other event, to every
// top-level window of the process with lParam 0. Sent messages are processed
// by the owning thread inside GetMessageA, as Windows does; this call does not
// wait for them (use WaitQuiet).
void AnnounceDeviceChange(WPARAM event);
// The system destroys a window of the process: WM_DESTROY is sent to it on its
// owning thread, and then the window no longer exists.
void DestroyWindowFromSystem(HWND window);
// Number of windows registered for HID interface notifications.
int DeviceNotificationRegistrations();
// The windows of the process (created with CreateWindowExA and not
// destroyed), in creation order.
std::vector<HWND> ProcessWindows();

// ---- Process ------------------------------------------------------------

// Runs `main` on a new simulated thread, as a process's main thread.
void StartProcess(std::function<int()> main);
// True once `main` has returned; `exit_code` receives its result.
bool ProcessExited(int* exit_code);
// Waits for `main` to return and joins its thread; returns its result.
int JoinProcess();

// ---- Faults -------------------------------------------------------------

enum class Fault {
  Alloc,          // LocalAlloc / LocalReAlloc return NULL (ERROR_NOT_ENOUGH_MEMORY)
  Thread,         // CreateThread returns NULL (ERROR_NOT_ENOUGH_MEMORY)
  Read,           // ReadFileEx returns FALSE (ERROR_NO_SYSTEM_RESOURCES)
  Post,           // PostMessageA returns FALSE (ERROR_NOT_ENOUGH_QUOTA)
  GetMessage,     // GetMessageA returns -1 (ERROR_INVALID_PARAMETER)
  RegisterClass,  // RegisterClassA returns 0
  CreateWindow,   // CreateWindowExA returns NULL (WM_CREATE is not sent)
};
// The nth call of that kind from now on fails (n = 1: the next one). 0 clears.
void FailNth(Fault fault, int n);
// Every call of that kind fails while set.
void FailAlways(Fault fault, bool fails);
// How many calls of that kind have been made since Reset (failed ones too).
int FaultPoints(Fault fault);

// ---- Accounting ---------------------------------------------------------

struct Resources {
  int device_handles = 0;  // open CreateFileA handles
  int thread_handles = 0;  // open CreateThread handles
  int info_sets = 0;       // device information sets not destroyed
  int blocks = 0;          // live LocalAlloc blocks
  std::size_t bytes = 0;   // their total size
  int preparsed = 0;       // preparsed data not freed
  int threads = 0;         // simulated threads that have not ended (the caller's excluded)
  int notifications = 0;   // device notification registrations
  int bad_frees = 0;       // LocalFree / HidD_FreePreparsedData of something not held
  int handles() const { return device_handles + thread_handles + info_sets; }
};
Resources Held();

// Calls made since Reset, by operation name ("CloseHandle", "HidD_FreePreparsedData", ...).
int Calls(const std::string& operation);
// The same, counted per device for the operations that name one.
int DeviceCalls(DeviceId device, const std::string& operation);

// When on, every platform call the agent makes is recorded as one line with
// its arguments, e.g. "CreateFileA path=\\?\hid#sim_buttons#0 access=0xC0000000
// share=0x3 disposition=3 flags=0x40000000". Off by default (cheap runs).
void TraceCalls(bool on);
std::vector<std::string> CallTrace();

}  // namespace sim
