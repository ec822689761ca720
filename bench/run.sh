#!/usr/bin/env bash
# Builds the benchmarks in a Release host build (build/bench), runs them on the
# simulated Windows, counts the agent's own instructions under valgrind, and
# prints the results table with the targets.
#
#   bench/run.sh                      everything
#   bench/run.sh --benchmark_filter=X arguments go to every benchmark program
#   BENCH_CALLGRIND=0 bench/run.sh    without the valgrind counts (they take a few minutes)
#   bench/run.sh --table              only the table again, from the last run's results
#
# Raw results: build/bench/results/*.csv and instructions.txt; the table also
# goes to build/bench/results/summary.md.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/bench
results=$build/results
benchmarks=(report_path attach idle memory)

run_benchmarks() {
  # -O2: GCC 12 at -O3 reports a false -Wrestrict in the simulated Windows.
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -g -DNDEBUG" >/dev/null
  cmake --build "$build" --target benchmarks
  mkdir -p "$results"
  rm -f "$results"/*.csv "$results"/instructions.txt
  # Other programs on the machine disturb the timings: say how busy it was.
  echo "$(nproc) cores, load average at start $(cut -d' ' -f1-3 /proc/loadavg)" >"$results/machine.txt"

  # Timed results are the median of three repetitions, which keeps one run
  # disturbed by other programs on the machine out of the table.
  for name in "${benchmarks[@]}"; do
    repeat=()
    [[ $name == report_path || $name == attach ]] &&
      repeat=(--benchmark_repetitions=3 --benchmark_report_aggregates_only=true)
    echo
    echo "== ${name}_bench"
    "$build/bench/${name}_bench" --benchmark_counters_tabular=true "${repeat[@]}" \
      --benchmark_out="$results/$name.csv" --benchmark_out_format=csv "$@"
  done

  if [[ ${BENCH_CALLGRIND:-1} != 0 ]] && command -v valgrind >/dev/null && command -v callgrind_annotate >/dev/null; then
    echo
    echo "== instructions (valgrind --tool=callgrind)"
    for measure in "report 1" "report 3" "attach 64" "attach 1024" "attach 4096"; do
      # shellcheck disable=SC2086
      line=$(bench/instructions.sh "$build" $measure)
      echo "$measure $line" | tee -a "$results/instructions.txt"
    done
  fi
  echo "$(cat "$results/machine.txt"), at end $(cut -d' ' -f1-3 /proc/loadavg)" >"$results/machine.txt"
}

if [[ ${1:-} == --table ]]; then
  shift
else
  run_benchmarks "$@"
fi

echo
echo "== results ($(cat "$results/machine.txt"))"
awk -F, '
  # Each CSV: free text, then a header row starting with "name", then rows.
  FNR == 1 { header = 0 }
  $1 == "name" { header = 1; for (i = 1; i <= NF; i++) { c = $i; gsub(/"/, "", c); column[i] = c }; next }
  header && FILENAME ~ /\.csv$/ {
    name = $1; gsub(/"/, "", name)
    for (i = 2; i <= NF; i++) value[name, column[i]] = $i
    names[++count] = name
    next
  }
  FILENAME ~ /instructions\.txt$/ {
    fields = split($0, word, " ")
    for (i = 3; i <= fields; i++) { split(word[i], pair, "="); instructions[word[1] " " word[2], pair[1]] = pair[2] }
    has_instructions = 1
  }
  # The benchmark whose name starts with `prefix`: its aggregate `kind` over
  # repetitions where there are some, else its one run.
  function pick(prefix, col, kind,    i, n) {
    for (i = 1; i <= count; i++) {
      n = names[i]
      if (index(n, prefix) == 1 && substr(n, length(n) - length(kind) + 1) == kind) return value[n, col]
    }
    for (i = 1; i <= count; i++) if (index(names[i], prefix) == 1) return value[names[i], col]
    return ""
  }
  function get(prefix, col) { return pick(prefix, col, "_median") }
  # Dropped or wrong reports: the mean is not zero if any repetition had one.
  function any(prefix, col) { return pick(prefix, col, "_mean") }
  function verdict(ok) { return ok ? "met" : "MISSED" }
  function row(what, result, target, status) { printf "| %-58s | %26s | %-14s | %-6s |\n", what, result, target, status }
  END {
    printf "| %-58s | %26s | %-14s | %-6s |\n", "Measure", "Result", "Target", ""
    printf "|%s|%s|%s|%s|\n", "------------------------------------------------------------", "---------------------------:", "----------------", "--------"
    for (r = 1; r <= 3; r += 2) {
      readers = r == 1 ? "one reader" : "three readers"
      rate = get("BM_ReportPathSaturated/readers:" r "/", "reports_per_s")
      p50 = get("BM_ReportPathSaturated/readers:" r "/", "p50_us")
      p99 = get("BM_ReportPathSaturated/readers:" r "/", "p99_us")
      drops = any("BM_ReportPathSaturated/readers:" r "/", "dropped") + any("BM_ReportPathSaturated/readers:" r "/", "wrong")
      row("Reports/s, " readers ", saturated", sprintf("%.0f", rate), r == 1 ? ">= 100000" : "", r == 1 ? verdict(rate >= 100000 && drops == 0) : "")
      row("  latency p50 / p99, saturated: queued in the ring (us)", sprintf("%.1f / %.1f", p50, p99), "", "")
      row("  dropped or wrong reports", sprintf("%g", drops), "0", verdict(drops == 0))
      for (k = 1; k <= 3; k++) {
        paced = k == 1 ? 1000 : k == 2 ? 8000 : 100000
        prefix = "BM_ReportPathPaced/readers:" r "/rate:" paced "/"
        p50 = get(prefix, "p50_us"); p99 = get(prefix, "p99_us")
        drops = any(prefix, "dropped") + any(prefix, "wrong")
        row(sprintf("  latency p50 / p99 at %d/s per collection (us)", paced), sprintf("%.1f / %.1f", p50, p99),
            r == 1 && paced == 100000 ? "p99 < 200" : "", r == 1 && paced == 100000 ? verdict(p99 < 200 && drops == 0) : "")
        if (paced == 100000)
          row("    reports/s delivered at that rate, dropped", sprintf("%.0f, %g", get(prefix, "reports_per_s"), drops), "", "")
      }
      prefix = "BM_ReportPathOneAtATime/readers:" r "/"
      row("  latency p50 / p99, one report in flight (us)", sprintf("%.1f / %.1f", get(prefix, "p50_us"), get(prefix, "p99_us")), "", "")
      if (has_instructions) {
        agent = instructions["report " r, "agent"]
        row("  agent instructions per report (whole path)", sprintf("%d (%d)", agent, instructions["report " r, "whole"]),
            r == 1 ? "<= 300" : "", r == 1 ? verdict(agent <= 300) : "")
      }
    }
    split("8 64 512 1024 4096", sizes, " ")
    for (k = 1; k <= 5; k++) {
      n = sizes[k]; prefix = "BM_AttachDetach/interfaces:" n "/"
      total = get(prefix, "attach_us") + get(prefix, "detach_us")
      row(sprintf("Attach + detach, %d interfaces (ms)", n),
          sprintf("%.2f + %.2f", get(prefix, "attach_us") / 1000, get(prefix, "detach_us") / 1000),
          n == 1024 ? "total < 5" : "", n == 1024 ? verdict(total < 5000) : "")
      row("  per interface, wall / main-thread processor (us)",
          sprintf("%.2f / %.2f", get(prefix, "ns_per_interface") / 1000, get(prefix, "cpu_ns_per_interface") / 1000), "", "")
      if (has_instructions && (("attach " n, "agent") in instructions))
        row("  agent instructions per interface (whole)",
            sprintf("%d (%d)", instructions["attach " n, "agent"], instructions["attach " n, "whole"]), "", "")
    }
    ratio = get("BM_AttachDetach/interfaces:4096/", "ns_per_interface") / get("BM_AttachDetach/interfaces:64/", "ns_per_interface")
    row("Time per interface, 4096 / 64", sprintf("%.2f", ratio), "<= 1.5", verdict(ratio <= 1.5))
    ratio = get("BM_AttachDetach/interfaces:4096/", "cpu_ns_per_interface") / get("BM_AttachDetach/interfaces:64/", "cpu_ns_per_interface")
    row("  processor time per interface, 4096 / 64", sprintf("%.2f", ratio), "<= 1.5", verdict(ratio <= 1.5))
    if (has_instructions && instructions["attach 64", "agent"] > 0) {
      ratio = instructions["attach 4096", "agent"] / instructions["attach 64", "agent"]
      row("  agent instructions per interface, 4096 / 64", sprintf("%.2f", ratio), "<= 1.5", verdict(ratio <= 1.5))
    }
    wakeups = get("BM_IdleWakeups", "reader_wakeups")
    row("Reader wake-ups while idle", sprintf("%d in %d msgs, %d ms", wakeups, get("BM_IdleWakeups", "messages_dispatched"), get("BM_IdleWakeups", "quiet_ms")), "0", verdict(wakeups == 0))
    split("button_collection keyboard mouse rich blank_tables", kinds, " ")
    for (k = 1; k <= 5; k++) {
      prefix = "BM_RecordMemory/" kinds[k]
      row(sprintf("Record memory, %s (with / without tables)", kinds[k]),
          sprintf("%d blk %d B / 0 blk %d B", get(prefix, "blocks_with_tables"), get(prefix, "bytes_with_tables"),
                  get(prefix, "record_bytes")), "", "")
    }
  }' "$results"/*.csv $([[ -f $results/instructions.txt ]] && echo "$results/instructions.txt") |
  tee "$results/summary.md"
