// hid-probe --watch: reads the collections that the agent's readers would
// read, as they read them, and prints every report with the ButtonCode the
// agent would post for it.
#pragma once

#include <atomic>
#include <cstdio>

#include "tools/probe/probe_table.h"

namespace probe {

// Reads until `stop_requested` is set or every read has ended, then cancels
// the reads still pending and waits until each has completed, so that the
// caller may release the list. All reads run on the calling thread: whoever
// sets `stop_requested` from another thread then queues an APC to this one
// (WakeWatch will do) so that its alertable wait ends.
void WatchCollections(const DeviceList& list, const Selection& selection,
                      const std::atomic<bool>& stop_requested, std::FILE* out);

// An APC that does nothing: running it ends the watch's alertable wait.
void CALLBACK WakeWatch(ULONG_PTR unused);

}  // namespace probe
