#include "tools/probe/probe_run.h"

#include "hid/hid_device.h"
#include "tools/probe/probe_table.h"
#include "tools/probe/probe_watch.h"

namespace probe {

int RunProbe(bool watch, const std::atomic<bool>& stop_requested, std::FILE* out) {
  DeviceList list = {};
  const bool reached_end = EnumerateHidDevices(list.records, list.count);
  const Selection selection = SelectAsAgent(list);
  std::fputs(FormatTable(list, selection).c_str(), out);
  if (!reached_end) {
    std::fputs("note: the enumeration ended before the platform's end of the list\n", out);
  }
  std::fputs(FormatVerdict(selection).c_str(), out);
  std::fflush(out);
  const int status = ExitStatus(selection);
  if (watch && status == kExitFound) WatchCollections(list, selection, stop_requested, out);
  ReleaseDeviceList(list.records, list.count);
  return status;
}

}  // namespace probe
