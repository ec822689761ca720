// What differs between the two sides: the simulated Windows on the host and
// the real Windows API under Wine. Everything else is one source built twice.
#pragma once

#include <string>

#include "platform/windows_api.h"

// The side's name in the output.
const char* SideName();

// Makes the side ready before the first case.
void PrepareSide();

// After each case: what the case left held on this side (handles, threads,
// windows, queued messages), or an empty text.
std::string LeftHeld();

// Where asynchronous reads come from. The agent reads HID collections; the host
// has a simulated HID device, Windows under Wine has none, so there the reads
// are on a named pipe opened for overlapped reading, whose other end plays the
// device.
struct ReportSource {
  HANDLE reader = nullptr;  // opened with FILE_FLAG_OVERLAPPED, like a HID collection
  HANDLE writer = nullptr;  // the pipe's other end (Windows only)
  int device = 0;           // the simulated device (host only)
};

// What the source is, for the output ("a simulated HID device", "a named pipe").
const char* ReportSourceKind();
// True where the source is a HID device, so HID-specific results can be checked.
bool ReportSourceIsHid();

bool OpenReportSource(ReportSource* source);
// One 4-byte input report arrives. May be called on any thread.
bool ArriveReport(ReportSource* source, const BYTE (&report)[4]);
// The far side goes away: the device is unplugged, the pipe's writing end closed.
void EndFarSide(ReportSource* source);
// Releases whatever of the source is still open; the reader too unless the
// caller has set it to null after closing it.
void CloseReportSource(ReportSource* source);

// What a pending read's completion gets when the far side goes away, and why.
DWORD FarSideGoneError();
const char* FarSideGoneWhy();
// What a pending read's completion gets when its own handle is closed, and why.
DWORD ReaderClosedError();
const char* ReaderClosedWhy();
