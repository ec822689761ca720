// A test on the simulated Windows: starts from a fresh machine and ends by
// checking that nothing the agent took is still held.
#pragma once

#include <gtest/gtest.h>

#include "platform/sim/sim_control.h"

inline void ExpectNothingHeld() {
  sim::WaitQuiet();
  const sim::Resources held = sim::Held();
  EXPECT_EQ(held.device_handles, 0) << "device handles still open";
  EXPECT_EQ(held.thread_handles, 0) << "thread handles still open";
  EXPECT_EQ(held.info_sets, 0) << "device information sets not destroyed";
  EXPECT_EQ(held.blocks, 0) << "heap blocks still allocated (" << held.bytes << " bytes)";
  EXPECT_EQ(held.preparsed, 0) << "preparsed data not freed";
  EXPECT_EQ(held.threads, 0) << "threads still running";
  EXPECT_EQ(held.bad_frees, 0) << "something released that was not held";
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
};
