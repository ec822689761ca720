// Device-change notifications sent to the agent's window, as the system sends
// them: arrival, removal and other events are each handled with result 0, and
// the agent keeps its one window, keeps running, posts nothing, and still ends
// cleanly afterwards; whether or not the target window exists.
#include <windows.h>
// After windows.h, which declares what these use.
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "agent_process.h"
#include "check.h"
#include "target_window.h"

using namespace wintest;

namespace {

struct Event {
  const char* name;
  WPARAM event;
  bool described;  // the system passes a device description with events that have one
};

// One after another to the same agent: the order makes removal meet an
// attached bridge when the target window exists.
const Event kEvents[] = {
    {"device arrival", DBT_DEVICEARRIVAL, true},
    {"device removal complete", DBT_DEVICEREMOVECOMPLETE, true},
    {"device arrival again", DBT_DEVICEARRIVAL, true},
    {"device nodes changed (another event)", DBT_DEVNODES_CHANGED, false},
    {"query remove (another event)", DBT_DEVICEQUERYREMOVE, true},
    {"device removal complete again", DBT_DEVICEREMOVECOMPLETE, true},
};

struct Scenario {
  const char* name;
  bool target_present;
};

const Scenario kScenarios[] = {
    {"no target window", false},
    {"target window present", true},
};

// A HID interface description as the system gives it with an interface event.
std::vector<BYTE> HidInterfaceDescription() {
  const char kName[] = "\\\\?\\hid#vid_0000&pid_0000#0&0000&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  std::vector<BYTE> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + sizeof kName);
  auto* description = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buffer.data());
  description->dbcc_size = static_cast<DWORD>(buffer.size());
  description->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&description->dbcc_classguid);
  memcpy(description->dbcc_name, kName, sizeof kName);
  return buffer;
}

void RunScenario(const std::string& program, const Scenario& scenario) {
  SetCheckContext("%s: start", scenario.name);
  if (!CheckNoAgentRunning()) return;
  std::unique_ptr<TargetWindow> target;
  if (scenario.target_present) target = std::make_unique<TargetWindow>();
  AgentProcess agent;
  HWND window = nullptr;
  if (!StartAgentAndFindWindow(program, agent, &window)) return;

  std::vector<BYTE> description = HidInterfaceDescription();
  for (const Event& event : kEvents) {
    SetCheckContext("%s: %s (0x%04X)", scenario.name, event.name, static_cast<unsigned>(event.event));
    LPARAM l_param = event.described ? reinterpret_cast<LPARAM>(description.data()) : 0;
    LRESULT result = -1;
    if (!SendWithin(window, WM_DEVICECHANGE, event.event, l_param, &result)) {
      CHECK(IsRunning(agent), "the agent ended");
      return;
    }
    CHECK(result == 0, "WM_DEVICECHANGE returned %ld, expected 0", static_cast<long>(result));
    if (!CHECK(IsRunning(agent), "the agent ended")) return;
    CHECK(FindAgentWindow() == window, "the agent's window is no longer found");
    CHECK(CountWindows(kAgentClass, kAgentTitle) == 1, "%d agent windows, expected one",
          CountWindows(kAgentClass, kAgentTitle));
    if (target) CHECK(target->TakeButtonMessages() == 0, "button messages posted with no button pressed");
  }

  SetCheckContext("%s: end", scenario.name);
  EndAgentWith(agent, window, WM_CLOSE);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: device_change_test AGENT.exe\n");
    return 2;
  }
  for (const Scenario& scenario : kScenarios) RunScenario(argv[1], scenario);
  return CheckReport("device_change_test");
}
