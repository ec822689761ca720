// The readers' translation tables: one button bit of a report's button byte
// names one ButtonCode; any other byte gives 0 and posts nothing.
#include "bridge/readers.h"

ButtonCode TranslateReaderA(BYTE button_byte) {
  switch (button_byte) {
    case 0x01:
      return 1;
    case 0x02:
      return 2;
    case 0x04:
      return 3;
    case 0x08:
      return 4;
    case 0x10:
      return 5;
    case 0x20:
      return 6;
    default:
      return 0;
  }
}

ButtonCode TranslateReaderB(BYTE button_byte, LONG* toggle_state) {
  switch (button_byte) {
    case 0x01: {
      const ButtonCode code = *toggle_state != 0 ? 10 : 7;
      *toggle_state = *toggle_state == 0 ? 1 : 0;
      return code;
    }
    case 0x02:
      return 9;
    case 0x04:
      return 13;
    case 0x08:
      return 14;
    default:
      return 0;
  }
}

ButtonCode TranslateReaderC(BYTE button_byte) {
  switch (button_byte) {
    case 0x01:
      return 16;
    case 0x02:
      return 17;
    case 0x04:
      return 18;
    default:
      return 0;
  }
}
