// hid-probe's one run, the same on Windows and on the simulated Windows:
// enumerate as the agent does, print the table and the verdict, optionally
// watch, and release the list.
#pragma once

#include <atomic>
#include <cstdio>

#include "tools/probe/probe_table.h"

namespace probe {

// Returns kExitFound or kExitNoConsumerCollection. With `watch` and at least
// one consumer-page collection present, reads the selected collections until
// `stop_requested` is set (see WatchCollections) or none is left to read.
int RunProbe(bool watch, const std::atomic<bool>& stop_requested, std::FILE* out);

}  // namespace probe
