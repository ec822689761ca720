#!/usr/bin/env bash
# Installs what the builds and the tests need, when something is missing: the
# host compilers and test libraries, MinGW-w64 for both Windows builds, and
# Wine with its 32-bit half (which needs Debian's i386 architecture). Installs
# only as root on Debian; elsewhere it names what is missing. Quick when
# everything is there.
#
#   install-deps.sh          everything: host, sanitizers, fuzzing, benchmarks, Windows and Wine
#   install-deps.sh --host   only what the host build and its tests need
set -euo pipefail

packages=(cmake ninja-build g++ googletest libgtest-dev)
if [[ "${1:-}" != --host ]]; then
  packages+=(
    clang libclang-rt-14-dev valgrind libbenchmark-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    wine wine64 wine32:i386
  )
fi

installed() {
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}

if ! command -v dpkg-query >/dev/null; then
  echo "install-deps.sh: not a Debian system; install by hand: ${packages[*]}" >&2
  exit 1
fi

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps.sh: everything needed is installed"
  exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps.sh: missing: ${missing[*]}" >&2
  echo "  as root: dpkg --add-architecture i386 && apt-get update && apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "install-deps.sh: installing ${missing[*]}"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y "${missing[@]}"

for package in "${packages[@]}"; do
  installed "$package" || { echo "install-deps.sh: $package did not install" >&2; exit 1; }
done
