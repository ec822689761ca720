// Described HID collections that tests and benchmarks plug into the simulated
// Windows besides the agent's own buttons (sim::ButtonCollection). Free of any
// test framework.
#pragma once

#include <string>

#include "platform/sim/sim_control.h"

// A generic-desktop keyboard collection with 4-byte input reports and no capabilities.
inline sim::DeviceSpec Keyboard(const std::string& name) {
  sim::DeviceSpec device_spec;
  device_spec.name = name;
  device_spec.usage_page = 0x01;
  device_spec.usage = 0x06;
  device_spec.input_report_length = 4;
  return device_spec;
}

// A collection with no reports and no capabilities: opening it takes no table block.
inline sim::DeviceSpec BareCollection(const std::string& name) {
  sim::DeviceSpec device_spec;
  device_spec.name = name;
  device_spec.usage_page = 0x0C;
  device_spec.usage = 0x01;
  device_spec.vendor_id = 0x1234;
  device_spec.product_id = 0x5678;
  device_spec.version = 0x0090;
  device_spec.input_report_length = 0;
  device_spec.output_report_length = 0;
  device_spec.feature_report_length = 0;
  return device_spec;
}
