#include "tools/button_target/button_log.h"

#include <cstdio>

namespace button_target {

unsigned ButtonCodeOf(std::uintptr_t l_param) {
  return static_cast<unsigned>((l_param >> 16) & 0xFFFFu);
}

std::string FormatButtonMessage(const ClockTime& time, std::uintptr_t w_param, std::uintptr_t l_param) {
  char line[128];
  // lParam is shown as the 32 bits the agent posts, on 64-bit Windows too.
  std::snprintf(line, sizeof line, "%02u:%02u:%02u.%03u  ButtonCode %u  wParam %llu  lParam 0x%08llX",
                time.hour, time.minute, time.second, time.millisecond, ButtonCodeOf(l_param),
                static_cast<unsigned long long>(w_param),
                static_cast<unsigned long long>(l_param & 0xFFFFFFFFu));
  return line;
}

std::string FormatCounts(const CodeCounts& counts) {
  std::string text = "Counts per ButtonCode:";
  if (counts.empty()) return text + " none yet";
  for (const auto& [code, count] : counts) {
    char entry[48];
    std::snprintf(entry, sizeof entry, "%s%u=%lu", text.back() == ':' ? " " : "  ", code, count);
    text += entry;
  }
  return text;
}

}  // namespace button_target
