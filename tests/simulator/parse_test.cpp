// The scenario parser: what each command line becomes, and the exact error for
// every kind of bad input.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "simulator/scenario.h"

namespace {

using scenario::Command;
using scenario::CommandKind;
using scenario::ParseOutcome;
using scenario::ParseScenario;

// The one command of the scenario's last line.
Command LastCommand(const std::string& text) {
  ParseOutcome outcome = ParseScenario(text, "t.scn");
  EXPECT_EQ(outcome.error, "") << text;
  if (outcome.scenario.commands.empty()) return Command{};
  return outcome.scenario.commands.back();
}

TEST(ScenarioParse, DeviceLines) {
  struct Row {
    const char* text;
    USAGE page;
    sim::OpenFault fault;
  };
  const Row rows[] = {
      {"device pad page=0C", 0x0C, sim::OpenFault::None},
      {"device pad page=c", 0x0C, sim::OpenFault::None},
      {"device pad page=0x0c", 0x0C, sim::OpenFault::None},
      {"device pad page=FFFF", 0xFFFF, sim::OpenFault::None},
      {"device pad page=1 fail=enum", 0x01, sim::OpenFault::Enum},
      {"device pad page=0C fail=detail", 0x0C, sim::OpenFault::Detail},
      {"device pad page=0C fail=open", 0x0C, sim::OpenFault::Open},
      {"device pad page=0C fail=preparsed", 0x0C, sim::OpenFault::Preparsed},
      {"device pad page=0C fail=attributes", 0x0C, sim::OpenFault::Attributes},
      {"device pad page=0C fail=caps", 0x0C, sim::OpenFault::Caps},
  };
  for (const Row& row : rows) {
    Command command = LastCommand(row.text);
    EXPECT_EQ(command.kind, CommandKind::kDevice) << row.text;
    EXPECT_EQ(command.device, "pad") << row.text;
    EXPECT_EQ(command.usage_page, row.page) << row.text;
    EXPECT_EQ(command.open_fault, row.fault) << row.text;
  }
}

TEST(ScenarioParse, NotifyEvents) {
  struct Row {
    const char* text;
    WPARAM event;
  };
  const Row rows[] = {
      {"notify arrival", DBT_DEVICEARRIVAL},
      {"notify removal", DBT_DEVICEREMOVECOMPLETE},
      {"notify 7", 0x7},
      {"notify 8004", 0x8004},
      {"notify 0x18", 0x18},
      {"notify FFFFFFFF", 0xFFFFFFFF},
  };
  for (const Row& row : rows) {
    Command command = LastCommand(row.text);
    EXPECT_EQ(command.kind, CommandKind::kNotify) << row.text;
    EXPECT_EQ(command.event, row.event) << row.text;
  }
}

TEST(ScenarioParse, ReportAndPressBytes) {
  Command report = LastCommand("device pad page=0C\nreport pad 00 4 fF 0x10");
  EXPECT_EQ(report.kind, CommandKind::kReport);
  EXPECT_EQ(report.device, "pad");
  EXPECT_EQ(report.report, (std::array<std::uint8_t, 4>{0x00, 0x04, 0xFF, 0x10}));

  Command press = LastCommand("device pad page=0C\npress pad 20");
  EXPECT_EQ(press.kind, CommandKind::kPress);
  EXPECT_EQ(press.device, "pad");
  EXPECT_EQ(press.report, (std::array<std::uint8_t, 4>{0x00, 0x20, 0x00, 0x00}));
}

TEST(ScenarioParse, FailKindsAndCounts) {
  struct Row {
    const char* text;
    sim::Fault fault;
    int nth;
  };
  const Row rows[] = {
      {"fail alloc 1", sim::Fault::Alloc, 1},
      {"fail thread 2", sim::Fault::Thread, 2},
      {"fail read 30", sim::Fault::Read, 30},
      {"fail post 007", sim::Fault::Post, 7},
  };
  for (const Row& row : rows) {
    Command command = LastCommand(row.text);
    EXPECT_EQ(command.kind, CommandKind::kFail) << row.text;
    EXPECT_EQ(command.fault, row.fault) << row.text;
    EXPECT_EQ(command.nth, row.nth) << row.text;
  }
}

TEST(ScenarioParse, WindowsAndPlainCommands) {
  struct Row {
    const char* text;
    CommandKind kind;
    bool open;
  };
  const Row rows[] = {
      {"target open", CommandKind::kTarget, true},
      {"target open\ntarget close", CommandKind::kTarget, false},
      {"other-agent open", CommandKind::kOtherAgent, true},
      {"other-agent open\nother-agent close", CommandKind::kOtherAgent, false},
      {"start", CommandKind::kStart, false},
      {"destroy", CommandKind::kDestroy, false},
      {"state", CommandKind::kState, false},
      {"device pad page=0C\nunplug pad", CommandKind::kUnplug, false},
  };
  for (const Row& row : rows) {
    Command command = LastCommand(row.text);
    EXPECT_EQ(command.kind, row.kind) << row.text;
    EXPECT_EQ(command.open, row.open) << row.text;
  }
}

TEST(ScenarioParse, CommentsBlanksAndLineNumbers) {
  const std::string text =
      "# a demo\n"
      "\n"
      "device pad page=0C   # the button device\n"
      "\t  target   open\t\r\n"
      "   \n"
      "start#no blank needed before a comment\r\n"
      "#state\n"
      "press pad 01";
  ParseOutcome outcome = ParseScenario(text, "demo.scn");
  ASSERT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.scenario.file, "demo.scn");
  ASSERT_EQ(outcome.scenario.commands.size(), 4u);
  const int lines[] = {3, 4, 6, 8};
  const CommandKind kinds[] = {CommandKind::kDevice, CommandKind::kTarget, CommandKind::kStart,
                               CommandKind::kPress};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(outcome.scenario.commands[i].line, lines[i]);
    EXPECT_EQ(outcome.scenario.commands[i].kind, kinds[i]);
  }
}

TEST(ScenarioParse, EmptyAndCommentOnlyFilesHaveNoCommands) {
  for (const char* text : {"", "\n\n", "# nothing\n   # at all\n"}) {
    ParseOutcome outcome = ParseScenario(text, "e.scn");
    EXPECT_EQ(outcome.error, "") << text;
    EXPECT_TRUE(outcome.scenario.commands.empty()) << text;
  }
}

TEST(ScenarioParse, BadInputNamesFileLineAndWhatIsWrong) {
  struct Row {
    const char* text;
    const char* error;
  };
  const Row rows[] = {
      {"presss pad 01", "x.scn:1: unknown command 'presss'"},
      {"Start", "x.scn:1: unknown command 'Start'"},
      {"device pad", "x.scn:1: missing argument (usage: device NAME page=HEX [fail=STEP])"},
      {"device", "x.scn:1: missing argument (usage: device NAME page=HEX [fail=STEP])"},
      {"device pad page=0C fail=open x",
       "x.scn:1: unexpected argument 'x' (usage: device NAME page=HEX [fail=STEP])"},
      {"device pad 0C", "x.scn:1: expected page=HEX, got '0C'"},
      {"device pad page=zz", "x.scn:1: malformed page 'zz' (expected hex, e.g. page=0C)"},
      {"device pad page=", "x.scn:1: malformed page '' (expected hex, e.g. page=0C)"},
      {"device pad page=10000", "x.scn:1: page '10000' is outside 0000..FFFF"},
      {"device pad page=0C open", "x.scn:1: expected fail=STEP, got 'open'"},
      {"device pad page=0C fail=read",
       "x.scn:1: unknown fail step 'read' (expected enum, detail, open, preparsed, attributes or caps)"},
      {"device p@d page=0C", "x.scn:1: malformed device name 'p@d' (letters, digits, '_', '-' and '.')"},
      {"device pad page=0C\ndevice pad page=1", "x.scn:2: device 'pad' is already defined"},
      {"device pad page=0C\nunplug pad\ndevice pad page=0C", "x.scn:3: device 'pad' is already defined"},
      {"unplug pad", "x.scn:1: unknown device 'pad'"},
      {"device pad page=0C\nunplug pad\nunplug pad", "x.scn:3: device 'pad' is already unplugged"},
      {"unplug", "x.scn:1: missing argument (usage: unplug NAME)"},
      {"device pad page=0C\nunplug pad pad", "x.scn:2: unexpected argument 'pad' (usage: unplug NAME)"},
      {"notify", "x.scn:1: missing argument (usage: notify arrival|removal|HEX)"},
      {"notify arrive", "x.scn:1: unknown event 'arrive' (expected arrival, removal or hex, e.g. 7)"},
      {"notify 100000000", "x.scn:1: event '100000000' is outside 0..FFFFFFFF"},
      {"notify arrival removal",
       "x.scn:1: unexpected argument 'removal' (usage: notify arrival|removal|HEX)"},
      {"target", "x.scn:1: missing argument (usage: target open|close)"},
      {"target opened", "x.scn:1: expected open or close, got 'opened'"},
      {"target close", "x.scn:1: no target window is open"},
      {"target open\ntarget close\ntarget close", "x.scn:3: no target window is open"},
      {"other-agent close", "x.scn:1: no other-agent window is open"},
      {"target open\nother-agent close", "x.scn:2: no other-agent window is open"},
      {"start now", "x.scn:1: unexpected argument 'now' (usage: start)"},
      {"start\n\nstart", "x.scn:3: the agent is already started on line 1"},
      {"report pad 00 01 00 00", "x.scn:1: unknown device 'pad'"},
      {"press pad 01\ndevice pad page=0C", "x.scn:1: unknown device 'pad'"},
      {"report", "x.scn:1: missing argument (usage: report NAME HH HH HH HH)"},
      {"device pad page=0C\nreport pad 00 01 00", "x.scn:2: report needs 4 bytes, got 3"},
      {"device pad page=0C\nreport pad 00 01 00 00 00", "x.scn:2: report needs 4 bytes, got 5"},
      {"device pad page=0C\nreport pad", "x.scn:2: report needs 4 bytes, got 0"},
      {"device pad page=0C\nreport pad 00 0g 00 00", "x.scn:2: malformed byte '0g' (expected hex 00..FF)"},
      {"device pad page=0C\nreport pad 00 100 00 00", "x.scn:2: byte '100' is outside 00..FF"},
      {"device pad page=0C\npress pad", "x.scn:2: missing argument (usage: press NAME HH)"},
      {"device pad page=0C\npress pad 01 02", "x.scn:2: unexpected argument '02' (usage: press NAME HH)"},
      {"device pad page=0C\npress pad -1", "x.scn:2: malformed byte '-1' (expected hex 00..FF)"},
      {"device pad page=0C\npress pad 1FF", "x.scn:2: byte '1FF' is outside 00..FF"},
      {"destroy now", "x.scn:1: unexpected argument 'now' (usage: destroy)"},
      {"state all", "x.scn:1: unexpected argument 'all' (usage: state)"},
      {"fail alloc", "x.scn:1: missing argument (usage: fail alloc|thread|read|post N)"},
      {"fail memory 1", "x.scn:1: unknown fault 'memory' (expected alloc, thread, read or post)"},
      {"fail read one", "x.scn:1: malformed count 'one' (expected a decimal number, e.g. 1)"},
      {"fail read 0x1", "x.scn:1: malformed count '0x1' (expected a decimal number, e.g. 1)"},
      {"fail read 0", "x.scn:1: count must be at least 1, got 0"},
      {"fail post -2", "x.scn:1: count must be at least 1, got -2"},
      {"fail post 1 2", "x.scn:1: unexpected argument '2' (usage: fail alloc|thread|read|post N)"},
  };
  for (const Row& row : rows) {
    ParseOutcome outcome = ParseScenario(row.text, "x.scn");
    EXPECT_EQ(outcome.error, row.error) << row.text;
    EXPECT_TRUE(outcome.scenario.commands.empty()) << "nothing is run after an error: " << row.text;
  }
}

TEST(ScenarioParse, FirstErrorWinsAndLaterLinesAreNotRead) {
  ParseOutcome outcome = ParseScenario("state\nbogus\nalso bogus\n", "dir/f.scn");
  EXPECT_EQ(outcome.error, "dir/f.scn:2: unknown command 'bogus'");
}

TEST(ScenarioParse, DestroyAndNotifyBeforeStartAreAllowed) {
  ParseOutcome outcome = ParseScenario("destroy\nnotify arrival\nstart\ndestroy\ndestroy\n", "f.scn");
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.scenario.commands.size(), 5u);
}

TEST(ScenarioParse, ReportsToAnUnpluggedDeviceAreAllowed) {
  ParseOutcome outcome = ParseScenario("device pad page=0C\nunplug pad\npress pad 01\n", "f.scn");
  EXPECT_EQ(outcome.error, "");
}

TEST(ScenarioLoad, MissingFileSaysSo) {
  ParseOutcome outcome = scenario::LoadScenario("no/such/file.scn");
  EXPECT_EQ(outcome.error, "cannot open 'no/such/file.scn'");
  EXPECT_TRUE(outcome.scenario.commands.empty());
}

TEST(ScenarioLoad, DirectoryCannotBeOpened) {
  ParseOutcome outcome = scenario::LoadScenario(".");
  EXPECT_EQ(outcome.error, "cannot open '.'");
}

TEST(ScenarioLoad, ReadsAFileAndNamesItAsGiven) {
  const std::string path = testing::TempDir() + "scenario_load_test.scn";
  {
    std::ofstream file(path, std::ios::binary);
    file << "device pad page=0C\nstart\nreport pad 00 01 00\n";
  }
  ParseOutcome outcome = scenario::LoadScenario(path);
  std::remove(path.c_str());
  EXPECT_EQ(outcome.error, path + ":3: report needs 4 bytes, got 3");
}

}  // namespace
