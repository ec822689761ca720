// The host side: the simulated Windows, reads on a simulated HID device.
#include <string>

#include "platform/sim/sim_control.h"
#include "side.h"

const char* SideName() {
  return "the simulated Windows";
}

void PrepareSide() {
  sim::Reset();
}

std::string LeftHeld() {
  sim::WaitQuiet();
  const sim::Resources held = sim::Held();
  std::string text;
  const auto add = [&text](long count, const char* what) {
    if (count != 0) text += std::to_string(count) + " " + what + "; ";
  };
  add(held.device_handles, "device handle(s)");
  add(held.thread_handles, "thread handle(s)");
  add(held.threads, "thread(s) still running");
  add(held.info_sets, "device information set(s)");
  add(held.blocks, "heap block(s)");
  add(held.preparsed, "preparsed data");
  add(held.bad_frees, "release(s) of something not held");
  add(static_cast<long>(sim::ProcessWindows().size()), "window(s)");
  return text;
}

const char* ReportSourceKind() {
  return "a simulated HID device";
}

bool ReportSourceIsHid() {
  return true;
}

bool OpenReportSource(ReportSource* source) {
  source->device = sim::AddDevice(sim::ButtonCollection("conformance"));
  // Opened as the agent opens a HID collection.
  source->reader =
      CreateFileA(sim::DevicePath(source->device).c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (source->reader != INVALID_HANDLE_VALUE) return true;
  source->reader = nullptr;
  sim::RemoveDevice(source->device);
  return false;
}

bool ArriveReport(ReportSource* source, const BYTE (&report)[4]) {
  sim::SendReport(source->device, {report[0], report[1], report[2], report[3]});
  return true;
}

void EndFarSide(ReportSource* source) {
  sim::RemoveDevice(source->device);
}

void CloseReportSource(ReportSource* source) {
  if (source->reader != nullptr) CloseHandle(source->reader);
  source->reader = nullptr;
  sim::RemoveDevice(source->device);
}

DWORD FarSideGoneError() {
  return ERROR_DEVICE_NOT_CONNECTED;
}

const char* FarSideGoneWhy() {
  return "the simulated device was unplugged; the HID class driver ends the reads pending on a device that "
         "leaves with ERROR_DEVICE_NOT_CONNECTED";
}

DWORD ReaderClosedError() {
  return ERROR_OPERATION_ABORTED;
}

const char* ReaderClosedWhy() {
  return "the HID class driver cancels the reads pending on a handle when the handle is closed";
}
