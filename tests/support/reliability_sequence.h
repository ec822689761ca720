// Randomised operation sequences: seeded, reproducible runs of the scenario
// simulator's commands (devices coming and going with every failure step,
// reports with random bytes, notifications, the target window and another
// agent opening and closing, faults) against the whole agent, with the
// invariants checked after every step. A failing sequence is shrunk to the
// shortest one that still fails the same way and printed as a scenario file.
// Implemented in tests/reliability/sequence_*.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "simulator/scenario.h"

namespace reliability {

using Sequence = std::vector<scenario::Command>;

// The same seed always gives the same sequence.
Sequence GenerateSequence(std::uint64_t seed);

// The sequence as a scenario file that button-agent-sim reads.
std::string SequenceText(const Sequence& sequence);

// Drops the commands that no longer make sense once others were removed: a
// device used before it is defined or unplugged twice, a window closed that
// is not open, a second start.
Sequence Normalized(const Sequence& sequence);

struct SequenceFailure {
  std::string kind;    // which invariant broke; shrinking keeps it
  std::string detail;  // the step and what was seen
  bool failed() const { return !kind.empty(); }
};

// What a run made the agent do, to tell whether sequences exercise it at all.
struct SequenceStats {
  int steps = 0;
  int reports = 0;
  int posted = 0;           // button messages that target windows received
  int enumerations = 0;     // device information sets built
  int threads_created = 0;  // readers started (the agent's own thread not counted)
};

// Runs the sequence on a fresh machine, checking after every step that no
// code outside the tables was posted, that a report on a running reader's
// collection posted at most one message (and exactly one where nothing could
// lose it), that nothing is posted without a report, that the bridge is
// consistent, and at the end that nothing is left held.
SequenceFailure RunSequence(const Sequence& sequence, SequenceStats* stats = nullptr);

// The shortest sequence found (by removing commands, then simplifying them)
// for which `still_fails` holds; stops after `most_tries` attempts.
Sequence ShrinkSequence(const Sequence& failing, const std::function<bool(const Sequence&)>& still_fails,
                        int most_tries);

}  // namespace reliability
