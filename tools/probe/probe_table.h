// What hid-probe says about a device list built by the agent's own
// enumeration: one row per member index, the collections the agent would
// select and the readers it would start, and a one-line verdict.
#pragma once

#include <string>

#include "bridge/bridge.h"
#include "bridge/readers.h"
#include "hid/hid_device.h"

namespace probe {

enum class RecordState { kBlank, kOpenRefused, kHandleOnly, kOpened };

RecordState StateOf(const HidDeviceRecord& record);
const char* StateName(RecordState state);

enum class Reader { kNone, kReaderA, kReaderB, kReaderC };

const char* ReaderName(Reader reader);

// The agent's selection: the first kSelectionEntries consumer-page collections
// in list order, and how many consumer-page collections there are in all.
struct Selection {
  ULONG entries[kSelectionEntries] = {};
  ULONG entry_count = 0;
  ULONG consumer_collections = 0;
};

Selection SelectAsAgent(const DeviceList& list);

// The reader that reads a selection entry: entry 0 goes to ReaderC, 1 to
// ReaderB, 2 to ReaderA; entries 3 and 4 are recorded but nobody reads them.
Reader ReaderOfEntry(ULONG entry);
// The agent starts a reader only for an entry that the selection filled.
bool ReaderRuns(Reader reader, const Selection& selection);

// The code the agent would post for one button byte read by `reader`; flips
// `toggle_state` as ReaderB does.
ButtonCode TranslateAs(Reader reader, BYTE button_byte, LONG* toggle_state);
// "01=16 02=17 04=18": every single-bit button byte the reader turns into a
// code, with "10/7" where the code alternates.
std::string ReaderCodes(Reader reader);

// The heading and one row per record, each line ending in a newline.
std::string FormatTable(const DeviceList& list, const Selection& selection);
// "verdict: ..." with its newline.
std::string FormatVerdict(const Selection& selection);

// The probe's exit statuses.
constexpr int kExitFound = 0;
constexpr int kExitNoConsumerCollection = 1;
constexpr int kExitBadArguments = 2;

// kExitFound when at least one consumer-page collection is present.
int ExitStatus(const Selection& selection);

}  // namespace probe
