// The soak: tens of thousands of attach/detach cycles (over the shards) while
// reports arrive on every collection from threads of their own and posts are
// refused now and then. Nothing may be posted outside the tables, no report
// may post twice, nothing may leak, and no cycle may hang: each shard runs in
// a child process whose alarm ends a cycle that makes no progress.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "support/bridge_fixture.h"
#include "support/isolated_run.h"
#include "support/reliability_checks.h"
#include "support/sanitizer_scale.h"

namespace reliability {
namespace {

constexpr int kShards = 4;
constexpr int kCyclesPerShard = ScaledCount(10000, 5000, 5000);
// A few hundred cycles take a second or two even under ThreadSanitizer.
constexpr int kCyclesPerMark = 250;
constexpr unsigned kSecondsPerMark = 30;
// Each sender sends this many reports per cycle: enough that reports land
// while the readers start, run and stop, few enough that the senders do not
// crowd the machine's lock and starve the cycle itself.
constexpr int kReportsPerCycle = 2;

// Hands out permits to send reports; a sender waits for the next permit
// instead of spinning on the machine.
class Permits {
 public:
  void Grant(int count) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      granted_ += count;
      outstanding_ += count;
    }
    changed_.notify_all();
  }
  void Close() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      closed_ = true;
    }
    changed_.notify_all();
  }
  // Waits for a permit; false once closed.
  bool Take() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return closed_ || granted_ > 0; });
    if (closed_) return false;
    --granted_;
    return true;
  }
  // The report of a permit has been sent.
  void Used() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      --outstanding_;
    }
    changed_.notify_all();
  }
  void WaitAllUsed() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return outstanding_ == 0; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  long granted_ = 0;
  long outstanding_ = 0;
  bool closed_ = false;
};

// One collection and the thread that sends its reports.
struct Collection {
  sim::DeviceId device = 0;
  Reader reader = Reader::kA;
  Permits permits;
  std::map<int, long> sent_with_code;  // reports sent, by the code their button byte gives this reader
  std::thread sender;
};

std::string CheckPosted(HWND target, const std::array<Collection, kReaders>& collections, long* posted) {
  std::map<std::pair<Reader, int>, long> received;
  const std::vector<MSG> messages = sim::ReceivedMessages(target);
  *posted = static_cast<long>(messages.size());
  for (const MSG& message : messages) {
    if (std::string bad = WrongButtonMessage(message); !bad.empty()) return bad;
    int code = static_cast<int>(message.lParam >> 16);
    Reader reader = Reader::kA;
    ReaderOfCode(code, &reader);
    if (code == 7) code = 10;  // ReaderB's alternating code is one button
    ++received[{reader, code}];
  }
  for (const auto& [key, count] : received) {
    long sent = 0;
    for (const Collection& collection : collections) {
      if (collection.reader != key.first) continue;
      auto found = collection.sent_with_code.find(key.second);
      if (found != collection.sent_with_code.end()) sent = found->second;
    }
    if (count > sent) {
      return "code " + std::to_string(key.second) + " posted " + std::to_string(count) + " times for " +
             std::to_string(sent) + " reports";
    }
  }
  return "";
}

std::string Soak(int shard, const IsolatedChild& child) {
  sim::Reset();
  ResetBridgeState();
  HWND target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  // The first collection found goes to ReaderC, the second to ReaderB, the third to ReaderA.
  std::array<Collection, kReaders> collections;
  const Reader readers[kReaders] = {Reader::kC, Reader::kB, Reader::kA};
  for (int i = 0; i < kReaders; ++i) {
    collections[i].device = sim::AddDevice(sim::ButtonCollection("buttons" + std::to_string(i)));
    collections[i].reader = readers[i];
  }
  sim::AddDevice(Keyboard("keyboard"));

  for (int i = 0; i < kReaders; ++i) {
    Collection& collection = collections[i];
    collection.sender = std::thread([&collection, seed = shard * 10 + i] {
      std::mt19937 random(static_cast<unsigned>(seed));
      while (collection.permits.Take()) {
        const auto button =
            static_cast<std::uint8_t>(random() % 4 == 0 ? random() % 256 : 1u << (random() % 8));
        // Counted before sending, so the count never trails what was posted.
        if (const int code = CodeOf(collection.reader, button); code != 0) ++collection.sent_with_code[code];
        sim::SendReport(collection.device, {static_cast<std::uint8_t>(random()), button, 0x00, 0x00});
        collection.permits.Used();
      }
    });
  }

  std::string failure;
  std::mt19937 random(static_cast<unsigned>(shard));
  for (int cycle = 0; cycle < kCyclesPerShard && failure.empty(); ++cycle) {
    if (cycle % kCyclesPerMark == 0) child.Mark(cycle, "cycle " + std::to_string(cycle));
    if (random() % 8 == 0) sim::FailNth(sim::Fault::Post, 1 + static_cast<int>(random() % 3));
    if (AttachBridge(target) != 1) {
      failure = "cycle " + std::to_string(cycle) + ": the attach failed";
    } else if (sim::Held().threads != kReaders) {
      failure =
          "cycle " + std::to_string(cycle) + ": " + std::to_string(sim::Held().threads) + " readers run";
    }
    for (Collection& collection : collections) collection.permits.Grant(kReportsPerCycle);
    // Every other cycle the reports land while the readers run; otherwise
    // they race with the detach.
    if (random() % 2 == 0) {
      for (Collection& collection : collections) collection.permits.WaitAllUsed();
    }
    if (DetachBridge() != 1 && failure.empty())
      failure = "cycle " + std::to_string(cycle) + ": the detach failed";
    if (sim::Held().threads != 0 && failure.empty()) {
      failure = "cycle " + std::to_string(cycle) + ": readers run on after the detach";
    }
    // The machine keeps an ended thread until it is joined here; tens of
    // thousands of them would exhaust the process's memory map.
    sim::WaitQuiet();
  }
  for (Collection& collection : collections) {
    collection.permits.Close();
    collection.sender.join();
  }
  sim::FailNth(sim::Fault::Post, 0);
  if (!failure.empty()) return failure;

  long posted = 0;
  if (std::string bad = CheckPosted(target, collections, &posted); !bad.empty()) return bad;
  if (std::string left = LeftHeld(); !left.empty()) return left;
  std::printf("[soak] shard %d: %d cycles, %ld button messages, %d refused posts (%s build)\n", shard,
              kCyclesPerShard, posted, sim::Calls("PostMessageA") - static_cast<int>(posted), BuildName());
  return "";
}

class SoakShard : public ::testing::TestWithParam<int> {};

TEST_P(SoakShard, AttachDetachCyclesWithReportsOnEveryCollection) {
  const auto started = std::chrono::steady_clock::now();
  const IsolatedOutcome outcome =
      RunIsolated(kSecondsPerMark, [&](const IsolatedChild& child) { return Soak(GetParam(), child); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("[soak] shard %d: %.1f s, %.2f ms per cycle\n", GetParam(), seconds,
              1000.0 * seconds / kCyclesPerShard);
  EXPECT_TRUE(outcome.Passed()) << (outcome.end == IsolatedOutcome::End::kFailed
                                        ? outcome.failure
                                        : outcome.last_note + ": " + outcome.Describe());
}

INSTANTIATE_TEST_SUITE_P(Shards, SoakShard, ::testing::Range(0, kShards));

}  // namespace
}  // namespace reliability
