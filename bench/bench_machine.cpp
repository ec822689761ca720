#include "bench/bench_machine.h"

#include <algorithm>
#include <cmath>

namespace bench {

namespace {

HIDP_BUTTON_CAPS ButtonRange(USAGE page, USAGE first, USAGE last, USHORT first_index, UCHAR report_id = 0) {
  HIDP_BUTTON_CAPS caps = {};
  caps.UsagePage = page;
  caps.ReportID = report_id;
  caps.IsRange = TRUE;
  caps.IsAbsolute = TRUE;
  caps.Range.UsageMin = first;
  caps.Range.UsageMax = last;
  caps.Range.DataIndexMin = first_index;
  caps.Range.DataIndexMax = static_cast<USHORT>(first_index + (last - first));
  return caps;
}

HIDP_VALUE_CAPS Value(USAGE page, USAGE usage, USHORT bits, USHORT index, UCHAR report_id = 0) {
  HIDP_VALUE_CAPS caps = {};
  caps.UsagePage = page;
  caps.ReportID = report_id;
  caps.IsAbsolute = TRUE;
  caps.BitSize = bits;
  caps.ReportCount = 1;
  caps.LogicalMax = (1 << std::min<int>(bits, 30)) - 1;
  caps.NotRange.Usage = usage;
  caps.NotRange.DataIndex = index;
  return caps;
}

HIDP_VALUE_CAPS ValueRange(USAGE page, USAGE first, USAGE last, USHORT bits, USHORT first_index,
                           UCHAR report_id = 0) {
  HIDP_VALUE_CAPS caps = Value(page, 0, bits, 0, report_id);
  caps.IsRange = TRUE;
  caps.ReportCount = static_cast<USHORT>(last - first + 1);
  caps.Range.UsageMin = first;
  caps.Range.UsageMax = last;
  caps.Range.DataIndexMin = first_index;
  caps.Range.DataIndexMax = static_cast<USHORT>(first_index + (last - first));
  return caps;
}

}  // namespace

void ResetMachine() {
  sim::Reset();
  bridge_state.stopped.store(1);
  bridge_state.toggle_state = 1;
  bridge_state.devices = nullptr;
  bridge_state.device_count = 0;
  for (ULONG& entry : bridge_state.selected) entry = 0;
  bridge_state.target_window.store(nullptr);
  for (HANDLE& thread : bridge_state.reader_threads) thread = nullptr;
  bridge_state.selected_count = 0;
}

sim::DeviceSpec KeyboardCollection(const std::string& name) {
  sim::DeviceSpec description;
  description.name = name;
  description.usage_page = 0x01;
  description.usage = 0x06;
  description.vendor_id = 0x046D;
  description.product_id = 0xC31C;
  description.input_report_length = 9;
  description.output_report_length = 2;
  description.button_caps[HidP_Input] = {ButtonRange(0x07, 0xE0, 0xE7, 0), ButtonRange(0x07, 0x00, 0x65, 8)};
  description.button_caps[HidP_Output] = {ButtonRange(0x08, 0x01, 0x05, 0)};
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
  description.button_caps[HidP_Input] = {ButtonRange(0x09, 1, 3, 0)};
  description.value_caps[HidP_Input] = {Value(0x01, 0x30, 8, 3), Value(0x01, 0x31, 8, 4),
                                        Value(0x01, 0x38, 8, 5)};
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
  description.button_caps[HidP_Input] = {ButtonRange(0x09, 1, 16, 0, 1),
                                         ButtonRange(0xFF00, 0x20, 0x2F, 16, 1)};
  description.value_caps[HidP_Input] = {ValueRange(0xFF00, 0x40, 0x5F, 16, 32, 2),
                                        Value(0x01, 0x30, 16, 64, 2)};
  description.button_caps[HidP_Output] = {ButtonRange(0x08, 1, 8, 0, 3)};
  description.value_caps[HidP_Output] = {ValueRange(0xFF00, 0x60, 0x7F, 8, 8, 3)};
  description.value_caps[HidP_Feature] = {ValueRange(0xFF00, 0x80, 0x8F, 16, 0, 4),
                                          Value(0xFF00, 0x90, 8, 16, 4)};
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
