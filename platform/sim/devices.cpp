// The device table that tests edit: HID interfaces that come and go, and the
// input reports they send.
#include <algorithm>
#include <cstdio>

#include "platform/sim/machine.h"

namespace sim::detail {

namespace {

std::string PathFor(const std::string& name, DeviceId id) {
  char instance[16];
  std::snprintf(instance, sizeof instance, "%04X", static_cast<unsigned>(id - 1) & 0xFFFFu);
  return std::string(R"(\\?\hid#sim_)") + name + "#1&" + instance +
         "&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

template <typename Visit>
void ForEachFile(const Device& device, Visit visit) {
  for (auto& [value, object] : S().handles) {
    if (object.file != nullptr && object.file->device.get() == &device) visit(*object.file);
  }
}

}  // namespace

DevicePtr FindDevice(DeviceId device) {
  const auto& devices = S().devices;
  if (device < 1 || static_cast<std::size_t>(device) > devices.size()) return nullptr;
  return devices[device - 1];
}

}  // namespace sim::detail

namespace sim {

using namespace detail;

HIDP_BUTTON_CAPS ButtonRangeCaps(USAGE page, USAGE first, USAGE last, USHORT first_index, UCHAR report_id) {
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

HIDP_VALUE_CAPS ValueCaps(USAGE page, USAGE usage, USHORT bits, USHORT index, UCHAR report_id) {
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

HIDP_VALUE_CAPS ValueRangeCaps(USAGE page, USAGE first, USAGE last, USHORT bits, USHORT first_index,
                               UCHAR report_id) {
  HIDP_VALUE_CAPS caps = ValueCaps(page, 0, bits, 0, report_id);
  caps.IsRange = TRUE;
  caps.ReportCount = static_cast<USHORT>(last - first + 1);
  caps.Range.UsageMin = first;
  caps.Range.UsageMax = last;
  caps.Range.DataIndexMin = first_index;
  caps.Range.DataIndexMax = static_cast<USHORT>(first_index + (last - first));
  return caps;
}

DeviceSpec ButtonCollection(const std::string& name) {
  // One input report of 4 bytes without a report id: byte 0 is the id slot
  // (0), byte 1 holds eight buttons, bytes 2 and 3 a vendor-defined value.
  DeviceSpec description;
  description.name = name;
  description.usage_page = 0x0C;
  description.usage = 0x01;
  description.vendor_id = 0x4B56;
  description.product_id = 0x0009;
  description.version = 0x0090;
  description.input_report_length = 4;
  description.button_caps[HidP_Input] = {ButtonRangeCaps(0x09, 1, 8, 0)};
  description.value_caps[HidP_Input] = {ValueCaps(0xFF00, 0x01, 16, 8)};
  return description;
}

DeviceId AddDevice(const DeviceSpec& description, OpenFault fault) {
  auto lock = Lock();
  State& state = S();
  auto device = std::make_shared<Device>();
  device->id = static_cast<DeviceId>(state.devices.size() + 1);
  device->description = description;
  device->fault = fault;
  device->path = PathFor(description.name, device->id);
  state.devices.push_back(device);
  state.devices_by_path.emplace(LowerCase(device->path), device);
  state.last_arrived_path = device->path;
  return device->id;
}

void SetDeviceFault(DeviceId device, OpenFault fault) {
  auto lock = Lock();
  if (DevicePtr record = FindDevice(device)) record->fault = fault;
}

void RemoveDevice(DeviceId device) {
  auto lock = Lock();
  DevicePtr record = FindDevice(device);
  if (record == nullptr || !record->present) return;
  record->present = false;
  S().last_removed_path = record->path;
  ForEachFile(*record, [](OpenFile& file) {
    EndReads(file.pending, ERROR_DEVICE_NOT_CONNECTED);
    file.ring.clear();
  });
}

int SendReport(DeviceId device, const std::vector<std::uint8_t>& report) {
  auto lock = Lock();
  DevicePtr record = FindDevice(device);
  if (record == nullptr || !record->present) return 0;
  int completed = 0;
  ForEachFile(*record, [&](OpenFile& file) {
    if (!file.pending.empty()) {
      const PendingRead read = file.pending.front();
      file.pending.pop_front();
      CompleteRead(read, ERROR_SUCCESS, report.data(), report.size());
      ++completed;
      return;
    }
    // Like the HID class driver, each handle keeps the reports nobody reads
    // yet in a ring of its own, dropping the oldest when it is full.
    if (file.ring.size() == kRingReports) file.ring.pop_front();
    file.ring.push_back(report);
  });
  return completed;
}

std::string DevicePath(DeviceId device) {
  auto lock = Lock();
  DevicePtr record = FindDevice(device);
  return record == nullptr ? std::string() : record->path;
}

int PendingReads(DeviceId device) {
  auto lock = Lock();
  DevicePtr record = FindDevice(device);
  int reads = 0;
  if (record != nullptr)
    ForEachFile(*record, [&](OpenFile& file) { reads += static_cast<int>(file.pending.size()); });
  return reads;
}

int OpenHandles(DeviceId device) {
  auto lock = Lock();
  DevicePtr record = FindDevice(device);
  int handles = 0;
  if (record != nullptr) ForEachFile(*record, [&](OpenFile&) { ++handles; });
  return handles;
}

int BufferedReports(DeviceId device) {
  auto lock = Lock();
  DevicePtr record = FindDevice(device);
  int reports = 0;
  if (record != nullptr)
    ForEachFile(*record, [&](OpenFile& file) { reports += static_cast<int>(file.ring.size()); });
  return reports;
}

void SetClassDevsFails(bool fails) {
  auto lock = Lock();
  S().class_devs_fail = fails;
}

void SetEnumerationNeverEnds(bool never_ends) {
  auto lock = Lock();
  S().enumeration_never_ends = never_ends;
}

}  // namespace sim
