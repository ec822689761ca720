#!/usr/bin/env bash
# Runs a Windows program headless under Wine, in a prefix of its own inside the
# build folder, and returns the program's exit code.
#
#   wine-run.sh PROGRAM.exe [ARGS...]   run a program (CTest's emulator)
#   wine-run.sh --prepare               only make the prefix ready
#   wine-run.sh --stop                  stop the prefix's wineserver and every Wine process in it
#
# The prefix is $WINEPREFIX when set, else "wineprefix" in the build folder:
# the nearest folder holding CMakeCache.txt above the program (or above the
# current folder). It is prepared once: wineboot, then the null graphics
# driver (without it no window can be created on a machine with no display),
# then a restart of its wineserver so that the driver setting takes effect.
set -euo pipefail

die() {
  echo "wine-run.sh: $*" >&2
  exit 125
}

build_folder_above() {
  local dir
  dir=$(cd "$1" && pwd)
  while [[ "$dir" != / ]]; do
    if [[ -f "$dir/CMakeCache.txt" ]]; then
      echo "$dir"
      return 0
    fi
    dir=$(dirname "$dir")
  done
  return 1
}

[[ $# -ge 1 ]] || die "usage: wine-run.sh PROGRAM.exe [ARGS...] | --prepare | --stop"
command -v wine >/dev/null || die "wine is not installed (scripts/install-deps.sh installs it)"

if [[ -z "${WINEPREFIX:-}" ]]; then
  start=.
  [[ "$1" != --* && -e "$1" ]] && start=$(dirname "$1")
  build=$(build_folder_above "$start") || die "no build folder above $start; set WINEPREFIX"
  export WINEPREFIX="$build/wineprefix"
fi
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and their installers would wait
# for a user. No menu builder: it would write desktop menu entries into $HOME.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
unset DISPLAY WAYLAND_DISPLAY

prepare() {
  local ready="$WINEPREFIX/.headless-ready"
  [[ -f "$ready" ]] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Programs run in parallel by CTest must not prepare the same prefix twice.
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [[ ! -f "$ready" ]]; then
    echo "wine-run.sh: preparing $WINEPREFIX" >&2
    WINEARCH=win64 wineboot -i >/dev/null 2>&1 || die "wineboot -i failed in $WINEPREFIX"
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ||
      die "could not select the null graphics driver in $WINEPREFIX"
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w
    touch "$ready"
  fi
  exec 9>&-
}

case "$1" in
  --prepare)
    prepare
    ;;
  --stop)
    if [[ -d "$WINEPREFIX" ]]; then
      wineserver -k >/dev/null 2>&1 || true
      wineserver -w
    fi
    ;;
  *)
    prepare
    exec wine "$@"
    ;;
esac
