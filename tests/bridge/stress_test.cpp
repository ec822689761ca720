// Many attach/detach cycles while reports arrive on every collection from
// other threads: nothing leaks, nothing outside the tables is posted, and no
// report is translated twice.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <set>
#include <thread>

#include "bridge/readers.h"
#include "support/bridge_fixture.h"

namespace {

using StressTest = BridgeTest;

TEST_F(StressTest, AttachDetachCyclesWithReportsArriving) {
  constexpr int kCycles = 1000;
  const sim::DeviceId collections[] = {
      sim::AddDevice(ConsumerCollection("first")),   // ReaderC
      sim::AddDevice(ConsumerCollection("second")),  // ReaderB
      sim::AddDevice(ConsumerCollection("third")),   // ReaderA
  };
  sim::AddDevice(Keyboard("keyboard"));

  std::atomic<bool> done{false};
  std::atomic<int> cycle{0};
  std::atomic<int> senders_done_with_cycle{0};
  std::atomic<int> reports_with_a_code{0};
  std::vector<std::thread> senders;
  for (int i = 0; i < 3; ++i) {
    senders.emplace_back([&, i] {
      std::mt19937 random(1234 + i);
      // A few reports per cycle, at any moment of it: senders that never pause
      // would only fight over the machine's lock.
      int last_cycle = -1;
      while (!done.load()) {
        if (cycle.load() == last_cycle) {
          std::this_thread::yield();
          continue;
        }
        last_cycle = cycle.load();
        for (int report = 0; report < 2; ++report) {
          const auto byte = static_cast<std::uint8_t>(1u << (random() % 8));
          const bool has_code =
              (i == 0 && byte <= 0x04) || (i == 1 && byte <= 0x08) || (i == 2 && byte <= 0x20);
          // Count before sending, so the count never trails what was posted.
          if (has_code) reports_with_a_code.fetch_add(1);
          sim::SendReport(collections[i], {0x00, byte, 0x00, 0x00});
        }
        senders_done_with_cycle.fetch_add(1);
      }
    });
  }
  for (int round = 0; round < kCycles; ++round) {
    ASSERT_EQ(AttachBridge(target_), 1);
    senders_done_with_cycle.store(0);
    cycle.fetch_add(1);
    // Every other cycle lets the reports land before detaching; the others
    // detach while reports are still arriving.
    if (round % 2 == 0) {
      while (senders_done_with_cycle.load() < 3) std::this_thread::yield();
      sim::WaitQuiet();
    }
    ASSERT_EQ(DetachBridge(), 1);
    ASSERT_EQ(sim::Held().threads, 0);
  }
  done.store(true);
  for (std::thread& sender : senders) sender.join();

  const std::set<LPARAM> valid = {1, 2, 3, 4, 5, 6, 7, 9, 10, 13, 14, 16, 17, 18};
  const std::vector<LPARAM> codes = ButtonCodesReceived(target_);
  for (LPARAM code : codes) EXPECT_TRUE(valid.count(code)) << "posted code " << code;
  EXPECT_LE(static_cast<int>(codes.size()), reports_with_a_code.load());
  EXPECT_GT(codes.size(), 0u) << "no report reached a running reader";
  ExpectNothingHeld();
}

}  // namespace
