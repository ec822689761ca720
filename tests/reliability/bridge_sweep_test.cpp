// Fault sweeps through the bridge itself: AttachBridge and DetachBridge called
// from the test's thread, which plays the agent's main thread.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "support/fault_sweep.h"
#include "support/sanitizer_scale.h"

namespace reliability {
namespace {

std::vector<Situation> BridgeSituations() {
  std::vector<Situation> situations;
  auto open_target = [](SweepWorld& world) {
    world.target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  };

  Situation attach;
  attach.name = "Attach";
  attach.set_up = [=](SweepWorld& world) {
    open_target(world);
    AddRoster(world, 3);
  };
  attach.act = [](SweepWorld& world) { AttachBridge(world.target); };
  situations.push_back(attach);

  // What the agent does on a removal while the target exists.
  Situation removal;
  removal.name = "ReattachOnRemoval";
  removal.set_up = [=](SweepWorld& world) {
    open_target(world);
    AddRoster(world, 4);
    AttachBridge(world.target);
  };
  removal.act = [](SweepWorld& world) {
    world.Remove(world.clean[1]);
    DetachBridge();
    AttachBridge(world.target);
  };
  situations.push_back(removal);

  Situation arrival_stopped;
  arrival_stopped.name = "ArrivalWhileStopped";
  arrival_stopped.set_up = [=](SweepWorld& world) {
    open_target(world);
    world.AddKeyboard("early");
    AttachBridge(world.target);  // finds no consumer-page collection
    AddRoster(world, 3);
  };
  arrival_stopped.act = [](SweepWorld& world) { AttachBridge(world.target); };
  situations.push_back(arrival_stopped);

  // The attach is refused and must change nothing.
  Situation arrival_running;
  arrival_running.name = "ArrivalWhileRunning";
  arrival_running.set_up = [=](SweepWorld& world) {
    open_target(world);
    world.AddClean("early");
    AttachBridge(world.target);
    AddRoster(world, 2);
  };
  arrival_running.act = [](SweepWorld& world) { AttachBridge(world.target); };
  situations.push_back(arrival_running);

  // Reads re-armed and codes posted while attached.
  Situation presses;
  presses.name = "PressEachButton";
  presses.set_up = [=](SweepWorld& world) {
    open_target(world);
    AddRoster(world, 3);
    AttachBridge(world.target);
  };
  presses.act = [](SweepWorld& world) { PressEachCollection(world); };
  situations.push_back(presses);

  Situation detach;
  detach.name = "Detach";
  detach.set_up = [=](SweepWorld& world) {
    open_target(world);
    AddRoster(world, 3);
    AttachBridge(world.target);
  };
  detach.act = [](SweepWorld&) { DetachBridge(); };
  situations.push_back(detach);
  return situations;
}

constexpr PointFamily kBridgeFamilies[] = {
    PointFamily::kAlloc, PointFamily::kThread,      PointFamily::kRead,
    PointFamily::kPost,  PointFamily::kDeviceSteps, PointFamily::kEnumeration,
};

class BridgeSweep : public ::testing::TestWithParam<std::tuple<int, PointFamily>> {};

TEST_P(BridgeSweep, EveryFailurePointLeavesTheBridgeConsistentAndRecoverable) {
  const Situation situation = BridgeSituations()[static_cast<std::size_t>(std::get<0>(GetParam()))];
  const PointFamily family = std::get<1>(GetParam());
  const SweepResult result = Sweep(situation, family);
  std::printf("[sweep] bridge %s / %s: %d runs (%s build)\n", situation.name.c_str(), FamilyName(family),
              result.runs, BuildName());
  EXPECT_TRUE(result.outcome.Passed()) << result.outcome.failure;
}

INSTANTIATE_TEST_SUITE_P(Situations, BridgeSweep,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(BridgeSituations().size())),
                                            ::testing::ValuesIn(kBridgeFamilies)),
                         [](const ::testing::TestParamInfo<BridgeSweep::ParamType>& info) {
                           return BridgeSituations()[static_cast<std::size_t>(std::get<0>(info.param))].name +
                                  "_" + FamilyName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace reliability
