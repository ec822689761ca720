// Every button byte of every reader: the listed codes, and nothing else.
#include <gtest/gtest.h>

#include <map>

#include "bridge/readers.h"

namespace {

struct ReaderTable {
  const char* reader;
  std::map<int, ButtonCode> codes;  // button byte -> code; every other byte gives 0
};

ButtonCode TranslateFor(const std::string& reader, BYTE button_byte) {
  if (reader == "ReaderA") return TranslateReaderA(button_byte);
  if (reader == "ReaderC") return TranslateReaderC(button_byte);
  LONG toggle = 1;
  return TranslateReaderB(button_byte, &toggle);
}

TEST(Translation, EveryByteOfEveryReader) {
  const ReaderTable tables[] = {
      {"ReaderA", {{0x01, 1}, {0x02, 2}, {0x04, 3}, {0x08, 4}, {0x10, 5}, {0x20, 6}}},
      {"ReaderB", {{0x01, 10}, {0x02, 9}, {0x04, 13}, {0x08, 14}}},
      {"ReaderC", {{0x01, 16}, {0x02, 17}, {0x04, 18}}},
  };
  for (const ReaderTable& table : tables) {
    for (int byte = 0; byte <= 0xFF; ++byte) {
      const auto listed = table.codes.find(byte);
      const ButtonCode expected = listed == table.codes.end() ? 0 : listed->second;
      EXPECT_EQ(TranslateFor(table.reader, static_cast<BYTE>(byte)), expected)
          << table.reader << " byte 0x" << std::hex << byte;
    }
  }
}

TEST(Translation, ReaderBAlternatesTenAndSevenOnItsFirstButton) {
  LONG toggle = 1;
  const ButtonCode expected[] = {10, 7, 10, 7, 10};
  for (ButtonCode code : expected) EXPECT_EQ(TranslateReaderB(0x01, &toggle), code);
  EXPECT_EQ(toggle, 0);
}

TEST(Translation, ReaderBOtherBytesLeaveTheToggleAlone) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    if (byte == 0x01) continue;
    LONG toggle = 1;
    TranslateReaderB(static_cast<BYTE>(byte), &toggle);
    EXPECT_EQ(toggle, 1) << "byte 0x" << std::hex << byte;
  }
}

TEST(Translation, ReaderBTreatsAnyNonZeroToggleAsSet) {
  LONG toggle = -5;
  EXPECT_EQ(TranslateReaderB(0x01, &toggle), 10u);
  EXPECT_EQ(toggle, 0);
  EXPECT_EQ(TranslateReaderB(0x01, &toggle), 7u);
  EXPECT_EQ(toggle, 1);
}

}  // namespace
