// Shrinking a failing sequence: take out ever smaller runs of commands while
// the failure stays, then make the commands left as plain as they can be.
#include <algorithm>

#include "support/reliability_sequence.h"

namespace reliability {
namespace {

using scenario::Command;
using scenario::CommandKind;

class Shrinker {
 public:
  Shrinker(const std::function<bool(const Sequence&)>& still_fails, int most_tries)
      : still_fails_(still_fails), tries_left_(most_tries) {}

  Sequence Shrink(Sequence current) {
    bool progress = true;
    while (progress && tries_left_ > 0) {
      progress = RemoveRuns(current);
      progress = Simplify(current) || progress;
    }
    return current;
  }

 private:
  bool Try(const Sequence& candidate) {
    if (tries_left_ <= 0) return false;
    --tries_left_;
    return still_fails_(candidate);
  }

  // Takes out runs of commands, halving the run length when none can go.
  bool RemoveRuns(Sequence& current) {
    bool progress = false;
    for (std::size_t run = std::max<std::size_t>(current.size() / 2, 1); run >= 1 && tries_left_ > 0;
         run /= 2) {
      std::size_t at = 0;
      while (at < current.size() && tries_left_ > 0) {
        Sequence candidate(current.begin(), current.begin() + static_cast<std::ptrdiff_t>(at));
        const std::size_t end = std::min(current.size(), at + run);
        candidate.insert(candidate.end(), current.begin() + static_cast<std::ptrdiff_t>(end), current.end());
        candidate = Normalized(candidate);
        if (candidate.size() < current.size() && Try(candidate)) {
          current = candidate;
          progress = true;
        } else {
          at += run;
        }
      }
      if (run == 1) break;
    }
    return progress;
  }

  // Smaller fault counts, faults on devices taken away, reports with only a
  // button byte.
  bool Simplify(Sequence& current) {
    bool progress = false;
    for (std::size_t i = 0; i < current.size() && tries_left_ > 0; ++i) {
      for (const Command& plainer : PlainerForms(current[i])) {
        Sequence candidate = current;
        candidate[i] = plainer;
        if (Try(candidate)) {
          current = candidate;
          progress = true;
          break;
        }
      }
    }
    return progress;
  }

  static std::vector<Command> PlainerForms(const Command& command) {
    std::vector<Command> forms;
    Command plainer = command;
    switch (command.kind) {
      case CommandKind::kFail:
        for (int nth = 1; nth < command.nth; ++nth) {
          plainer.nth = nth;
          forms.push_back(plainer);
        }
        break;
      case CommandKind::kDevice:
        if (command.open_fault != sim::OpenFault::None) {
          plainer.open_fault = sim::OpenFault::None;
          forms.push_back(plainer);
        }
        break;
      case CommandKind::kReport:
        if (command.report[0] != 0 || command.report[2] != 0 || command.report[3] != 0) {
          plainer.report = {0x00, command.report[1], 0x00, 0x00};
          forms.push_back(plainer);
        }
        break;
      default:
        break;
    }
    return forms;
  }

  const std::function<bool(const Sequence&)>& still_fails_;
  int tries_left_;
};

}  // namespace

Sequence ShrinkSequence(const Sequence& failing, const std::function<bool(const Sequence&)>& still_fails,
                        int most_tries) {
  return Shrinker(still_fails, most_tries).Shrink(Normalized(failing));
}

}  // namespace reliability
