// button-target's text: one line per button message and the counts per
// ButtonCode, as the window shows them.
#include "tools/button_target/button_log.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using namespace button_target;

TEST(ButtonTargetText, OneLinePerMessage) {
  struct Row {
    ClockTime time;
    std::uintptr_t w_param;
    std::uintptr_t l_param;
    unsigned code;
    const char* line;
  };
  const Row rows[] = {
      {{9, 5, 7, 42}, 1, 0x00100000, 16, "09:05:07.042  ButtonCode 16  wParam 1  lParam 0x00100000"},
      {{23, 59, 59, 999}, 1, 0x000A0000, 10, "23:59:59.999  ButtonCode 10  wParam 1  lParam 0x000A0000"},
      // Whatever arrives is shown as it came: another wParam, low bits set.
      {{0, 0, 0, 0}, 0, 0x00070005, 7, "00:00:00.000  ButtonCode 7  wParam 0  lParam 0x00070005"},
      {{12, 0, 0, 0}, 1, 0xFFFF0000u, 0xFFFF, "12:00:00.000  ButtonCode 65535  wParam 1  lParam 0xFFFF0000"},
      {{12, 0, 0, 0}, 1, 0, 0, "12:00:00.000  ButtonCode 0  wParam 1  lParam 0x00000000"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ButtonCodeOf(row.l_param), row.code) << row.line;
    EXPECT_EQ(FormatButtonMessage(row.time, row.w_param, row.l_param), row.line);
  }
}

TEST(ButtonTargetText, CountsAscendByCode) {
  EXPECT_EQ(FormatCounts({}), "Counts per ButtonCode: none yet");
  EXPECT_EQ(FormatCounts({{16, 1}}), "Counts per ButtonCode: 16=1");
  EXPECT_EQ(FormatCounts({{18, 2}, {3, 1}, {10, 12}}), "Counts per ButtonCode: 3=1  10=12  18=2");
}

TEST(ButtonTargetText, TheMessageIsTheAgentsButtonEvent) {
  EXPECT_EQ(kButtonEventMessage, 0x400u + 100u);
}

}  // namespace
