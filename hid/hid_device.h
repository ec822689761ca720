// The HID device list: one record per HID device interface present, in the
// platform's enumeration order, each opened for overlapped reading with its
// preparsed data, attributes, capabilities and report item tables.
#pragma once

#include "platform/windows_api.h"

// One button capability or one value usage of a report kind.
struct ReportItem {
  BOOLEAN is_button;
  USHORT usage_page;
  NTSTATUS status;
  ULONG report_id;
  union {
    struct {  // is_button == 1
      ULONG usage_min;
      ULONG usage_max;
      ULONG max_usage_count;
      USHORT* usage_list;
    };
    USHORT usage;  // is_button == 0; shares its storage with the start of usage_min
  };
};

// The item description of one report kind (input, output or feature).
struct ReportKindTables {
  UCHAR* report_buffer;
  ReportItem* items;
  ULONG item_count;
  HIDP_BUTTON_CAPS* button_caps;
  HIDP_VALUE_CAPS* value_caps;
};

struct HidDeviceRecord {
  HANDLE handle;  // 0: never opened; INVALID_HANDLE_VALUE: open refused
  PHIDP_PREPARSED_DATA preparsed;
  HIDP_CAPS caps;
  HIDD_ATTRIBUTES attributes;
  ReportKindTables input;
  ReportKindTables output;
  ReportKindTables feature;
};

struct DeviceList {
  HidDeviceRecord* records;
  ULONG count;
};

// Replaces records and count with a fresh list of every present HID interface.
// True when the platform's end of the list was reached.
bool EnumerateHidDevices(HidDeviceRecord*& records, ULONG& count);
bool OpenHidCollection(HDEVINFO device_set, PSP_DEVICE_INTERFACE_DATA interface_data,
                       HidDeviceRecord* record);
void CloseHidCollection(HidDeviceRecord* record);
void ReleaseDeviceList(HidDeviceRecord* records, ULONG count);

// Builds input, output and feature tables of an opened record from its caps.
void BuildReportItemTables(HidDeviceRecord* record);
// Releases what one kind's tables hold; null blocks are skipped.
void ReleaseReportKindTables(ReportKindTables* tables);
