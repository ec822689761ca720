// Thousands of seeded random operation sequences against the whole agent. A
// failing seed is shrunk to the shortest sequence that fails the same way and
// printed as a scenario file for button-agent-sim.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/isolated_run.h"
#include "support/reliability_sequence.h"
#include "support/sanitizer_scale.h"
#include "support/sim_fixture.h"

namespace reliability {
namespace {

using scenario::CommandKind;

// Sequences per shard: ten thousand in all in the plain build, fewer under the
// sanitizers. Override with RELIABILITY_SEQUENCES (per shard) and
// RELIABILITY_FIRST_SEED to explore further.
constexpr int kShards = 4;
constexpr int kSequencesPerShard = ScaledCount(2500, 400, 250);
// A sequence takes milliseconds; one that makes no progress for this long hangs.
constexpr unsigned kSecondsPerSequence = 30;
constexpr unsigned kSecondsPerShrinkTry = 10;
constexpr int kMostShrinkTries = 400;
// Shrinking stops here with the shortest sequence found so far, so that a
// failure is still reported within the test's time limit.
constexpr auto kShrinkBudget = std::chrono::seconds(45);

long long FromEnvironment(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  return text == nullptr || *text == '\0' ? fallback : std::atoll(text);
}

std::string FailureText(const SequenceFailure& failure) {
  return failure.kind + "|" + failure.detail;
}

std::string KindOf(const IsolatedOutcome& outcome) {
  switch (outcome.end) {
    case IsolatedOutcome::End::kFailed:
      return outcome.failure.substr(0, outcome.failure.find('|'));
    case IsolatedOutcome::End::kCrashed:
      return "crash";
    case IsolatedOutcome::End::kHung:
      return "hang";
    case IsolatedOutcome::End::kPassed:
      break;
  }
  return "";
}

std::string Readable(const IsolatedOutcome& outcome) {
  if (outcome.end != IsolatedOutcome::End::kFailed) return outcome.Describe();
  std::string text = outcome.failure;
  const std::size_t bar = text.find('|');
  if (bar != std::string::npos) text = text.substr(0, bar) + ": " + text.substr(bar + 1);
  return text;
}

IsolatedOutcome RunOne(const Sequence& sequence, unsigned seconds) {
  return RunIsolated(seconds, [&](const IsolatedChild&) {
    const SequenceFailure failure = RunSequence(sequence);
    return failure.failed() ? FailureText(failure) : std::string();
  });
}

// Shrinks the sequence of a failing seed and says all a reader needs to
// reproduce it.
std::string Investigate(std::uint64_t seed, const IsolatedOutcome& first) {
  const Sequence original = GenerateSequence(seed);
  const std::string kind = KindOf(first);
  const auto deadline = std::chrono::steady_clock::now() + kShrinkBudget;
  const Sequence shortest = ShrinkSequence(
      original,
      [&](const Sequence& candidate) {
        return std::chrono::steady_clock::now() < deadline &&
               KindOf(RunOne(candidate, kSecondsPerShrinkTry)) == kind;
      },
      kMostShrinkTries);
  const IsolatedOutcome again = RunOne(shortest, kSecondsPerSequence);
  return "sequence seed " + std::to_string(seed) + " failed: " + Readable(first) + "\n" +
         "shortest sequence found (" + std::to_string(shortest.size()) + " of " +
         std::to_string(original.size()) + " commands) fails with: " + Readable(again) + "\n" +
         "---- scenario (button-agent-sim FILE) ----\n" + SequenceText(shortest) +
         "---- end (rerun the seed with RELIABILITY_FIRST_SEED=" + std::to_string(seed) +
         " RELIABILITY_SEQUENCES=1 --gtest_filter=Shards/Sequences.*/0) ----";
}

TEST(SequenceText, IsAScenarioTheSimulatorReadsBack) {
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    const Sequence sequence = GenerateSequence(seed);
    ASSERT_EQ(SequenceText(GenerateSequence(seed)), SequenceText(sequence)) << "seed " << seed;
    const std::string text = SequenceText(sequence);
    const scenario::ParseOutcome parsed = scenario::ParseScenario(text, "sequence");
    ASSERT_EQ(parsed.error, "") << "seed " << seed << "\n" << text;
    EXPECT_EQ(SequenceText(parsed.scenario.commands), text) << "seed " << seed;
    EXPECT_EQ(Normalized(sequence).size(), sequence.size()) << "seed " << seed;
  }
}

// A guard against a generator that drifts into sequences where the agent has
// nothing to do.
TEST(SequenceGeneration, KeepsTheAgentBusy) {
  constexpr int kSeeds = 100;
  SequenceStats stats;
  for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
    const SequenceFailure failure = RunSequence(GenerateSequence(seed), &stats);
    ASSERT_FALSE(failure.failed()) << "seed " << seed << ": " << failure.kind << ": " << failure.detail;
  }
  std::printf("[sequences] %d seeds: %d steps, %d reports, %d button messages, %d enumerations, %d readers\n",
              kSeeds, stats.steps, stats.reports, stats.posted, stats.enumerations, stats.threads_created);
  EXPECT_GT(stats.posted, stats.reports / 6);
  EXPECT_GT(stats.enumerations, 2 * kSeeds);
  EXPECT_GT(stats.threads_created, 3 * kSeeds);
  ExpectNothingHeld();
}

// The shrinker alone, on a stand-in failure: a refused post armed before a
// report on a consumer-page collection.
TEST(SequenceShrinking, FindsTheFewCommandsThatMatter) {
  auto fails = [](const Sequence& sequence) {
    std::vector<std::string> consumer;
    bool post_refused = false;
    for (const scenario::Command& command : sequence) {
      if (command.kind == CommandKind::kDevice && command.usage_page == 0x0C)
        consumer.push_back(command.device);
      if (command.kind == CommandKind::kFail && command.fault == sim::Fault::Post) post_refused = true;
      if (command.kind == CommandKind::kReport && post_refused &&
          std::find(consumer.begin(), consumer.end(), command.device) != consumer.end()) {
        return true;
      }
    }
    return false;
  };
  int shrunk = 0;
  for (std::uint64_t seed = 1; seed <= 400 && shrunk < 20; ++seed) {
    const Sequence sequence = GenerateSequence(seed);
    if (!fails(sequence)) continue;
    ++shrunk;
    const Sequence shortest = ShrinkSequence(sequence, fails, kMostShrinkTries);
    // The device and the fault in either order, then the report, all plain.
    ASSERT_EQ(shortest.size(), 3u) << "seed " << seed << "\n" << SequenceText(shortest);
    const std::size_t device = shortest[0].kind == CommandKind::kDevice ? 0 : 1;
    EXPECT_EQ(shortest[device].kind, CommandKind::kDevice);
    EXPECT_EQ(shortest[device].open_fault, sim::OpenFault::None);
    EXPECT_EQ(shortest[1 - device].kind, CommandKind::kFail);
    EXPECT_EQ(shortest[1 - device].nth, 1);
    EXPECT_EQ(shortest[2].kind, CommandKind::kReport);
    EXPECT_EQ(SequenceText({shortest[2]}),
              "report " + shortest[device].device + " 00 " +
                  SequenceText({shortest[2]}).substr(SequenceText({shortest[2]}).size() - 9, 2) + " 00 00\n");
  }
  EXPECT_GT(shrunk, 5);
}

class Sequences : public ::testing::TestWithParam<int> {};

TEST_P(Sequences, EveryStepKeepsTheInvariants) {
  const long long count = FromEnvironment("RELIABILITY_SEQUENCES", kSequencesPerShard);
  const long long first =
      FromEnvironment("RELIABILITY_FIRST_SEED", 1) + static_cast<long long>(GetParam()) * count;
  const IsolatedOutcome outcome = RunIsolated(kSecondsPerSequence, [&](const IsolatedChild& child) {
    for (long long seed = first; seed < first + count; ++seed) {
      child.Mark(seed);
      const SequenceFailure failure = RunSequence(GenerateSequence(static_cast<std::uint64_t>(seed)));
      if (failure.failed()) return FailureText(failure);
    }
    return std::string();
  });
  std::printf("[sequences] seeds %lld to %lld: %s (%s build)\n", first, first + count - 1,
              outcome.Passed() ? "all passed" : "failed", BuildName());
  if (outcome.Passed()) return;
  ADD_FAILURE() << Investigate(static_cast<std::uint64_t>(outcome.last_mark), outcome);
}

INSTANTIATE_TEST_SUITE_P(Shards, Sequences, ::testing::Range(0, kShards));

}  // namespace
}  // namespace reliability
