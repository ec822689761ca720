// Exhaustive fault sweeps: a situation (attach, re-attach on removal, arrival,
// detach ...) is run once per failure point of one family (the 1st, 2nd, ...
// allocation; each thread creation; each read; each step of opening each
// device ...) until a run meets no failure point. After each run: the bridge
// is stopped with nothing held or running with exactly the readers its
// selection calls for; with the fault gone, a later arrival attaches fully and
// every collection posts its code; when the agent ends nothing is left held.
// Each sweep runs in a child process (isolated_run.h), so that a crash, a
// sanitizer report or a hang names the failure point it met.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "support/bridge_fixture.h"
#include "support/isolated_run.h"
#include "support/reliability_checks.h"

namespace reliability {

enum class PointFamily {
  kAlloc,          // LocalAlloc and LocalReAlloc
  kThread,         // CreateThread
  kRead,           // ReadFileEx
  kPost,           // PostMessageA
  kGetMessage,     // GetMessageA
  kRegisterClass,  // RegisterClassA
  kCreateWindow,   // CreateWindowExA
  kDeviceSteps,    // each step of opening each device, one device and step per run
  kEnumeration,    // the device information set cannot be built; the enumeration never ends
};

inline const char* FamilyName(PointFamily family) {
  switch (family) {
    case PointFamily::kAlloc:
      return "Alloc";
    case PointFamily::kThread:
      return "Thread";
    case PointFamily::kRead:
      return "Read";
    case PointFamily::kPost:
      return "Post";
    case PointFamily::kGetMessage:
      return "GetMessage";
    case PointFamily::kRegisterClass:
      return "RegisterClass";
    case PointFamily::kCreateWindow:
      return "CreateWindow";
    case PointFamily::kDeviceSteps:
      return "DeviceSteps";
    case PointFamily::kEnumeration:
      return "Enumeration";
  }
  return "?";
}

// For test names and messages.
inline void PrintTo(PointFamily family, std::ostream* out) {
  *out << FamilyName(family);
}

inline bool IsCounted(PointFamily family) {
  return family != PointFamily::kDeviceSteps && family != PointFamily::kEnumeration;
}

inline sim::Fault CountedFault(PointFamily family) {
  switch (family) {
    case PointFamily::kThread:
      return sim::Fault::Thread;
    case PointFamily::kRead:
      return sim::Fault::Read;
    case PointFamily::kPost:
      return sim::Fault::Post;
    case PointFamily::kGetMessage:
      return sim::Fault::GetMessage;
    case PointFamily::kRegisterClass:
      return sim::Fault::RegisterClass;
    case PointFamily::kCreateWindow:
      return sim::Fault::CreateWindow;
    default:
      return sim::Fault::Alloc;
  }
}

inline const char* StepName(sim::OpenFault step) {
  switch (step) {
    case sim::OpenFault::Enum:
      return "enumeration";
    case sim::OpenFault::Detail:
      return "interface detail";
    case sim::OpenFault::DetailSize:
      return "interface detail size";
    case sim::OpenFault::Open:
      return "CreateFileA";
    case sim::OpenFault::Preparsed:
      return "preparsed data";
    case sim::OpenFault::Attributes:
      return "attributes";
    case sim::OpenFault::Caps:
      return "capabilities";
    case sim::OpenFault::None:
      break;
  }
  return "none";
}

inline constexpr sim::OpenFault kOpenSteps[] = {
    sim::OpenFault::Enum,      sim::OpenFault::Detail,     sim::OpenFault::DetailSize, sim::OpenFault::Open,
    sim::OpenFault::Preparsed, sim::OpenFault::Attributes, sim::OpenFault::Caps,
};

struct FailurePoint {
  PointFamily family = PointFamily::kAlloc;
  int nth = 0;                                 // counted families: the nth call from arming fails
  sim::DeviceId device = 0;                    // kDeviceSteps
  std::string device_name;                     // kDeviceSteps
  sim::OpenFault step = sim::OpenFault::None;  // kDeviceSteps
  bool class_devs_fail = false;                // kEnumeration: else the enumeration never ends

  std::string Name() const {
    if (IsCounted(family)) return std::string(FamilyName(family)) + " call #" + std::to_string(nth);
    if (family == PointFamily::kDeviceSteps)
      return std::string(StepName(step)) + " of device '" + device_name + "'";
    return class_devs_fail ? "device information set refused" : "enumeration never ends";
  }
};

// The machine a situation builds, as the sweep knows it.
struct SweepWorld {
  HWND target = nullptr;
  std::vector<sim::DeviceId> all;    // every device added, in order
  std::vector<std::string> names;    // their names
  std::vector<sim::DeviceId> clean;  // present consumer-page collections without a fault, in order
  std::vector<sim::DeviceId> keyboards;
  bool agent = false;  // the situation runs the whole agent
  bool agent_running = false;
  bool class_registered = false;  // an agent of this machine registered the window class
  std::vector<HWND> other_agents;

  sim::DeviceId Add(const sim::DeviceSpec& device_spec, sim::OpenFault fault = sim::OpenFault::None) {
    const sim::DeviceId id = sim::AddDevice(device_spec, fault);
    all.push_back(id);
    names.push_back(device_spec.name);
    return id;
  }
  void AddClean(const std::string& name) { clean.push_back(Add(sim::ButtonCollection(name))); }
  void AddKeyboard(const std::string& name) { keyboards.push_back(Add(Keyboard(name))); }
  void AddFaulty(const std::string& name, sim::OpenFault fault) { Add(sim::ButtonCollection(name), fault); }
  void Start() {
    StartAgent(class_registered);
    agent_running = true;
  }
  void Remove(sim::DeviceId device) {
    sim::RemoveDevice(device);
    std::erase(clean, device);
    std::erase(keyboards, device);
  }
  std::string NameOf(sim::DeviceId device) const {
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (all[i] == device) return names[i];
    }
    return "?";
  }
};

// Several devices in each state a record can end in: opened consumer-page
// collections (`clean_count` of them, skipping the first `skip_clean`),
// collections whose open stops at each step, twice over, and keyboards. More
// than 16 devices, so that the device array grows twice.
inline void AddRoster(SweepWorld& world, int clean_count, int skip_clean = 0) {
  int clean_added = 0;
  auto clean = [&](const std::string& name) {
    if (clean_added++ >= skip_clean && clean_added <= clean_count) world.AddClean(name);
  };
  auto faulty_set = [&](const std::string& suffix) {
    world.AddFaulty("enum" + suffix, sim::OpenFault::Enum);
    world.AddFaulty("detail" + suffix, sim::OpenFault::Detail);
    world.AddFaulty("size" + suffix, sim::OpenFault::DetailSize);
    clean("buttons" + std::to_string(clean_added));
    world.AddFaulty("open" + suffix, sim::OpenFault::Open);
    world.AddFaulty("preparsed" + suffix, sim::OpenFault::Preparsed);
    world.AddFaulty("attributes" + suffix, sim::OpenFault::Attributes);
    world.AddFaulty("caps" + suffix, sim::OpenFault::Caps);
  };
  world.AddKeyboard("keyboard0");
  clean("buttons0");
  faulty_set("0");
  world.AddKeyboard("keyboard1");
  faulty_set("1");
  clean("buttons3");
}

struct Situation {
  std::string name;
  bool agent = false;  // through AgentMain; otherwise AttachBridge/DetachBridge from the test thread
  bool act_ends_agent = false;
  std::function<void(SweepWorld&)> set_up;  // before the fault is armed
  std::function<void(SweepWorld&)> act;     // under the fault
};

// One press and release on each opened consumer-page collection, each
// handled before the next.
inline void PressEachCollection(const SweepWorld& world) {
  for (sim::DeviceId device : world.clean) {
    sim::SendReport(device, {0x00, 0x01, 0x00, 0x00});
    sim::WaitQuiet();
    sim::SendReport(device, {0x00, 0x00, 0x00, 0x00});
    sim::WaitQuiet();
  }
}

// ---- One run --------------------------------------------------------------

inline void ArmPoint(const FailurePoint& point) {
  switch (point.family) {
    case PointFamily::kDeviceSteps:
      sim::SetDeviceFault(point.device, point.step);
      return;
    case PointFamily::kEnumeration:
      if (point.class_devs_fail) {
        sim::SetClassDevsFails(true);
      } else {
        sim::SetEnumerationNeverEnds(true);
      }
      return;
    default:
      sim::FailNth(CountedFault(point.family), point.nth);
  }
}

inline void DisarmPoint(const FailurePoint& point) {
  switch (point.family) {
    case PointFamily::kDeviceSteps:
      sim::SetDeviceFault(point.device, sim::OpenFault::None);
      return;
    case PointFamily::kEnumeration:
      sim::SetClassDevsFails(false);
      sim::SetEnumerationNeverEnds(false);
      return;
    default:
      sim::FailNth(CountedFault(point.family), 0);
  }
}

inline std::string CheckBridge(const SweepWorld& world, bool readers_may_have_ended) {
  BridgeExpectation expect;
  expect.other_threads = world.agent_running ? 1 : 0;
  expect.readers_may_have_ended = readers_may_have_ended;
  expect.devices = world.all;
  return BridgeInconsistency(expect);
}

// Joins an agent that has ended and judges its exit. `point` is null after
// the recovery, when nothing should end the agent.
inline std::string NoteAgentExit(SweepWorld& world, const Situation& situation, const FailurePoint* point,
                                 bool met) {
  if (!world.agent_running) return "";
  const bool faulted = point != nullptr && met;
  int code = 0;
  if (!sim::ProcessExited(&code)) {
    // A second agent whose own WM_DESTROY could not be posted runs on until
    // its window is destroyed.
    const bool post_refused = faulted && point->family == PointFamily::kPost;
    if (point != nullptr && situation.act_ends_agent && !post_refused) return "the agent did not end";
    return "";
  }
  sim::JoinProcess();
  world.agent_running = false;
  if (faulted && point->family == PointFamily::kRegisterClass) {
    return code == 0
               ? ""
               : "the agent ended with exit code " + std::to_string(code) + " after its class was refused";
  }
  // Without a window or a message queue the agent cannot go on; how it ends is its own choice.
  if (faulted && (point->family == PointFamily::kGetMessage || point->family == PointFamily::kCreateWindow))
    return "";
  if (point == nullptr || !situation.act_ends_agent) {
    return "the agent ended (exit code " + std::to_string(code) + ") though nothing asked it to";
  }
  return code == 0 ? "" : "the agent ended with exit code " + std::to_string(code);
}

// With the fault gone: a device arrival (or, through the bridge, the detach
// and attach that the agent does on a removal; or a fresh agent, when the
// last one ended).
inline void Recover(SweepWorld& world) {
  if (!world.agent) {
    if (bridge_state.stopped.load() == 0) DetachBridge();
    AttachBridge(world.target);
    return;
  }
  if (world.agent_running) {
    sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL);
    return;
  }
  for (HWND other : world.other_agents) sim::DestroyForeignWindow(other);
  world.other_agents.clear();
  StartAgent(world.class_registered);
  world.agent_running = true;
  world.class_registered = true;
}

// Fully attached: the first three clean collections each run a reader that
// posts the code of its slot, and the bridge is in its running state.
inline std::string CheckFullyAttached(const SweepWorld& world) {
  if (bridge_state.stopped.load() != 0) return "after a later arrival the bridge is still stopped";
  if (std::string bad = CheckBridge(world, false); !bad.empty()) return "after a later arrival: " + bad;
  const std::size_t readers = std::min<std::size_t>(world.clean.size(), kReaders);
  if (bridge_state.selected_count < readers) {
    return "after a later arrival only " + std::to_string(bridge_state.selected_count) + " of " +
           std::to_string(world.clean.size()) + " collections are selected";
  }
  // The first collection found goes to ReaderC, the second to ReaderB, the third to ReaderA.
  constexpr Reader kReaderOfPosition[kReaders] = {Reader::kC, Reader::kB, Reader::kA};
  const std::size_t before = sim::ReceivedMessages(world.target).size();
  std::vector<int> expected;
  for (std::size_t i = 0; i < readers; ++i) {
    sim::SendReport(world.clean[i], {0x00, 0x02, 0x00, 0x00});
    sim::WaitQuiet();
    sim::SendReport(world.clean[i], {0x00, 0x00, 0x00, 0x00});
    sim::WaitQuiet();
    expected.push_back(CodeOf(kReaderOfPosition[i], 0x02));
  }
  const std::vector<MSG> received = sim::ReceivedMessages(world.target);
  std::vector<int> got;
  for (std::size_t i = before; i < received.size(); ++i) {
    if (std::string bad = WrongButtonMessage(received[i]); !bad.empty()) return bad;
    got.push_back(static_cast<int>(received[i].lParam >> 16));
  }
  if (got != expected) {
    std::string text = "after a later arrival a press on each collection posted codes {";
    for (int code : got) text += " " + std::to_string(code);
    text += " }, expected {";
    for (int code : expected) text += " " + std::to_string(code);
    return text + " }";
  }
  return "";
}

// Runs the situation under one failure point. `met` tells whether the run met
// the point (for counted families: whether the nth call was made).
inline std::string RunPoint(const Situation& situation, const FailurePoint* point, bool* met) {
  sim::Reset();
  ResetBridgeState();
  SweepWorld world;
  world.agent = situation.agent;
  situation.set_up(world);
  sim::WaitQuiet();
  if (std::string bad = CheckBridge(world, false); !bad.empty()) return "before the fault: " + bad;

  int points_before = 0;
  if (point != nullptr) {
    if (IsCounted(point->family)) points_before = sim::FaultPoints(CountedFault(point->family));
    ArmPoint(*point);
  }
  situation.act(world);
  sim::WaitQuiet();
  *met = point != nullptr && (!IsCounted(point->family) ||
                              sim::FaultPoints(CountedFault(point->family)) - points_before >= point->nth);
  if (world.agent && sim::Calls("RegisterClassA") > 0 &&
      !(point != nullptr && point->family == PointFamily::kRegisterClass && *met)) {
    world.class_registered = true;
  }
  if (std::string bad = NoteAgentExit(world, situation, point, *met); !bad.empty()) return bad;
  const bool reads_refused = point != nullptr && point->family == PointFamily::kRead && *met;
  if (std::string bad = CheckBridge(world, reads_refused); !bad.empty()) return bad;
  if (world.agent && !world.agent_running) {
    if (std::string left = LeftHeld(); !left.empty()) return "after the agent ended: " + left;
  }
  if (point != nullptr) DisarmPoint(*point);

  Recover(world);
  sim::WaitQuiet();
  if (std::string bad = NoteAgentExit(world, situation, nullptr, false); !bad.empty()) return bad;
  if (std::string bad = CheckFullyAttached(world); !bad.empty()) return bad;

  if (world.agent) {
    const int code = EndAgent();
    world.agent_running = false;
    if (code != 0) return "the agent ended with exit code " + std::to_string(code);
  } else if (DetachBridge() != 1) {
    return "the detach at the end found the bridge stopped";
  }
  if (std::string left = LeftHeld(); !left.empty()) return "at the end: " + left;
  return "";
}

// The points of an uncounted family, from the devices that the situation builds.
inline std::vector<FailurePoint> ListedPoints(const Situation& situation, PointFamily family) {
  std::vector<FailurePoint> points;
  if (family == PointFamily::kEnumeration) {
    for (bool class_devs_fail : {true, false}) {
      FailurePoint point;
      point.family = family;
      point.class_devs_fail = class_devs_fail;
      points.push_back(point);
    }
    return points;
  }
  sim::Reset();
  ResetBridgeState();
  SweepWorld world;
  world.agent = situation.agent;
  situation.set_up(world);
  std::vector<sim::DeviceId> devices = world.clean;
  if (!world.keyboards.empty()) devices.push_back(world.keyboards.front());
  for (sim::DeviceId device : devices) {
    for (sim::OpenFault step : kOpenSteps) {
      FailurePoint point;
      point.family = family;
      point.device = device;
      point.device_name = world.NameOf(device);
      point.step = step;
      points.push_back(point);
    }
  }
  if (world.agent && world.agent_running) EndAgent();
  if (bridge_state.stopped.load() == 0) DetachBridge();
  return points;
}

struct SweepResult {
  IsolatedOutcome outcome;
  int runs = 0;  // runs made; for counted families the last one met no failure point
};

// The whole sweep of one family in a child process. A run takes milliseconds;
// one that makes no progress for half a minute hangs.
inline SweepResult Sweep(const Situation& situation, PointFamily family) {
  constexpr unsigned kSecondsPerRun = 30;
  constexpr int kMostPoints = 5000;
  SweepResult result;
  result.outcome = RunIsolated(kSecondsPerRun, [&](const IsolatedChild& child) -> std::string {
    auto run = [&](std::int64_t mark, const FailurePoint& point, bool* met) {
      child.Mark(mark, point.Name());
      if (std::string bad = RunPoint(situation, &point, met); !bad.empty()) {
        return situation.name + ", " + point.Name() + ": " + bad;
      }
      return std::string();
    };
    if (!IsCounted(family)) {
      const std::vector<FailurePoint> listed = ListedPoints(situation, family);
      for (std::size_t i = 0; i < listed.size(); ++i) {
        bool met = false;
        if (std::string bad = run(static_cast<std::int64_t>(i) + 1, listed[i], &met); !bad.empty())
          return bad;
      }
      return "";
    }
    for (int nth = 1; nth <= kMostPoints; ++nth) {
      FailurePoint point;
      point.family = family;
      point.nth = nth;
      bool met = false;
      if (std::string bad = run(nth, point, &met); !bad.empty()) return bad;
      if (!met) return "";
    }
    return situation.name + ": more than " + std::to_string(kMostPoints) + " failure points";
  });
  result.runs = static_cast<int>(std::max<std::int64_t>(result.outcome.last_mark, 0));
  if (result.outcome.end == IsolatedOutcome::End::kCrashed ||
      result.outcome.end == IsolatedOutcome::End::kHung) {
    result.outcome.failure =
        situation.name + ", " + result.outcome.last_note + ": " + result.outcome.Describe();
  }
  return result;
}

}  // namespace reliability
