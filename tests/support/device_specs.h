// Described HID collections that tests and benchmarks plug into the simulated
// Windows besides the agent's own buttons (sim::ButtonCollection). Free of any
// test framework.
#pragma once

#include <string>

#include "platform/sim/sim_control.h"

// A generic-desktop keyboard collection with 4-byte input reports and no capabilities.
inline sim::DeviceSpec Keyboard(const std::string& name) {
  sim::DeviceSpec spec;
  spec.name = name;
  spec.usage_page = 0x01;
  spec.usage = 0x06;
  spec.input_report_length = 4;
  return spec;
}

// A collection with no reports and no capabilities: opening it takes no table block.
inline sim::DeviceSpec BareCollection(const std::string& name) {
  sim::DeviceSpec spec;
  spec.name = name;
  spec.usage_page = 0x0C;
  spec.usage = 0x01;
  spec.vendor_id = 0x1234;
  spec.product_id = 0x5678;
  spec.version = 0x0090;
  spec.input_report_length = 0;
  spec.output_report_length = 0;
  spec.feature_report_length = 0;
  return spec;
}
