// Any bytes given to the scenario reader as a file named "fuzz.scn": the reader
// only reads (the simulated Windows is never touched), and either every
// non-blank line became the command it names, or the first bad line is named
// as "fuzz.scn:LINE: what is wrong". Any violation aborts with a message, which
// libFuzzer reports as a crash.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim_control.h"
#include "simulator/scenario.h"

namespace {

using scenario::Command;
using scenario::CommandKind;
using scenario::ParseOutcome;
using scenario::ParseScenario;

const std::string kFileName = "fuzz.scn";

// Every Windows operation the simulated machine counts; reading a scenario calls none of them.
constexpr const char* kOperations[] = {
    "CancelIo",
    "CloseHandle",
    "CreateFileA",
    "CreateThread",
    "CreateWindowExA",
    "DefWindowProcA",
    "DispatchMessageA",
    "ExitThread",
    "FindWindowA",
    "GetCurrentThreadId",
    "GetExitCodeThread",
    "GetLastError",
    "GetMessageA",
    "GetStockObject",
    "HasOverlappedIoCompleted",
    "HidD_FreePreparsedData",
    "HidD_GetAttributes",
    "HidD_GetHidGuid",
    "HidD_GetPreparsedData",
    "HidP_GetCaps",
    "HidP_GetSpecificButtonCaps",
    "HidP_GetSpecificValueCaps",
    "HidP_MaxUsageListLength",
    "IsWindow",
    "IsWindowVisible",
    "LoadCursorA",
    "LocalAlloc",
    "LocalFree",
    "LocalReAlloc",
    "PostMessageA",
    "PostQuitMessage",
    "QueueUserAPC",
    "ReadFileEx",
    "RegisterClassA",
    "RegisterDeviceNotificationA",
    "SetLastError",
    "SetupDiDestroyDeviceInfoList",
    "SetupDiEnumDeviceInterfaces",
    "SetupDiGetClassDevsA",
    "SetupDiGetDeviceInterfaceDetailA",
    "ShowWindow",
    "SleepEx",
    "TranslateMessage",
    "UnregisterDeviceNotification",
    "WaitForMultipleObjects",
    "WaitForSingleObject",
};

constexpr sim::Fault kFaults[] = {
    sim::Fault::Alloc,      sim::Fault::Thread,        sim::Fault::Read,         sim::Fault::Post,
    sim::Fault::GetMessage, sim::Fault::RegisterClass, sim::Fault::CreateWindow,
};

struct CommandWord {
  CommandKind kind;
  std::string_view word;
};

constexpr CommandWord kCommandWords[] = {
    {CommandKind::kDevice, "device"},
    {CommandKind::kUnplug, "unplug"},
    {CommandKind::kNotify, "notify"},
    {CommandKind::kTarget, "target"},
    {CommandKind::kOtherAgent, "other-agent"},
    {CommandKind::kStart, "start"},
    {CommandKind::kReport, "report"},
    {CommandKind::kPress, "press"},
    {CommandKind::kDestroy, "destroy"},
    {CommandKind::kFail, "fail"},
    {CommandKind::kState, "state"},
};

struct OpenStepWord {
  sim::OpenFault fault;
  std::string_view word;
};

constexpr OpenStepWord kOpenStepWords[] = {
    {sim::OpenFault::Enum, "enum"},
    {sim::OpenFault::Detail, "detail"},
    {sim::OpenFault::Open, "open"},
    {sim::OpenFault::Preparsed, "preparsed"},
    {sim::OpenFault::Attributes, "attributes"},
    {sim::OpenFault::Caps, "caps"},
};

struct FaultWord {
  sim::Fault fault;
  std::string_view word;
};

constexpr FaultWord kFaultWords[] = {
    {sim::Fault::Alloc, "alloc"},
    {sim::Fault::Thread, "thread"},
    {sim::Fault::Read, "read"},
    {sim::Fault::Post, "post"},
};

// The input is printed escaped, so a report shows it even when it holds control bytes.
std::string Escaped(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') {
      out += "\\n\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

[[noreturn]] void Violation(const std::string& what, std::string_view text) {
  std::fprintf(stderr, "scenario_fuzzer: %s\n--- input (%zu bytes) ---\n%s\n--- end of input ---\n",
               what.c_str(), text.size(), Escaped(text).c_str());
  std::abort();
}

void NothingRan(std::string_view text) {
  sim::Resources held = sim::Held();
  if (held.handles() != 0 || held.blocks != 0 || held.bytes != 0 || held.preparsed != 0 ||
      held.threads != 0 || held.notifications != 0 || held.bad_frees != 0) {
    Violation("reading the scenario took resources of the simulated Windows", text);
  }
  for (const char* operation : kOperations) {
    if (sim::Calls(operation) != 0) {
      Violation(std::string("reading the scenario called ") + operation, text);
    }
  }
  for (sim::Fault fault : kFaults) {
    if (sim::FaultPoints(fault) != 0) Violation("reading the scenario reached a fault point", text);
  }
  if (!sim::ProcessWindows().empty() || sim::DeviceNotificationRegistrations() != 0) {
    Violation("reading the scenario created a window or a registration", text);
  }
  int exit_code = 0;
  if (sim::ProcessExited(&exit_code)) Violation("reading the scenario ran a process", text);
}

// The reader's own idea of a line: text up to '\n'; a last line without one counts.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// The words of one line once its comment is gone.
std::vector<std::string_view> Words(std::string_view line) {
  line = line.substr(0, line.find('#'));
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    if (IsBlank(line[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

std::string_view KindWord(CommandKind kind) {
  for (const CommandWord& entry : kCommandWords) {
    if (entry.kind == kind) return entry.word;
  }
  return "";
}

bool NamesDevice(CommandKind kind) {
  return kind == CommandKind::kDevice || kind == CommandKind::kUnplug || kind == CommandKind::kReport ||
         kind == CommandKind::kPress;
}

std::string Hex(std::uint64_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llX", width, static_cast<unsigned long long>(value));
  return text;
}

// The canonical line for a command, built only from the fields its kind uses;
// an empty string when a field holds something no line can say.
std::string Render(const Command& command) {
  std::string line(KindWord(command.kind));
  switch (command.kind) {
    case CommandKind::kDevice: {
      line += " " + command.device + " page=" + Hex(command.usage_page, 2);
      if (command.open_fault == sim::OpenFault::None) return line;
      for (const OpenStepWord& entry : kOpenStepWords) {
        if (entry.fault == command.open_fault) return line + " fail=" + std::string(entry.word);
      }
      return "";
    }
    case CommandKind::kUnplug:
      return line + " " + command.device;
    case CommandKind::kNotify:
      return line + " " + Hex(command.event, 1);
    case CommandKind::kTarget:
    case CommandKind::kOtherAgent:
      return line + (command.open ? " open" : " close");
    case CommandKind::kReport:
      line += " " + command.device;
      for (std::uint8_t byte : command.report) line += " " + Hex(byte, 2);
      return line;
    case CommandKind::kPress:
      return line + " " + command.device + " " + Hex(command.report[1], 2);
    case CommandKind::kFail:
      for (const FaultWord& entry : kFaultWords) {
        if (entry.fault == command.fault) {
          return line + " " + std::string(entry.word) + " " + std::to_string(command.nth);
        }
      }
      return "";
    case CommandKind::kStart:
    case CommandKind::kDestroy:
    case CommandKind::kState:
      return line;
  }
  return "";
}

bool Same(const Command& a, const Command& b) {
  return a.kind == b.kind && a.line == b.line && a.device == b.device && a.usage_page == b.usage_page &&
         a.open_fault == b.open_fault && a.event == b.event && a.open == b.open && a.report == b.report &&
         a.fault == b.fault && a.nth == b.nth;
}

bool Same(const ParseOutcome& a, const ParseOutcome& b) {
  if (a.error != b.error || a.scenario.file != b.scenario.file) return false;
  if (a.scenario.commands.size() != b.scenario.commands.size()) return false;
  for (std::size_t i = 0; i < a.scenario.commands.size(); ++i) {
    if (!Same(a.scenario.commands[i], b.scenario.commands[i])) return false;
  }
  return true;
}

std::string Describe(const Command& command) {
  return "line " + std::to_string(command.line) + " '" + Render(command) + "'";
}

// A successful read: one command per non-blank line, in order, of the kind its
// first word names, and the canonical text of the commands reads back the same.
void CheckCommands(const ParseOutcome& outcome, std::string_view text) {
  const std::vector<std::string_view> lines = Lines(text);
  const std::vector<Command>& commands = outcome.scenario.commands;
  std::size_t next = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string_view> words = Words(lines[i]);
    if (words.empty()) continue;
    int line = static_cast<int>(i + 1);
    if (next == commands.size()) {
      Violation("line " + std::to_string(line) + " became no command", text);
    }
    const Command& command = commands[next++];
    if (command.line != line) {
      Violation("the command of line " + std::to_string(line) + " says " + Describe(command), text);
    }
    if (KindWord(command.kind) != words[0]) {
      Violation(Describe(command) + " came from a line starting '" + std::string(words[0]) + "'", text);
    }
    std::string_view named = words.size() > 1 ? words[1] : std::string_view();
    if (NamesDevice(command.kind) ? command.device != named : !command.device.empty()) {
      Violation(Describe(command) + " names the wrong device", text);
    }
  }
  if (next != commands.size()) Violation(Describe(commands[next]) + " came from no line", text);

  // Canonical lines at the same line numbers, so even the line fields must agree.
  std::string canonical;
  int line = 1;
  for (const Command& command : commands) {
    std::string rendered = Render(command);
    if (rendered.empty()) Violation(Describe(command) + " holds a value no line can say", text);
    for (; line < command.line; ++line) canonical += '\n';
    canonical += rendered;
  }
  ParseOutcome again = ParseScenario(canonical, kFileName);
  if (!again.error.empty()) {
    Violation("the canonical text of the commands does not read back: " + again.error, text);
  }
  if (!Same(outcome, again)) {
    Violation("the canonical text of the commands reads back differently:\n" + Escaped(canonical), text);
  }
}

// A refused read: no commands, and "fuzz.scn:LINE: what" with LINE a non-blank
// line of the input; every line before it reads, and the text through it gives
// the same error.
void CheckError(const ParseOutcome& outcome, std::string_view text) {
  const std::string& error = outcome.error;
  if (!outcome.scenario.commands.empty()) Violation("an error came with commands: " + error, text);
  if (error.find('\n') != std::string::npos) Violation("the error spans lines: " + error, text);
  const std::string prefix = kFileName + ":";
  if (error.compare(0, prefix.size(), prefix) != 0) Violation("the error names no file: " + error, text);
  std::size_t at = prefix.size();
  std::size_t digits_end = at;
  while (digits_end < error.size() && error[digits_end] >= '0' && error[digits_end] <= '9') ++digits_end;
  if (digits_end == at || digits_end - at > 9 || error[at] == '0') {
    Violation("the error has no line number: " + error, text);
  }
  if (error.compare(digits_end, 2, ": ") != 0 || digits_end + 2 >= error.size() ||
      IsBlank(error[digits_end + 2])) {
    Violation("the error does not say what is wrong: " + error, text);
  }
  const int line = std::stoi(error.substr(at, digits_end - at));
  const std::vector<std::string_view> lines = Lines(text);
  if (line < 1 || static_cast<std::size_t>(line) > lines.size()) {
    Violation("the error names line " + std::to_string(line) + " of " + std::to_string(lines.size()), text);
  }
  std::string_view bad_line = lines[line - 1];
  if (Words(bad_line).empty()) Violation("the error names a blank line: " + error, text);

  const std::size_t line_start = static_cast<std::size_t>(bad_line.data() - text.data());
  ParseOutcome before = ParseScenario(text.substr(0, line_start), kFileName);
  if (!before.error.empty()) {
    Violation("the error is not the first: the lines before it give " + before.error, text);
  }
  ParseOutcome through = ParseScenario(text.substr(0, line_start + bad_line.size()), kFileName);
  if (through.error != error) {
    Violation("the lines through the bad one give another error: '" + through.error + "' not '" + error + "'",
              text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ParseOutcome outcome = ParseScenario(text, kFileName);
  NothingRan(text);
  if (outcome.scenario.file != kFileName) Violation("the scenario lost its file name", text);
  if (!Same(outcome, ParseScenario(text, kFileName))) Violation("two reads of the same text differ", text);
  if (outcome.error.empty()) {
    CheckCommands(outcome, text);
  } else {
    CheckError(outcome, text);
  }
  return 0;
}
