// What every benchmark sets up on the simulated Windows: a fresh machine and
// bridge record, the kinds of HID collections a desktop machine presents, and
// the figures the benchmarks report.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "bridge/bridge.h"
#include "platform/sim/sim_control.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// A fresh machine, and the process-wide bridge record at its start values.
void ResetMachine();

// The collections of a desktop machine besides the agent's own buttons.
sim::DeviceSpec KeyboardCollection(const std::string& name);
sim::DeviceSpec MouseCollection(const std::string& name);
// A vendor-defined collection with input, output and feature reports and
// long capability lists: the most a record's tables hold here.
sim::DeviceSpec RichCollection(const std::string& name);
// A collection that announces no reports and no capabilities: its tables stay blank.
sim::DeviceSpec BlankCollection(const std::string& name);

// `count` interfaces: every 8th a consumer-page button collection, the others
// keyboards, mice and vendor-defined collections in turn.
void AddMixedInterfaces(int count);

// The p-th percentile (0..100) of the samples, nearest rank; sorts them.
double Percentile(std::vector<double>& samples, double p);

double Microseconds(Clock::duration duration);

// True when nothing the agent took is still held; `what` names the first thing held.
bool NothingHeld(std::string* what);

}  // namespace bench
