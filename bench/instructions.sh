#!/usr/bin/env bash
# Counts instructions with valgrind's callgrind and splits them between the
# agent's own code (agent/, bridge/, hid/), the simulated Windows
# (platform/sim/) and everything else (the C and C++ libraries, the driver).
# Each measure runs a driver twice and divides the difference by the
# difference of work, so start-up, attach and detach fall out:
#
#   bench/instructions.sh BUILD_DIR report READERS      per report, READERS (1 to 3) busy at once
#   bench/instructions.sh BUILD_DIR attach INTERFACES   per interface, one attach plus detach
#
# Prints one line: "agent=N sim=N other=N whole=N" (instructions per unit).
# A function counts as the agent's when its body is in the agent's files,
# including what the compiler inlined into it from library headers.
set -euo pipefail

usage() {
  echo "usage: bench/instructions.sh BUILD_DIR report READERS | attach INTERFACES" >&2
  exit 2
}
[[ $# -eq 3 ]] || usage
build=$1
kind=$2
size=$3
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case $kind in
  report)
    program=$build/bench/report_driver
    small=(1000 "$size")
    large=(5000 "$size")
    units=$((4000 * size))
    ;;
  attach)
    program=$build/bench/attach_driver
    small=("$size" 1)
    large=("$size" 2)
    units=$size
    ;;
  *) usage ;;
esac

# Instructions by owner for one run: "agent sim other whole".
count() {
  local out=$work/callgrind.$1
  shift
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>"$work/valgrind.log" ||
    { cat "$work/valgrind.log" >&2; exit 1; }
  # Run from the scratch folder, so that file names stay absolute.
  (cd "$work" && callgrind_annotate --inclusive=no --threshold=100 --auto=no "$out") | awk -v root="$root" '
    / PROGRAM TOTALS/ { total = $1; gsub(",", "", total); next }
    /^ *[0-9,]+ +\(/ {
      cost = $1; gsub(",", "", cost)
      entry = $0
      sub(/^ *[0-9,]+ +\([^)]*\) +/, "", entry)
      sub(/ \[[^]]*\]$/, "", entry)
      file = entry; sub(/:.*/, "", file)
      name = substr(entry, length(file) + 2)
      n++; costs[n] = cost; names[n] = name
      if (index(file, root "/agent/") == 1 || index(file, root "/bridge/") == 1 || index(file, root "/hid/") == 1)
        agent[name] = 1
      else if (index(file, root "/platform/sim/") == 1)
        sim[name] = 1
    }
    END {
      for (i = 1; i <= n; i++) {
        if (names[i] in agent) a += costs[i]
        else if (names[i] in sim) s += costs[i]
      }
      printf "%.0f %.0f %.0f %.0f\n", a, s, total - a - s, total
    }'
}

read -r a1 s1 o1 w1 < <(count small "$program" "${small[@]}")
read -r a2 s2 o2 w2 < <(count large "$program" "${large[@]}")
awk -v u="$units" -v a="$((a2 - a1))" -v s="$((s2 - s1))" -v o="$((o2 - o1))" -v w="$((w2 - w1))" \
  'BEGIN { printf "agent=%.0f sim=%.0f other=%.0f whole=%.0f\n", a / u, s / u, o / u, w / u }'
