// A gate: a thread that sleeps alertably until an APC opens it, then ends.
// Cases use it as a thread that runs exactly as long as they need, and to
// order work between threads without sleeping: a thread that waits for the
// gate to end knows that everything done before the gate was opened is done.
#pragma once

#include <atomic>

#include "platform/windows_api.h"

struct Gate {
  HANDLE thread = nullptr;
  std::atomic<bool> open{false};
};

// Starts the gate's thread; false (with a failed check) if it cannot start.
bool StartGate(Gate* gate);
// Opens the gate and waits until its thread has ended.
bool OpenGate(Gate* gate);
// Closes the gate's thread handle, once nothing waits on it any more.
void CloseGate(Gate* gate);
