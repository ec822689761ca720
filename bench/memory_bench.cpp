// Memory per opened record, from the simulated Windows' accounting of the
// local heap: the record's slot in the device list, and the blocks of its
// report item tables. Timed as one enumeration and release of a list holding
// that one record.
#include <benchmark/benchmark.h>

#include <functional>

#include "bench/bench_machine.h"
#include "hid/hid_device.h"

namespace {

using DescriptionMaker = std::function<sim::DeviceSpec(const std::string&)>;

void BM_RecordMemory(benchmark::State& state, const DescriptionMaker& make_description) {
  bench::ResetMachine();
  sim::AddDevice(make_description("record"));

  for (auto _ : state) {
    HidDeviceRecord* records = nullptr;
    ULONG count = 0;
    EnumerateHidDevices(records, count);
    ReleaseDeviceList(records, count);
  }

  HidDeviceRecord* records = nullptr;
  ULONG count = 0;
  EnumerateHidDevices(records, count);
  const sim::Resources with_tables = sim::Held();
  HidDeviceRecord& record = records[0];
  const bool opened = count == 1 && record.handle != nullptr && record.handle != INVALID_HANDLE_VALUE;
  for (ReportKindTables* tables : {&record.input, &record.output, &record.feature}) {
    ReleaseReportKindTables(tables);
    *tables = ReportKindTables{};
  }
  const sim::Resources without_tables = sim::Held();
  ReleaseDeviceList(records, count);
  std::string held;
  if (!opened) state.SkipWithError("the record was not opened");
  if (!bench::NothingHeld(&held)) state.SkipWithError(held.c_str());

  // The record itself has no block of its own: it is one slot of the list's
  // array, which holds it and the blank slots the array grew by.
  const double table_blocks = with_tables.blocks - without_tables.blocks;
  const double table_bytes = static_cast<double>(with_tables.bytes - without_tables.bytes);
  state.counters["record_bytes"] = sizeof(HidDeviceRecord);
  state.counters["table_blocks"] = table_blocks;
  state.counters["table_bytes"] = table_bytes;
  state.counters["blocks_with_tables"] = table_blocks;
  state.counters["bytes_with_tables"] = sizeof(HidDeviceRecord) + table_bytes;
  state.counters["list_blocks"] = without_tables.blocks;
  state.counters["list_bytes"] = static_cast<double>(without_tables.bytes);
}

BENCHMARK_CAPTURE(BM_RecordMemory, button_collection, sim::ButtonCollection)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RecordMemory, keyboard, bench::KeyboardCollection)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RecordMemory, mouse, bench::MouseCollection)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RecordMemory, rich, bench::RichCollection)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RecordMemory, blank_tables, bench::BlankCollection)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
