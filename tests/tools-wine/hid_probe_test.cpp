// hid-probe.exe against the platform's real HID collections: its table has
// one row per member index that agrees with what the platform reports about
// each collection, its verdict and exit status follow the consumer-page
// collections present, --watch with nothing to watch ends at once, and bad
// arguments give exit status 2 with the usage line.
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "child_process.h"
#include "platform_hid.h"

using namespace wintest;
using namespace toolstest;

namespace {

const char* kProgram = "hid_probe_test";
constexpr USHORT kConsumerPage = 0x0C;
constexpr char kUsage[] = "usage: hid-probe [--watch]\n";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream stream(line);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

std::string Hex4(unsigned value) {
  char text[8];
  snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
  return text;
}

// One row of the probe's table, by column.
struct Row {
  std::string index, state, page, usage, vendor, product, input, reader, codes;
};

bool ParseRow(const std::string& line, Row* row) {
  std::vector<std::string> words = Words(line);
  size_t at = 0;
  auto next = [&](std::string* field) {
    if (at >= words.size()) return false;
    *field = words[at++];
    return true;
  };
  if (!next(&row->index) || !next(&row->state)) return false;
  // Two of the states are two words long.
  if (row->state == "open" || row->state == "handle") {
    std::string second;
    if (!next(&second)) return false;
    row->state += " " + second;
  }
  if (!next(&row->page) || !next(&row->usage) || !next(&row->vendor) || !next(&row->product) ||
      !next(&row->input) || !next(&row->reader)) {
    return false;
  }
  row->codes.clear();
  while (at < words.size()) row->codes += (row->codes.empty() ? "" : " ") + words[at++];
  return true;
}

// What the row of one member index should say, from the platform's own view.
Row ExpectedRow(size_t index, const std::string& path, int* consumer_seen) {
  Row row;
  row.index = std::to_string(index);
  row.page = row.usage = row.vendor = row.product = row.input = row.reader = "-";
  if (path.empty()) {
    row.state = "blank";
    return row;
  }
  PlatformCollection platform = OpenPlatformCollection(path);
  if (platform.handle == INVALID_HANDLE_VALUE) {
    row.state = "open refused";
  } else if (platform.preparsed == nullptr || !platform.has_attributes || !platform.has_caps) {
    row.state = "handle only";
  } else {
    row.state = "opened";
    row.page = Hex4(platform.caps.UsagePage);
    row.usage = Hex4(platform.caps.Usage);
    row.input = std::to_string(platform.caps.InputReportByteLength);
    if (platform.caps.UsagePage == kConsumerPage) {
      const char* kReaders[] = {"ReaderC", "ReaderB", "ReaderA"};
      row.reader = *consumer_seen < 3 ? kReaders[*consumer_seen] : "none";
      ++*consumer_seen;
    }
  }
  if (platform.has_attributes) {
    row.vendor = Hex4(platform.attributes.VendorID);
    row.product = Hex4(platform.attributes.ProductID);
  }
  ClosePlatformCollection(platform);
  return row;
}

void CheckRow(const Row& actual, const Row& expected) {
  SetCheckContext("table row of member index %s", expected.index.c_str());
  CHECK(actual.index == expected.index, "index %s", actual.index.c_str());
  CHECK(actual.state == expected.state, "state \"%s\", the platform says \"%s\"", actual.state.c_str(),
        expected.state.c_str());
  CHECK(actual.page == expected.page && actual.usage == expected.usage,
        "page %s usage %s, the platform %s %s", actual.page.c_str(), actual.usage.c_str(),
        expected.page.c_str(), expected.usage.c_str());
  CHECK(actual.vendor == expected.vendor && actual.product == expected.product,
        "vendor %s product %s, the platform %s %s", actual.vendor.c_str(), actual.product.c_str(),
        expected.vendor.c_str(), expected.product.c_str());
  CHECK(actual.input == expected.input, "input report length %s, the platform %s", actual.input.c_str(),
        expected.input.c_str());
  CHECK(actual.reader == expected.reader, "reader %s, expected %s", actual.reader.c_str(),
        expected.reader.c_str());
  CHECK(actual.reader == "-" || actual.reader == "none" || !actual.codes.empty(), "no codes for %s",
        actual.reader.c_str());
}

// Checks the table, the verdict and the exit status of one run.
void CheckTable(const std::string& name, const Finished& run, const std::vector<std::string>& paths,
                bool watch) {
  SetCheckContext("%s: %lu HID collections", name.c_str(), static_cast<unsigned long>(paths.size()));
  std::vector<Row> expected;
  int consumer = 0;
  for (size_t i = 0; i < paths.size(); ++i) expected.push_back(ExpectedRow(i, paths[i], &consumer));

  SetCheckContext("%s: %lu HID collections, %d on the consumer page", name.c_str(),
                  static_cast<unsigned long>(paths.size()), consumer);
  printf("%s", run.out.c_str());
  CHECK(run.exit_code == (consumer > 0 ? 0u : 1u), "exit status %lu", run.exit_code);
  CHECK(run.err.empty(), "standard error: %s", run.err.c_str());
  const std::vector<std::string> lines = Lines(run.out);
  const std::string count_line =
      std::to_string(paths.size()) +
      (paths.size() == 1 ? " HID collection enumerated" : " HID collections enumerated");
  if (!CHECK(lines.size() >= paths.size() + 3, "%lu lines of output",
             static_cast<unsigned long>(lines.size()))) {
    return;
  }
  CHECK(lines[0] == count_line, "first line \"%s\", expected \"%s\"", lines[0].c_str(), count_line.c_str());
  CHECK(Words(lines[1]).size() > 1 && Words(lines[1])[0] == "index", "no heading: \"%s\"", lines[1].c_str());
  for (size_t i = 0; i < paths.size(); ++i) {
    Row row;
    if (CHECK(ParseRow(lines[2 + i], &row), "row %lu unreadable: \"%s\"", static_cast<unsigned long>(i),
              lines[2 + i].c_str())) {
      CheckRow(row, expected[i]);
    }
  }
  SetCheckContext("%s: verdict", name.c_str());
  const std::string& verdict = lines[2 + paths.size()];
  if (consumer == 0) {
    CHECK(verdict == "verdict: no consumer-page collection; no reader would run", "\"%s\"", verdict.c_str());
  } else {
    const std::string start = "verdict: " + std::to_string(consumer) + " consumer-page collection";
    CHECK(verdict.compare(0, start.size(), start) == 0, "\"%s\"", verdict.c_str());
  }
  // Without a consumer-page collection there is nothing to watch.
  if (!watch || consumer == 0) {
    CHECK(lines.size() == paths.size() + 3, "output goes on after the verdict: \"%s\"",
          lines.size() > paths.size() + 3 ? lines[paths.size() + 3].c_str() : "");
  }
}

struct BadArguments {
  std::vector<std::string> arguments;
  const char* unexpected;
};

const BadArguments kBadArguments[] = {
    {{"--bogus"}, "--bogus"},
    {{"watch"}, "watch"},
    {{"--watch", "extra"}, "extra"},
    {{"-w", "--watch"}, "-w"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s HID-PROBE.exe\n", kProgram);
    return 2;
  }
  const std::string probe = argv[1];

  for (const BadArguments& row : kBadArguments) {
    SetCheckContext("bad arguments: %s%s%s", row.arguments[0].c_str(), row.arguments.size() > 1 ? " " : "",
                    row.arguments.size() > 1 ? row.arguments[1].c_str() : "");
    Finished run;
    if (!RunToEnd(probe, row.arguments, &run)) continue;
    CHECK(run.exit_code == 2, "exit status %lu, expected 2", run.exit_code);
    const std::string expected =
        std::string("hid-probe: unexpected argument '") + row.unexpected + "'\n" + kUsage;
    CHECK(run.err == expected, "standard error \"%s\", expected \"%s\"", run.err.c_str(), expected.c_str());
    CHECK(run.out.empty(), "standard output \"%s\"", run.out.c_str());
  }
  SetCheckContext("--help");
  Finished help;
  if (RunToEnd(probe, {"--help"}, &help)) {
    CHECK(help.exit_code == 0, "exit status %lu", help.exit_code);
    CHECK(help.out == kUsage, "standard output \"%s\"", help.out.c_str());
  }

  // The platform announces its collections in the first moments of a session;
  // a platform with none at all is a table with no rows.
  std::vector<std::string> paths;
  if (!WaitForSettledHidPaths(&paths)) paths = PresentHidPaths();
  for (bool watch : {false, true}) {
    const std::string name = watch ? "hid-probe --watch" : "hid-probe";
    std::vector<std::string> arguments;
    if (watch) arguments.push_back("--watch");
    int consumer = 0;
    for (size_t i = 0; i < paths.size(); ++i) ExpectedRow(i, paths[i], &consumer);
    if (watch && consumer > 0) {
      printf("%s: not run: consumer-page collections are present and only Ctrl+C would end the watch\n",
             name.c_str());
      continue;
    }
    Finished run;
    if (!RunToEnd(probe, arguments, &run)) continue;
    if (PresentHidPaths() != paths) {
      return SkipProgram(kProgram, "the platform's HID collections changed while %s ran", name.c_str());
    }
    CheckTable(name, run, paths, watch);
  }
  return CheckReport(kProgram);
}
