// Scenario text to commands. The whole file is checked before anything runs,
// so a scenario never stops half way through for a typing mistake.
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <system_error>

#include "simulator/scenario.h"

namespace scenario {
namespace {

constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

struct Syntax {
  std::string_view word;
  CommandKind kind;
  std::string_view usage;
  std::size_t min_args;
  std::size_t max_args;
};

// A report's byte count is checked on its own, to say how many were given.
constexpr Syntax kSyntax[] = {
    {"device", CommandKind::kDevice, "device NAME page=HEX [fail=STEP]", 2, 3},
    {"unplug", CommandKind::kUnplug, "unplug NAME", 1, 1},
    {"notify", CommandKind::kNotify, "notify arrival|removal|HEX", 1, 1},
    {"target", CommandKind::kTarget, "target open|close", 1, 1},
    {"other-agent", CommandKind::kOtherAgent, "other-agent open|close", 1, 1},
    {"start", CommandKind::kStart, "start", 0, 0},
    {"report", CommandKind::kReport, "report NAME HH HH HH HH", 1, kUnbounded},
    {"press", CommandKind::kPress, "press NAME HH", 2, 2},
    {"destroy", CommandKind::kDestroy, "destroy", 0, 0},
    {"fail", CommandKind::kFail, "fail alloc|thread|read|post N", 2, 2},
    {"state", CommandKind::kState, "state", 0, 0},
};

struct OpenStepName {
  std::string_view word;
  sim::OpenFault fault;
};

constexpr OpenStepName kOpenSteps[] = {
    {"enum", sim::OpenFault::Enum},
    {"detail", sim::OpenFault::Detail},
    {"open", sim::OpenFault::Open},
    {"preparsed", sim::OpenFault::Preparsed},
    {"attributes", sim::OpenFault::Attributes},
    {"caps", sim::OpenFault::Caps},
};

struct FaultName {
  std::string_view word;
  sim::Fault fault;
};

constexpr FaultName kFaults[] = {
    {"alloc", sim::Fault::Alloc},
    {"thread", sim::Fault::Thread},
    {"read", sim::Fault::Read},
    {"post", sim::Fault::Post},
};

// What the file has set up so far, for the checks that depend on order.
struct Bookkeeping {
  std::map<std::string, bool, std::less<>> devices;  // name -> unplugged
  int start_line = 0;
  int open_targets = 0;
  int open_other_agents = 0;
};

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

// A carriage return counts as a blank, so files with CRLF line ends read the same.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    std::size_t end = at;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

// Hex digits with an optional 0x; nullopt when malformed or longer than 16 digits.
std::optional<std::uint64_t> ParseHex(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.empty() || text.size() > 16) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return value;
}

// An optional minus sign and at most nine decimal digits.
std::optional<int> ParseCount(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

bool IsDeviceName(std::string_view name) {
  for (char c : name) {
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '_' && c != '-' && c != '.') return false;
  }
  return !name.empty();
}

std::string ParseByte(std::string_view text, std::uint8_t* byte) {
  std::optional<std::uint64_t> value = ParseHex(text);
  if (!value) return "malformed byte " + Quoted(text) + " (expected hex 00..FF)";
  if (*value > 0xFF) return "byte " + Quoted(text) + " is outside 00..FF";
  *byte = static_cast<std::uint8_t>(*value);
  return "";
}

// A device that an earlier line defined.
std::string KnownDevice(std::string_view name, const Bookkeeping& book) {
  if (book.devices.find(name) == book.devices.end()) return "unknown device " + Quoted(name);
  return "";
}

std::string ParseOpenClose(std::string_view word, bool* open) {
  if (word == "open") {
    *open = true;
  } else if (word == "close") {
    *open = false;
  } else {
    return "expected open or close, got " + Quoted(word);
  }
  return "";
}

std::string ParseDevice(const std::vector<std::string_view>& args, Bookkeeping& book, Command& command) {
  std::string_view name = args[0];
  if (!IsDeviceName(name)) {
    return "malformed device name " + Quoted(name) + " (letters, digits, '_', '-' and '.')";
  }
  if (book.devices.find(name) != book.devices.end()) return "device " + Quoted(name) + " is already defined";
  constexpr std::string_view kPage = "page=";
  if (args[1].substr(0, kPage.size()) != kPage) return "expected page=HEX, got " + Quoted(args[1]);
  std::string_view page = args[1].substr(kPage.size());
  std::optional<std::uint64_t> value = ParseHex(page);
  if (!value) return "malformed page " + Quoted(page) + " (expected hex, e.g. page=0C)";
  if (*value > 0xFFFF) return "page " + Quoted(page) + " is outside 0000..FFFF";
  command.usage_page = static_cast<USAGE>(*value);
  if (args.size() == 3) {
    constexpr std::string_view kFail = "fail=";
    if (args[2].substr(0, kFail.size()) != kFail) return "expected fail=STEP, got " + Quoted(args[2]);
    std::string_view step = args[2].substr(kFail.size());
    bool found = false;
    for (const OpenStepName& entry : kOpenSteps) {
      if (entry.word == step) {
        command.open_fault = entry.fault;
        found = true;
      }
    }
    if (!found) {
      return "unknown fail step " + Quoted(step) +
             " (expected enum, detail, open, preparsed, attributes or caps)";
    }
  }
  command.device = std::string(name);
  book.devices.emplace(command.device, false);
  return "";
}

std::string ParseUnplug(const std::vector<std::string_view>& args, Bookkeeping& book, Command& command) {
  if (std::string error = KnownDevice(args[0], book); !error.empty()) return error;
  auto device = book.devices.find(args[0]);
  if (device->second) return "device " + Quoted(args[0]) + " is already unplugged";
  device->second = true;
  command.device = std::string(args[0]);
  return "";
}

std::string ParseNotify(const std::vector<std::string_view>& args, Command& command) {
  if (args[0] == "arrival") {
    command.event = DBT_DEVICEARRIVAL;
  } else if (args[0] == "removal") {
    command.event = DBT_DEVICEREMOVECOMPLETE;
  } else {
    std::optional<std::uint64_t> value = ParseHex(args[0]);
    if (!value) return "unknown event " + Quoted(args[0]) + " (expected arrival, removal or hex, e.g. 7)";
    if (*value > 0xFFFFFFFF) return "event " + Quoted(args[0]) + " is outside 0..FFFFFFFF";
    command.event = static_cast<WPARAM>(*value);
  }
  return "";
}

std::string ParseWindow(const std::vector<std::string_view>& args, int* open_windows, std::string_view what,
                        Command& command) {
  if (std::string error = ParseOpenClose(args[0], &command.open); !error.empty()) return error;
  if (command.open) {
    ++*open_windows;
  } else if (*open_windows == 0) {
    return "no " + std::string(what) + " window is open";
  } else {
    --*open_windows;
  }
  return "";
}

std::string ParseReport(const std::vector<std::string_view>& args, const Bookkeeping& book,
                        Command& command) {
  if (std::string error = KnownDevice(args[0], book); !error.empty()) return error;
  std::size_t bytes = args.size() - 1;
  if (bytes != command.report.size()) return "report needs 4 bytes, got " + std::to_string(bytes);
  for (std::size_t i = 0; i < bytes; ++i) {
    if (std::string error = ParseByte(args[i + 1], &command.report[i]); !error.empty()) return error;
  }
  command.device = std::string(args[0]);
  return "";
}

std::string ParsePress(const std::vector<std::string_view>& args, const Bookkeeping& book, Command& command) {
  if (std::string error = KnownDevice(args[0], book); !error.empty()) return error;
  if (std::string error = ParseByte(args[1], &command.report[1]); !error.empty()) return error;
  command.device = std::string(args[0]);
  return "";
}

std::string ParseFail(const std::vector<std::string_view>& args, Command& command) {
  bool found = false;
  for (const FaultName& entry : kFaults) {
    if (entry.word == args[0]) {
      command.fault = entry.fault;
      found = true;
    }
  }
  if (!found) return "unknown fault " + Quoted(args[0]) + " (expected alloc, thread, read or post)";
  std::optional<int> nth = ParseCount(args[1]);
  if (!nth) return "malformed count " + Quoted(args[1]) + " (expected a decimal number, e.g. 1)";
  if (*nth < 1) return "count must be at least 1, got " + std::string(args[1]);
  command.nth = *nth;
  return "";
}

std::string ParseArguments(const std::vector<std::string_view>& args, Bookkeeping& book, Command& command) {
  switch (command.kind) {
    case CommandKind::kDevice:
      return ParseDevice(args, book, command);
    case CommandKind::kUnplug:
      return ParseUnplug(args, book, command);
    case CommandKind::kNotify:
      return ParseNotify(args, command);
    case CommandKind::kTarget:
      return ParseWindow(args, &book.open_targets, "target", command);
    case CommandKind::kOtherAgent:
      return ParseWindow(args, &book.open_other_agents, "other-agent", command);
    case CommandKind::kStart:
      if (book.start_line != 0)
        return "the agent is already started on line " + std::to_string(book.start_line);
      book.start_line = command.line;
      return "";
    case CommandKind::kReport:
      return ParseReport(args, book, command);
    case CommandKind::kPress:
      return ParsePress(args, book, command);
    case CommandKind::kFail:
      return ParseFail(args, command);
    case CommandKind::kDestroy:
    case CommandKind::kState:
      return "";
  }
  return "";
}

// One non-blank line (comment already removed).
std::string ParseLine(const std::vector<std::string_view>& words, Bookkeeping& book, Command& command) {
  const Syntax* syntax = nullptr;
  for (const Syntax& entry : kSyntax) {
    if (entry.word == words[0]) syntax = &entry;
  }
  if (syntax == nullptr) return "unknown command " + Quoted(words[0]);
  std::vector<std::string_view> args(words.begin() + 1, words.end());
  if (args.size() < syntax->min_args) return "missing argument (usage: " + std::string(syntax->usage) + ")";
  if (args.size() > syntax->max_args) {
    return "unexpected argument " + Quoted(args[syntax->max_args]) +
           " (usage: " + std::string(syntax->usage) + ")";
  }
  command.kind = syntax->kind;
  return ParseArguments(args, book, command);
}

}  // namespace

ParseOutcome ParseScenario(std::string_view text, const std::string& file_name) {
  ParseOutcome outcome;
  outcome.scenario.file = file_name;
  Bookkeeping book;
  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    Command command;
    command.line = line_number;
    if (std::string error = ParseLine(words, book, command); !error.empty()) {
      outcome.error = file_name + ":" + std::to_string(line_number) + ": " + error;
      outcome.scenario.commands.clear();
      return outcome;
    }
    outcome.scenario.commands.push_back(std::move(command));
  }
  return outcome;
}

ParseOutcome LoadScenario(const std::string& file_name) {
  std::error_code ignored;
  std::ifstream file;
  if (!std::filesystem::is_directory(file_name, ignored)) file.open(file_name, std::ios::binary);
  std::string text;
  if (file.is_open()) text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (!file.is_open() || file.bad()) {
    ParseOutcome outcome;
    outcome.scenario.file = file_name;
    outcome.error = "cannot open " + Quoted(file_name);
    return outcome;
  }
  return ParseScenario(text, file_name);
}

}  // namespace scenario
