// The button bridge: attaches to the target window by selecting the
// consumer-page HID collections, runs one reader per selected collection, and
// detaches again. Every routine here runs on the main thread.
#pragma once

#include <atomic>

#include "hid/hid_device.h"
#include "platform/windows_api.h"

constexpr USHORT kConsumerUsagePage = 0x0C;

// The target application's window identity.
inline constexpr char kTargetClassName[] = "KalvorethClass";
inline constexpr char kTargetWindowTitle[] = "KalvorethTitle";

constexpr int kSelectionEntries = 5;
constexpr int kReaderCount = 3;

// The selection entry each reader reads: the first consumer-page collection
// found goes to ReaderC, the second to ReaderB, the third to ReaderA.
constexpr ULONG kReaderASlot = 2;
constexpr ULONG kReaderBSlot = 1;
constexpr ULONG kReaderCSlot = 0;

struct BridgeState {
  std::atomic<BYTE> stopped;  // non-zero: readers are not running or must stop
  LONG toggle_state;          // ReaderB's alternating code; only ReaderB touches it
  HidDeviceRecord* devices;
  ULONG device_count;
  ULONG selected[kSelectionEntries];
  std::atomic<HWND> target_window;      // readers look the window up again when it was replaced
  HANDLE reader_threads[kReaderCount];  // ReaderA, ReaderB, ReaderC; null where none runs
  ULONG selected_count;                 // entries of selected filled by the current scan
};

extern BridgeState bridge_state;

// Records in `selected` the indices of the first kSelectionEntries
// consumer-page collections of the list, in list order, and returns how many
// it recorded; entries beyond those keep what they held.
ULONG ScanButtonCollections(const HidDeviceRecord* devices, ULONG device_count, ULONG* selected);

int SelectButtonCollections(HWND target_window);
int StartReaders();
int MarkStopped();
int ReleaseDevices();
int AttachBridge(HWND target_window);
int DetachBridge();

// True while the bridge runs with fewer readers than it could have: fewer
// collections selected than there are readers (an arrival attached before the
// device's other collections came), or a reader ended by a refused read.
bool BridgeRunsShortOfReaders();
