// The child controls of button-target's window, by control identifier, for
// programs that read the window from outside (GetDlgItem, LB_GETTEXT).
#pragma once

namespace button_target {

constexpr int kStatusLineId = 101;   // STATIC: the warning, or what the window waits for
constexpr int kCountsLineId = 102;   // STATIC: messages per ButtonCode
constexpr int kClearButtonId = 103;  // BUTTON "Clear"
constexpr int kMessageListId = 104;  // LISTBOX: one line per button message, newest first

}  // namespace button_target
