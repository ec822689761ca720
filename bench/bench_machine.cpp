#include "bench/bench_machine.h"

#include <algorithm>
#include <cmath>

#include "tests/support/bridge_state_reset.h"
#include "tests/support/test_devices.h"

namespace bench {

void ResetMachine() {
  sim::Reset();
  ResetBridgeState();
}

sim::DeviceSpec KeyboardCollection(const std::string& name) {
  sim::DeviceSpec description = Keyboard(name);
  description.vendor_id = 0x046D;
  description.product_id = 0xC31C;
  description.input_report_length = 9;
  description.output_report_length = 2;
  description.button_caps[HidP_Input] = {sim::ButtonRangeCaps(0x07, 0xE0, 0xE7, 0),
                                         sim::ButtonRangeCaps(0x07, 0x00, 0x65, 8)};
  description.button_caps[HidP_Output] = {sim::ButtonRangeCaps(0x08, 0x01, 0x05, 0)};
  return description;
}

sim::DeviceSpec MouseCollection(const std::string& name) {
  sim::DeviceSpec description;
  description.name = name;
  description.usage_page = 0x01;
  description.usage = 0x02;
  description.vendor_id = 0x046D;
  description.product_id = 0xC077;
  description.input_report_length = 5;
  description.button_caps[HidP_Input] = {sim::ButtonRangeCaps(0x09, 1, 3, 0)};
  description.value_caps[HidP_Input] = {sim::ValueCaps(0x01, 0x30, 8, 3), sim::ValueCaps(0x01, 0x31, 8, 4),
                                        sim::ValueCaps(0x01, 0x38, 8, 5)};
  return description;
}

sim::DeviceSpec RichCollection(const std::string& name) {
  sim::DeviceSpec description;
  description.name = name;
  description.usage_page = 0xFF00;
  description.usage = 0x01;
  description.vendor_id = 0x4B56;
  description.product_id = 0x0010;
  description.input_report_length = 64;
  description.output_report_length = 64;
  description.feature_report_length = 33;
  description.button_caps[HidP_Input] = {sim::ButtonRangeCaps(0x09, 1, 16, 0, 1),
                                         sim::ButtonRangeCaps(0xFF00, 0x20, 0x2F, 16, 1)};
  description.value_caps[HidP_Input] = {sim::ValueRangeCaps(0xFF00, 0x40, 0x5F, 16, 32, 2),
                                        sim::ValueCaps(0x01, 0x30, 16, 64, 2)};
  description.button_caps[HidP_Output] = {sim::ButtonRangeCaps(0x08, 1, 8, 0, 3)};
  description.value_caps[HidP_Output] = {sim::ValueRangeCaps(0xFF00, 0x60, 0x7F, 8, 8, 3)};
  description.value_caps[HidP_Feature] = {sim::ValueRangeCaps(0xFF00, 0x80, 0x8F, 16, 0, 4),
                                          sim::ValueCaps(0xFF00, 0x90, 8, 16, 4)};
  return description;
}

sim::DeviceSpec BlankCollection(const std::string& name) {
  sim::DeviceSpec description;
  description.name = name;
  description.usage_page = 0xFF00;
  description.usage = 0x02;
  description.input_report_length = 0;
  return description;
}

void AddMixedInterfaces(int count) {
  for (int i = 0; i < count; ++i) {
    const std::string name = "if" + std::to_string(i);
    switch (i % 8 == 0 ? 0 : 1 + i % 3) {
      case 0:
        sim::AddDevice(sim::ButtonCollection(name));
        break;
      case 1:
        sim::AddDevice(KeyboardCollection(name));
        break;
      case 2:
        sim::AddDevice(MouseCollection(name));
        break;
      default:
        sim::AddDevice(RichCollection(name));
        break;
    }
  }
}

double Percentile(std::vector<double>& samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
  const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return samples[std::min(index, samples.size() - 1)];
}

double Microseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::micro>(duration).count();
}

bool NothingHeld(std::string* what) {
  sim::WaitQuiet();
  const sim::Resources held = sim::Held();
  const std::pair<int, const char*> checks[] = {
      {held.device_handles, "device handles"},
      {held.thread_handles, "thread handles"},
      {held.info_sets, "device information sets"},
      {held.blocks, "heap blocks"},
      {held.preparsed, "preparsed data"},
      {held.threads, "threads"},
      {held.bad_frees, "bad frees"},
  };
  for (const auto& [count, name] : checks) {
    if (count != 0) {
      *what = std::to_string(count) + " " + name + " still held";
      return false;
    }
  }
  return true;
}

}  // namespace bench
