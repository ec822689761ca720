// The three reader threads and their translation of button bytes to codes.
#pragma once

#include "platform/windows_api.h"

// Names one button event; 0 means nothing is posted.
using ButtonCode = UINT;

constexpr UINT kButtonEventMessage = WM_USER + 100;  // 1124
constexpr WPARAM kButtonEventWParam = 1;

DWORD WINAPI ReaderA(LPVOID unused);
DWORD WINAPI ReaderB(LPVOID unused);
DWORD WINAPI ReaderC(LPVOID unused);
void CALLBACK IgnoreCompletion(DWORD error, DWORD bytes_transferred, LPOVERLAPPED overlapped);

ButtonCode TranslateReaderA(BYTE button_byte);
// Flips toggle_state when the byte is 0x01.
ButtonCode TranslateReaderB(BYTE button_byte, LONG* toggle_state);
ButtonCode TranslateReaderC(BYTE button_byte);
