// Fault injection, call counting, the call trace and the accounting of what
// is held.
#include <cstdarg>
#include <cstdio>

#include "platform/sim/machine.h"

namespace sim::detail {

bool TakeFault(Fault fault) {
  FaultState& state = S().faults[static_cast<int>(fault)];
  ++state.points;
  if (state.always) return true;
  if (state.countdown > 0 && --state.countdown == 0) return true;
  return false;
}

void CountDeviceCall(Device& device, std::string_view operation) {
  device.calls.Add(operation);
}

void Trace(const char* format, ...) {
  State& state = S();
  if (!state.tracing) return;
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  state.trace.emplace_back(line);
}

const char* Text(const char* text) {
  return text == nullptr ? "(null)" : text;
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

void FailNth(Fault fault, int n) {
  auto lock = Lock();
  S().faults[static_cast<int>(fault)].countdown = n > 0 ? n : 0;
}

void FailAlways(Fault fault, bool fails) {
  auto lock = Lock();
  S().faults[static_cast<int>(fault)].always = fails;
}

int FaultPoints(Fault fault) {
  auto lock = Lock();
  return S().faults[static_cast<int>(fault)].points;
}

Resources Held() {
  auto lock = Lock();
  const State& state = S();
  Resources held;
  for (const auto& [value, object] : state.handles) {
    if (object.file != nullptr) ++held.device_handles;
    if (object.thread != nullptr) ++held.thread_handles;
  }
  held.info_sets = static_cast<int>(state.info_sets.size());
  held.blocks = static_cast<int>(state.blocks.size());
  held.bytes = state.bytes;
  held.preparsed = static_cast<int>(state.preparsed.size());
  const ThreadPtr caller = CurrentThread();
  for (const ThreadPtr& thread : state.threads) {
    if (thread->simulated && !thread->ended && thread != caller) ++held.threads;
  }
  held.notifications = static_cast<int>(state.notifications.size());
  held.bad_frees = state.bad_frees;
  return held;
}

int Calls(const std::string& operation) {
  auto lock = Lock();
  return S().calls.Of(operation);
}

int DeviceCalls(DeviceId device, const std::string& operation) {
  auto lock = Lock();
  DevicePtr record = FindDevice(device);
  if (record == nullptr) return 0;
  return record->calls.Of(operation);
}

void TraceCalls(bool on) {
  auto lock = Lock();
  S().tracing = on;
}

std::vector<std::string> CallTrace() {
  auto lock = Lock();
  return S().trace;
}

}  // namespace sim
