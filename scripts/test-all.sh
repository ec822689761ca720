#!/usr/bin/env bash
# The whole test run from a fresh checkout: installs what is missing, then
# configures, builds and tests the host build, its AddressSanitizer+UBSan and
# ThreadSanitizer builds, both Windows builds with their tests under Wine, and
# a bounded run of the scenario reader's fuzzer. Stops at the first failure and
# prints a summary either way.
#
#   scripts/test-all.sh            every build, then the fuzzer
#   scripts/test-all.sh win32 ...  only the named presets (fuzz: only the fuzzer)
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(host asan tsan win32 win64 fuzz)
jobs=$(nproc 2>/dev/null || echo 2)

summary=()
current=""
started=$SECONDS
passed=0
failed=0

print_summary() {
  local status=$?
  echo
  echo "== summary"
  local line
  for line in "${summary[@]}"; do echo "  $line"; done
  if [[ $status -ne 0 ]]; then
    echo "  FAILED: ${current:-setup}"
  fi
  local preset exe
  for preset in "${presets[@]}"; do
    exe=build/$preset/button-agent.exe
    if [[ $preset == win* && -f $exe ]]; then
      echo "  $exe: $(stat -c %s "$exe") bytes"
    fi
  done
  echo "  total $((SECONDS - started)) s"
  echo "tests: $passed passed, $failed failed"
}
trap print_summary EXIT

step() {
  current="$1"
  shift
  echo
  echo "== $current"
  local step_started=$SECONDS
  "$@"
  summary+=("ok  $current ($((SECONDS - step_started)) s)")
}

# Runs one preset's tests and adds its counts to the totals.
run_tests() {
  local log status=0
  log=$(mktemp)
  ctest --preset "$1" 2>&1 | tee "$log" || status=$?
  local counts
  counts=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$log" | tail -n 1)
  rm -f "$log"
  if [[ -n "$counts" ]]; then
    failed=$((failed + ${counts% *}))
    passed=$((passed + ${counts#* } - ${counts% *}))
  fi
  return "$status"
}


step "install dependencies" scripts/install-deps.sh
for preset in "${presets[@]}"; do
  if [[ "$preset" == fuzz ]]; then
    step "fuzz: scenario reader" scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
    continue
  fi
  step "$preset: configure" cmake --preset "$preset"
  step "$preset: build" cmake --build --preset "$preset" -j "$jobs"
  step "$preset: test" run_tests "$preset"
done
current=""
