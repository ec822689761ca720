// Fault sweeps through the whole agent: AgentMain runs as the simulated
// process, and the situations reach it as Windows would, through its start,
// device-change announcements and the destruction of its window.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "support/fault_sweep.h"
#include "support/sanitizer_scale.h"

namespace reliability {
namespace {

std::vector<Situation> AgentSituations() {
  std::vector<Situation> situations;
  auto open_target = [](SweepWorld& world) {
    world.target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  };
  // The agent attaches on creation; what it found must be settled before the
  // machine changes again.
  auto start_and_settle = [](SweepWorld& world) {
    world.Start();
    sim::WaitQuiet();
  };

  Situation start;
  start.name = "Start";
  start.agent = true;
  start.set_up = [=](SweepWorld& world) {
    open_target(world);
    AddRoster(world, 3);
  };
  start.act = [](SweepWorld& world) { world.Start(); };
  situations.push_back(start);

  Situation second;
  second.name = "StartBesideAnotherAgent";
  second.agent = true;
  second.act_ends_agent = true;
  second.set_up = [=](SweepWorld& world) {
    world.other_agents.push_back(sim::CreateForeignWindow(kAgentClassName, kAgentWindowTitle));
    open_target(world);
    AddRoster(world, 3);
  };
  second.act = [](SweepWorld& world) { world.Start(); };
  situations.push_back(second);

  Situation removal;
  removal.name = "RemovalReattaches";
  removal.agent = true;
  removal.set_up = [=](SweepWorld& world) {
    open_target(world);
    AddRoster(world, 4);
    start_and_settle(world);
  };
  removal.act = [](SweepWorld& world) {
    world.Remove(world.clean[1]);
    sim::AnnounceDeviceChange(DBT_DEVICEREMOVECOMPLETE);
  };
  situations.push_back(removal);

  Situation arrival_stopped;
  arrival_stopped.name = "ArrivalWhileStopped";
  arrival_stopped.agent = true;
  arrival_stopped.set_up = [=](SweepWorld& world) {
    open_target(world);
    world.AddKeyboard("early");
    start_and_settle(world);  // finds no consumer-page collection
    AddRoster(world, 3);
  };
  arrival_stopped.act = [](SweepWorld&) { sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL); };
  situations.push_back(arrival_stopped);

  // The agent starts before the target application.
  Situation target_later;
  target_later.name = "ArrivalAfterTheTargetOpened";
  target_later.agent = true;
  target_later.set_up = [=](SweepWorld& world) {
    AddRoster(world, 3);
    start_and_settle(world);
    open_target(world);
  };
  target_later.act = [](SweepWorld&) { sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL); };
  situations.push_back(target_later);

  // The device announces its collections one by one.
  Situation arrival_short;
  arrival_short.name = "ArrivalWhileRunningShort";
  arrival_short.agent = true;
  arrival_short.set_up = [=](SweepWorld& world) {
    open_target(world);
    world.AddClean("early");
    start_and_settle(world);
    AddRoster(world, 2);
  };
  arrival_short.act = [](SweepWorld&) { sim::AnnounceDeviceChange(DBT_DEVICEARRIVAL); };
  situations.push_back(arrival_short);

  // Reads re-armed and codes posted while attached.
  Situation presses;
  presses.name = "PressEachButton";
  presses.agent = true;
  presses.set_up = [=](SweepWorld& world) {
    open_target(world);
    AddRoster(world, 3);
    start_and_settle(world);
  };
  presses.act = [](SweepWorld& world) { PressEachCollection(world); };
  situations.push_back(presses);

  Situation detach;
  detach.name = "Detach";
  detach.agent = true;
  detach.act_ends_agent = true;
  detach.set_up = [=](SweepWorld& world) {
    open_target(world);
    AddRoster(world, 3);
    start_and_settle(world);
  };
  detach.act = [](SweepWorld&) { sim::DestroyWindowFromSystem(AgentWindow()); };
  situations.push_back(detach);
  return situations;
}

constexpr PointFamily kAgentFamilies[] = {
    PointFamily::kAlloc,        PointFamily::kThread,      PointFamily::kRead,
    PointFamily::kPost,         PointFamily::kGetMessage,  PointFamily::kRegisterClass,
    PointFamily::kCreateWindow, PointFamily::kDeviceSteps, PointFamily::kEnumeration,
};

class AgentSweep : public ::testing::TestWithParam<std::tuple<int, PointFamily>> {};

TEST_P(AgentSweep, EveryFailurePointLeavesTheAgentConsistentAndRecoverable) {
  const Situation situation = AgentSituations()[static_cast<std::size_t>(std::get<0>(GetParam()))];
  const PointFamily family = std::get<1>(GetParam());
  const SweepResult result = Sweep(situation, family);
  std::printf("[sweep] agent %s / %s: %d runs (%s build)\n", situation.name.c_str(), FamilyName(family),
              result.runs, BuildName());
  EXPECT_TRUE(result.outcome.Passed()) << result.outcome.failure;
}

INSTANTIATE_TEST_SUITE_P(Situations, AgentSweep,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(AgentSituations().size())),
                                            ::testing::ValuesIn(kAgentFamilies)),
                         [](const ::testing::TestParamInfo<AgentSweep::ParamType>& info) {
                           return AgentSituations()[static_cast<std::size_t>(std::get<0>(info.param))].name +
                                  "_" + FamilyName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace reliability
