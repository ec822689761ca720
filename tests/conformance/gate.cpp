#include "gate.h"

#include "harness.h"

namespace {

void NTAPI Open(ULONG_PTR gate) {
  reinterpret_cast<Gate*>(gate)->open.store(true);
}

DWORD WINAPI SleepUntilOpen(LPVOID parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  // An APC queued before the thread runs may be run as it starts; the flag
  // tells that apart from one still to come.
  while (!gate->open.load()) SleepEx(INFINITE, TRUE);
  return 0;
}

}  // namespace

bool StartGate(Gate* gate) {
  gate->open.store(false);
  gate->thread = CreateThread(nullptr, 0, SleepUntilOpen, gate, 0, nullptr);
  return CHECK(gate->thread != nullptr, "CreateThread failed for a gate, error %lu",
               static_cast<unsigned long>(GetLastError()));
}

bool OpenGate(Gate* gate) {
  return CHECK(QueueUserAPC(Open, gate->thread, reinterpret_cast<ULONG_PTR>(gate)) != 0,
               "QueueUserAPC to a gate failed") &&
         CHECK(WaitForSingleObject(gate->thread, INFINITE) == WAIT_OBJECT_0, "a gate did not end");
}

void CloseGate(Gate* gate) {
  if (gate->thread != nullptr) CloseHandle(gate->thread);
  gate->thread = nullptr;
}
