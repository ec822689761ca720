// A plain program for valgrind: with INTERFACES HID interfaces present (the
// benchmarks' mix), attaches and detaches CYCLES times. Comparing the agent's
// instruction count per interface across INTERFACES shows whether its own
// share grows linearly; the rest is the simulated Windows'.
//
//   attach_driver INTERFACES [CYCLES]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_machine.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: attach_driver INTERFACES [CYCLES]\n");
    return 2;
  }
  const int interfaces = std::atoi(argv[1]);
  const int cycles = argc == 3 ? std::atoi(argv[2]) : 1;
  if (interfaces < 1 || cycles < 0) {
    std::fprintf(stderr, "attach_driver: INTERFACES must be 1 or more and CYCLES 0 or more\n");
    return 2;
  }

  bench::ResetMachine();
  HWND target = sim::CreateForeignWindow(kTargetClassName, kTargetWindowTitle);
  bench::AddMixedInterfaces(interfaces);
  int attached = 0;
  for (int i = 0; i < cycles; ++i) {
    attached += AttachBridge(target);
    sim::WaitQuiet();
    DetachBridge();
  }
  std::string held;
  const bool clean = bench::NothingHeld(&held);
  std::printf("interfaces %d, cycles %d, attached %d%s%s\n", interfaces, cycles, attached, clean ? "" : ", ",
              clean ? "" : held.c_str());
  return attached == cycles && clean ? 0 : 1;
}
