// A plain program for valgrind: attaches, sends REPORTS input reports on each
// of READERS consumer-page collections, detaches. Reports go in bursts of 16,
// each burst followed by a wait until the readers are idle, so every run does
// the same work. Run it twice with different REPORTS: the difference of the
// agent's instruction counts, divided by the difference of REPORTS, is the
// agent's own cost per report with attach and detach taken out.
//
//   report_driver REPORTS [READERS]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_machine.h"

namespace {

constexpr int kBurst = 16;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: report_driver REPORTS [READERS]\n");
    return 2;
  }
  const int reports = std::atoi(argv[1]);
  const int readers = argc == 3 ? std::atoi(argv[2]) : 1;
  if (reports < 0 || readers < 1 || readers > kReaderCount) {
    std::fprintf(stderr, "report_driver: REPORTS must be 0 or more and READERS 1 to 3\n");
    return 2;
  }

  bench::ResetMachine();
  HWND target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  std::vector<sim::DeviceId> collections;
  for (int i = 0; i < readers; ++i)
    collections.push_back(sim::AddDevice(sim::ButtonCollection("b" + std::to_string(i))));
  if (AttachBridge(target) != 1) {
    std::fprintf(stderr, "report_driver: attach failed\n");
    return 1;
  }
  sim::WaitQuiet();

  // 0x02 and 0x04 post a code on every reader.
  const std::vector<std::uint8_t> sent[] = {{0x00, 0x02, 0x00, 0x00}, {0x00, 0x04, 0x00, 0x00}};
  for (int first = 0; first < reports; first += kBurst) {
    for (int i = first; i < reports && i < first + kBurst; ++i) {
      for (sim::DeviceId collection : collections) sim::SendReport(collection, sent[i % 2]);
    }
    sim::WaitQuiet();
  }

  DetachBridge();
  const std::size_t posted = sim::ReceivedMessages(target).size();
  std::string held;
  const bool clean = bench::NothingHeld(&held);
  std::printf("reports %d, readers %d, messages posted %zu%s%s\n", reports, readers, posted,
              clean ? "" : ", ", clean ? "" : held.c_str());
  return posted == static_cast<std::size_t>(reports) * readers && clean ? 0 : 1;
}
