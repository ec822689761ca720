// The probe's table: the same code on Windows and on the simulated Windows,
// so the golden outputs of the host build test what the Windows program prints.
#include "tools/probe/probe_table.h"

#include <cstdio>

namespace probe {
namespace {

constexpr char kNotShown[] = "-";

std::string Hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
  return text;
}

std::string Decimal(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "%lu", value);
  return text;
}

std::string Row(const std::string& index, const std::string& state, const std::string& page,
                const std::string& usage, const std::string& vendor, const std::string& product,
                const std::string& input, const std::string& reader, const std::string& codes) {
  char line[512];
  std::snprintf(line, sizeof line, "%5s  %-12s  %-4s  %-5s  %-6s  %-7s  %5s  %-7s  %s", index.c_str(),
                state.c_str(), page.c_str(), usage.c_str(), vendor.c_str(), product.c_str(), input.c_str(),
                reader.c_str(), codes.c_str());
  std::string text = line;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text + '\n';
}

// Where a consumer-page collection stands in the selection, or -1 when the
// agent did not record it.
int EntryOf(const Selection& selection, ULONG index) {
  for (ULONG entry = 0; entry < selection.entry_count; ++entry) {
    if (selection.entries[entry] == index) return static_cast<int>(entry);
  }
  return -1;
}

std::string RecordRow(const HidDeviceRecord& record, ULONG index, const Selection& selection) {
  const RecordState state = StateOf(record);
  const bool opened = state == RecordState::kOpened;
  // The attributes are filled when their query succeeded, even when the
  // capabilities were refused afterwards.
  const bool has_attributes = record.attributes.Size != 0;
  std::string reader = kNotShown;
  std::string codes;
  if (record.caps.UsagePage == kConsumerUsagePage) {
    const int entry = EntryOf(selection, index);
    if (entry < 0) {
      reader = "none";
      codes = "not recorded: the agent keeps only the first " + Decimal(kSelectionEntries);
    } else if (const Reader entry_reader = ReaderOfEntry(static_cast<ULONG>(entry));
               entry_reader == Reader::kNone) {
      reader = "none";
      codes = "recorded as match " + Decimal(static_cast<ULONG>(entry) + 1) + ", not read";
    } else {
      reader = ReaderName(entry_reader);
      codes = ReaderCodes(entry_reader);
    }
  }
  return Row(Decimal(index), StateName(state), opened ? Hex4(record.caps.UsagePage) : kNotShown,
             opened ? Hex4(record.caps.Usage) : kNotShown,
             has_attributes ? Hex4(record.attributes.VendorID) : kNotShown,
             has_attributes ? Hex4(record.attributes.ProductID) : kNotShown,
             opened ? Decimal(record.caps.InputReportByteLength) : kNotShown, reader, codes);
}

}  // namespace

RecordState StateOf(const HidDeviceRecord& record) {
  if (record.handle == nullptr) return RecordState::kBlank;
  if (record.handle == INVALID_HANDLE_VALUE) return RecordState::kOpenRefused;
  if (record.preparsed == nullptr) return RecordState::kHandleOnly;
  return RecordState::kOpened;
}

const char* StateName(RecordState state) {
  switch (state) {
    case RecordState::kBlank:
      return "blank";
    case RecordState::kOpenRefused:
      return "open refused";
    case RecordState::kHandleOnly:
      return "handle only";
    case RecordState::kOpened:
      return "opened";
  }
  return "?";
}

const char* ReaderName(Reader reader) {
  switch (reader) {
    case Reader::kReaderA:
      return "ReaderA";
    case Reader::kReaderB:
      return "ReaderB";
    case Reader::kReaderC:
      return "ReaderC";
    case Reader::kNone:
      return "none";
  }
  return "?";
}

Selection SelectAsAgent(const DeviceList& list) {
  Selection selection;
  selection.entry_count = ScanButtonCollections(list.records, list.count, selection.entries);
  for (ULONG j = 0; j < list.count; ++j) {
    if (list.records[j].caps.UsagePage == kConsumerUsagePage) ++selection.consumer_collections;
  }
  return selection;
}

Reader ReaderOfEntry(ULONG entry) {
  switch (entry) {
    case kReaderASlot:
      return Reader::kReaderA;
    case kReaderBSlot:
      return Reader::kReaderB;
    case kReaderCSlot:
      return Reader::kReaderC;
    default:
      return Reader::kNone;
  }
}

bool ReaderRuns(Reader reader, const Selection& selection) {
  for (ULONG entry = 0; entry < selection.entry_count; ++entry) {
    if (reader != Reader::kNone && ReaderOfEntry(entry) == reader) return true;
  }
  return false;
}

ButtonCode TranslateAs(Reader reader, BYTE button_byte, LONG* toggle_state) {
  switch (reader) {
    case Reader::kReaderA:
      return TranslateReaderA(button_byte);
    case Reader::kReaderB:
      return TranslateReaderB(button_byte, toggle_state);
    case Reader::kReaderC:
      return TranslateReaderC(button_byte);
    case Reader::kNone:
      return 0;
  }
  return 0;
}

std::string ReaderCodes(Reader reader) {
  std::string codes;
  for (unsigned bit = 0; bit < 8; ++bit) {
    const BYTE button_byte = static_cast<BYTE>(1u << bit);
    // ReaderB's alternating code starts as the agent's does.
    LONG toggle_state = 1;
    const ButtonCode first = TranslateAs(reader, button_byte, &toggle_state);
    if (first == 0) continue;
    const ButtonCode second = TranslateAs(reader, button_byte, &toggle_state);
    char entry[32];
    if (second == first) {
      std::snprintf(entry, sizeof entry, "%02X=%u", button_byte, first);
    } else {
      std::snprintf(entry, sizeof entry, "%02X=%u/%u", button_byte, first, second);
    }
    if (!codes.empty()) codes += ' ';
    codes += entry;
  }
  return codes;
}

std::string FormatTable(const DeviceList& list, const Selection& selection) {
  std::string table =
      Decimal(list.count) + (list.count == 1 ? " HID collection" : " HID collections") + " enumerated\n";
  table += Row("index", "state", "page", "usage", "vendor", "product", "input", "reader",
               "codes (button byte=ButtonCode)");
  for (ULONG i = 0; i < list.count; ++i) table += RecordRow(list.records[i], i, selection);
  return table;
}

std::string FormatVerdict(const Selection& selection) {
  if (selection.consumer_collections == 0)
    return "verdict: no consumer-page collection; no reader would run\n";
  std::string readers;
  ULONG named = 0;
  ULONG running = 0;
  for (Reader reader : {Reader::kReaderC, Reader::kReaderB, Reader::kReaderA}) {
    if (ReaderRuns(reader, selection)) ++running;
  }
  for (Reader reader : {Reader::kReaderC, Reader::kReaderB, Reader::kReaderA}) {
    if (!ReaderRuns(reader, selection)) continue;
    ++named;
    if (named > 1) readers += named == running ? " and " : ", ";
    readers += ReaderName(reader);
  }
  const ULONG found = selection.consumer_collections;
  return "verdict: " + Decimal(found) +
         (found == 1 ? " consumer-page collection; " : " consumer-page collections; ") + readers +
         " would run\n";
}

int ExitStatus(const Selection& selection) {
  return selection.consumer_collections != 0 ? kExitFound : kExitNoConsumerCollection;
}

}  // namespace probe
