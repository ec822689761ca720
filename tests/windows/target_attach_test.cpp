// With the target window present before start, the agent attaches: it
// enumerates and opens the platform's real HID collections, finds no
// consumer-page collection among them, stays up and posts nothing.
#include <cstdio>
#include <string>
#include <vector>

#include "agent_process.h"
#include "check.h"
#include "platform_hid.h"
#include "target_window.h"

using namespace wintest;

namespace {

constexpr USHORT kConsumerPage = 0x0C;

// Lists the collections the agent will meet and counts the consumer-page ones.
int ConsumerCollections(const std::vector<std::string>& paths) {
  int consumer = 0;
  for (const std::string& path : paths) {
    PlatformCollection collection = OpenPlatformCollection(path);
    printf("collection %s: %s, usage page 0x%04X usage 0x%04X\n", path.c_str(),
           collection.has_caps ? "opened" : "not opened", collection.caps.UsagePage, collection.caps.Usage);
    if (collection.has_caps && collection.caps.UsagePage == kConsumerPage) ++consumer;
    ClosePlatformCollection(collection);
  }
  return consumer;
}

}  // namespace

int main(int argc, char** argv) {
  const char* kProgram = "target_attach_test";
  if (argc != 2) {
    fprintf(stderr, "usage: %s AGENT.exe\n", kProgram);
    return 2;
  }
  std::vector<std::string> paths;
  if (!WaitForSettledHidPaths(&paths)) {
    return SkipProgram(kProgram,
                       "the platform lists no HID collection, so the agent would attach to nothing");
  }
  if (int consumer = ConsumerCollections(paths); consumer != 0) {
    return SkipProgram(
        kProgram, "%d consumer-page collections are present; this test needs a machine without", consumer);
  }

  SetCheckContext("target window present before the agent starts, %lu HID collections",
                  static_cast<unsigned long>(paths.size()));
  if (!CheckNoAgentRunning()) return CheckReport(kProgram);
  TargetWindow target;
  AgentProcess agent;
  HWND window = nullptr;
  if (StartAgentAndFindWindow(argv[1], agent, &window)) {
    // The attach ran during window creation, before the agent's loop handled
    // the message sent since: anything it posted is queued here by now.
    CHECK(target.TakeButtonMessages() == 0,
          "the agent posted button messages with no consumer collection present");
    CHECK(IsRunning(agent), "the agent ended after attaching");
    EndAgentWith(agent, window, WM_CLOSE);
    CHECK(target.TakeButtonMessages() == 0, "the agent posted button messages while ending");
  }
  return CheckReport(kProgram);
}
