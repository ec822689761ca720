#!/usr/bin/env bash
# Builds the scenario reader's fuzzer with clang in build/fuzz and runs it for a
# bounded time on a copy of fuzz/corpus (the repository's corpus is never
# changed). Fails on any crash, hang or sanitizer finding; the input that caused
# it is kept in build/fuzz/crashes/.
#
#   scripts/fuzz.sh         60 seconds
#   scripts/fuzz.sh 300     300 seconds
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi

build=build/fuzz
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S fuzz -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}"
fi
cmake --build "$build" --target scenario_fuzzer

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$build/crashes"
cp fuzz/corpus/* "$work/corpus/"
log="$build/fuzz.log"

# One process; a single input that takes 10 s counts as a hang.
status=0
"$build/scenario_fuzzer" "$work/corpus" \
  -dict=fuzz/scenario.dict \
  -max_total_time="$seconds" \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -print_final_stats=1 \
  -artifact_prefix="$build/crashes/" 2>&1 | tee "$log" || status=$?

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
elapsed=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
if [[ $status -ne 0 || -z "$executions" || -z "$elapsed" ]]; then
  echo "fuzz: FAILED (exit $status); see $log and $build/crashes/" >&2
  exit 1
fi
echo "fuzz: $executions executions in $elapsed s, no crash"
