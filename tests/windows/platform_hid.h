// What the platform itself reports about the present HID collections, read
// directly through SetupAPI and the HID library, to compare the agent's view with.
#pragma once

#include <windows.h>
// After windows.h, which declares what these use.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>  // brings hidusage.h and hidpi.h, in the order they need
}

#include <string>
#include <vector>

namespace wintest {

// The device paths of the present HID interfaces, in member index order.
std::vector<std::string> PresentHidPaths();

// Reads the present HID interfaces until two reads in a row agree and list at
// least one: the platform announces its collections one by one in the first
// moments of a session. False when that does not happen within bounds.
bool WaitForSettledHidPaths(std::vector<std::string>* paths);

// One collection opened directly, as the agent opens it.
struct PlatformCollection {
  HANDLE handle = INVALID_HANDLE_VALUE;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  bool has_attributes = false;
  HIDD_ATTRIBUTES attributes = {};
  bool has_caps = false;
  HIDP_CAPS caps = {};
};

PlatformCollection OpenPlatformCollection(const std::string& path);
void ClosePlatformCollection(PlatformCollection& collection);

}  // namespace wintest
