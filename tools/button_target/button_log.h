// What button-target shows: one line per button message received, and the
// number of messages per ButtonCode. Plain text, independent of the window.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace button_target {

// The button event message that the agent posts to the target window.
constexpr unsigned kButtonEventMessage = 1124;

// The ButtonCode a button message carries: the high 16 bits of lParam.
unsigned ButtonCodeOf(std::uintptr_t l_param);

struct ClockTime {
  unsigned hour;
  unsigned minute;
  unsigned second;
  unsigned millisecond;
};

// "12:34:56.789  ButtonCode 16  wParam 1  lParam 0x00100000"
std::string FormatButtonMessage(const ClockTime& time, std::uintptr_t w_param, std::uintptr_t l_param);

// Messages received per ButtonCode, ascending by code.
using CodeCounts = std::map<unsigned, unsigned long>;

// "Counts per ButtonCode: 10=2  16=1", or "Counts per ButtonCode: none yet".
std::string FormatCounts(const CodeCounts& counts);

}  // namespace button_target
