#!/usr/bin/env bash
# The whole test run from a fresh checkout: installs what is missing, then
# configures, builds and tests the host build, its AddressSanitizer+UBSan and
# ThreadSanitizer builds, and both Windows builds with their tests under Wine.
# Stops at the first failure and prints a summary either way.
#
#   scripts/test-all.sh            every build
#   scripts/test-all.sh win32 ...  only the named presets
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(host asan tsan win32 win64)
jobs=$(nproc 2>/dev/null || echo 2)

summary=()
current=""
started=$SECONDS

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


step "install dependencies" scripts/install-deps.sh
for preset in "${presets[@]}"; do
  step "$preset: configure" cmake --preset "$preset"
  step "$preset: build" cmake --build --preset "$preset" -j "$jobs"
  step "$preset: test" ctest --preset "$preset"
done
current=""
