// Checks that long reliability runs make after every step. Each returns an
// empty string when all is well and otherwise says what is wrong, so that a
// child process (see isolated_run.h) can report it and a shrinking loop can
// compare failures. What the target application may receive is written out
// here from the message format, not taken from the agent.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "bridge/bridge.h"
#include "platform/sim/sim_control.h"

namespace reliability {

constexpr UINT kButtonMessage = 1124;
constexpr int kReaders = 3;

enum class Reader { kA, kB, kC };

// The code a reader gives for a button byte; ReaderB's 0x01 gives 10 or 7,
// reported here as 10. Zero: the reader posts nothing.
inline int CodeOf(Reader reader, std::uint8_t button_byte) {
  struct Row {
    std::uint8_t byte;
    int a, b, c;
  };
  static constexpr Row kRows[] = {
      {0x01, 1, 10, 16}, {0x02, 2, 9, 17}, {0x04, 3, 13, 18},
      {0x08, 4, 14, 0},  {0x10, 5, 0, 0},  {0x20, 6, 0, 0},
  };
  for (const Row& row : kRows) {
    if (row.byte != button_byte) continue;
    return reader == Reader::kA ? row.a : reader == Reader::kB ? row.b : row.c;
  }
  return 0;
}

// True when some reader can post `code` for this button byte.
inline bool ByteCanGiveCode(std::uint8_t button_byte, int code) {
  for (Reader reader : {Reader::kA, Reader::kB, Reader::kC}) {
    const int given = CodeOf(reader, button_byte);
    if (given != 0 && (given == code || (given == 10 && code == 7))) return true;
  }
  return false;
}

// The reader that posts `code`, for codes in the tables.
inline bool ReaderOfCode(int code, Reader* reader) {
  for (int byte = 1; byte <= 0x80; byte <<= 1) {
    for (Reader candidate : {Reader::kA, Reader::kB, Reader::kC}) {
      const int given = CodeOf(candidate, static_cast<std::uint8_t>(byte));
      if (given != 0 && (given == code || (given == 10 && code == 7))) {
        *reader = candidate;
        return true;
      }
    }
  }
  return false;
}

// Empty when the message is a button message with a code from the tables.
inline std::string WrongButtonMessage(const MSG& message) {
  const int code = static_cast<int>(static_cast<std::uintptr_t>(message.lParam) >> 16);
  Reader reader = Reader::kA;
  if (message.message != kButtonMessage || message.wParam != 1 || (message.lParam & 0xFFFF) != 0 ||
      static_cast<std::uint64_t>(message.lParam) > 0xFFFF0000u || !ReaderOfCode(code, &reader)) {
    char text[128];
    std::snprintf(text, sizeof text, "a message outside the tables: message %u wParam 0x%llx lParam 0x%llx",
                  message.message, static_cast<unsigned long long>(message.wParam),
                  static_cast<unsigned long long>(message.lParam));
    return text;
  }
  return "";
}

// What is still held, as ExpectNothingHeld sees it, plus device notification
// registrations; empty when nothing is.
inline std::string LeftHeld() {
  sim::WaitQuiet();
  const sim::Resources held = sim::Held();
  std::string left;
  auto note = [&left](int count, const char* what) {
    if (count != 0) left += (left.empty() ? "" : ", ") + std::to_string(count) + " " + what;
  };
  note(held.device_handles, "device handles");
  note(held.thread_handles, "thread handles");
  note(held.info_sets, "device information sets");
  note(held.blocks, "heap blocks");
  note(held.preparsed, "preparsed data");
  note(held.threads, "threads");
  note(held.notifications, "notification registrations");
  note(held.bad_frees, "releases of something not held");
  return left.empty() ? "" : "still held: " + left;
}

struct BridgeExpectation {
  int other_threads = 0;                // simulated threads that are not readers (the agent's)
  bool readers_may_have_ended = false;  // a read was refused or a collection left
  std::vector<sim::DeviceId> devices;   // every device of the machine, for its pending reads
};

// Empty when the bridge is stopped with no list held, or running with exactly
// the readers that its selection calls for, each with one read pending.
// Call only while the machine is quiet.
inline std::string BridgeInconsistency(const BridgeExpectation& expect) {
  const sim::Resources held = sim::Held();
  int pending = 0;
  for (sim::DeviceId device : expect.devices) pending += sim::PendingReads(device);
  auto wrong = [](const std::string& what) { return "bridge inconsistent: " + what; };

  if (bridge_state.stopped.load() != 0) {
    if (bridge_state.devices != nullptr || bridge_state.device_count != 0) {
      return wrong("stopped with a device list of " + std::to_string(bridge_state.device_count) + " held");
    }
    for (HANDLE thread : bridge_state.reader_threads) {
      if (thread != nullptr) return wrong("stopped with a reader thread handle kept");
    }
    if (held.threads != expect.other_threads) {
      return wrong("stopped with " + std::to_string(held.threads - expect.other_threads) +
                   " readers running");
    }
    if (held.device_handles != 0 || held.thread_handles != 0 || held.info_sets != 0 || held.blocks != 0 ||
        held.preparsed != 0) {
      return wrong("stopped, yet handles, blocks or preparsed data are held");
    }
    if (pending != 0) return wrong("stopped with " + std::to_string(pending) + " reads pending");
    return "";
  }

  // Running: the selection is the consumer-page records in list order.
  if (bridge_state.devices == nullptr) return wrong("running without a device list");
  std::vector<ULONG> consumer;
  int open_handles = 0;
  int preparsed = 0;
  for (ULONG j = 0; j < bridge_state.device_count; ++j) {
    const HidDeviceRecord& record = bridge_state.devices[j];
    if (record.caps.UsagePage == 0x0C) consumer.push_back(j);
    if (record.handle != nullptr && record.handle != INVALID_HANDLE_VALUE) ++open_handles;
    if (record.preparsed != nullptr) ++preparsed;
  }
  const ULONG selected = std::min<ULONG>(static_cast<ULONG>(consumer.size()), kSelectionEntries);
  if (selected == 0) return wrong("running with no consumer-page collection in its list");
  if (bridge_state.selected_count != selected) {
    return wrong("selected_count " + std::to_string(bridge_state.selected_count) + " for " +
                 std::to_string(consumer.size()) + " consumer-page collections");
  }
  for (ULONG k = 0; k < selected; ++k) {
    if (bridge_state.selected[k] != consumer[k]) {
      return wrong("selection entry " + std::to_string(k) + " names record " +
                   std::to_string(bridge_state.selected[k]) + ", not " + std::to_string(consumer[k]));
    }
  }
  // ReaderA, ReaderB and ReaderC read entries 2, 1 and 0.
  constexpr ULONG kSlots[kReaders] = {2, 1, 0};
  int started = 0;
  int alive = 0;
  for (int i = 0; i < kReaders; ++i) {
    const HANDLE thread = bridge_state.reader_threads[i];
    const bool wanted = kSlots[i] < selected;
    if (wanted != (thread != nullptr)) {
      return wrong(std::string("reader ") + "ABC"[i] +
                   (wanted ? " not started" : " started without a collection"));
    }
    if (thread == nullptr) continue;
    ++started;
    DWORD code = 0;
    if (!GetExitCodeThread(thread, &code))
      return wrong(std::string("reader ") + "ABC"[i] + " handle is not valid");
    if (code == STILL_ACTIVE) {
      ++alive;
    } else if (code != 1 || !expect.readers_may_have_ended) {
      return wrong(std::string("reader ") + "ABC"[i] + " ended with exit code " + std::to_string(code));
    }
  }
  if (held.threads != expect.other_threads + alive) {
    return wrong(std::to_string(held.threads - expect.other_threads) + " reader threads run, " +
                 std::to_string(alive) + " expected");
  }
  if (pending != alive) {
    return wrong(std::to_string(pending) + " reads pending for " + std::to_string(alive) +
                 " running readers");
  }
  if (held.thread_handles != started) return wrong("thread handles held other than the readers'");
  if (held.device_handles != open_handles) return wrong("device handles held other than the list's");
  if (held.preparsed != preparsed) return wrong("preparsed data held other than the list's");
  if (held.info_sets != 0) return wrong("a device information set is left after the enumeration");
  return "";
}

// ---- The agent as a process --------------------------------------------

inline HINSTANCE AgentInstance() {
  return reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x00400000));
}

// Starts AgentMain on the simulated machine. The machine keeps the window
// class of an earlier agent in the same test, as a previous instance would.
inline void StartAgent(bool class_already_registered) {
  HINSTANCE previous = class_already_registered ? AgentInstance() : nullptr;
  sim::StartProcess([previous] {
    static char command_line[] = "";
    return AgentMain(AgentInstance(), previous, command_line, 10);
  });
}

inline HWND AgentWindow() {
  const std::vector<HWND> windows = sim::ProcessWindows();
  return windows.empty() ? nullptr : windows.front();
}

// Ends the agent as the system would (destroying its window) and returns its
// exit code; an agent that already ended is only joined.
inline int EndAgent() {
  if (!sim::ProcessExited(nullptr)) {
    if (HWND window = AgentWindow()) sim::DestroyWindowFromSystem(window);
  }
  return sim::JoinProcess();
}

}  // namespace reliability
