// The child-process runner that the sweeps, the sequences and the soak rely
// on to turn a crash or a hang into a failure that names where it happened.
#include "support/isolated_run.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace {

TEST(IsolatedRun, TellsPassingFailingCrashingAndHangingChildrenApart) {
  const IsolatedOutcome passed = RunIsolated(10, [](const IsolatedChild&) { return std::string(); });
  EXPECT_EQ(passed.end, IsolatedOutcome::End::kPassed);

  const IsolatedOutcome failed = RunIsolated(10, [](const IsolatedChild& child) {
    child.Mark(7, "point seven");
    return std::string("what broke");
  });
  EXPECT_EQ(failed.end, IsolatedOutcome::End::kFailed);
  EXPECT_EQ(failed.failure, "what broke");
  EXPECT_EQ(failed.last_mark, 7);
  EXPECT_EQ(failed.last_note, "point seven");

  const IsolatedOutcome crashed = RunIsolated(10, [](const IsolatedChild& child) -> std::string {
    child.Mark(1, "first");
    child.Mark(2, "second");
    std::abort();
  });
  EXPECT_EQ(crashed.end, IsolatedOutcome::End::kCrashed);
  EXPECT_EQ(crashed.last_mark, 2);
  EXPECT_EQ(crashed.last_note, "second");

  // The alarm ends a child that makes no progress; one second is the shortest.
  const IsolatedOutcome hung = RunIsolated(1, [](const IsolatedChild& child) -> std::string {
    child.Mark(3, "stuck");
    for (;;) pause();
  });
  EXPECT_EQ(hung.end, IsolatedOutcome::End::kHung);
  EXPECT_EQ(hung.last_note, "stuck");
}

}  // namespace
