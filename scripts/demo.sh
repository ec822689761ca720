#!/usr/bin/env bash
# The main job: builds the agent on the simulated Windows and plays the demo
# scenario, in which the button device is plugged in and every button of every
# reader is pressed. Installs the host build's tools first when they are missing.
#
#   scripts/demo.sh [SCENARIO]   (default: examples/demo.scn)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --host >&2
cmake --preset host >/dev/null
cmake --build --preset host --target button-agent-sim >/dev/null
exec build/host/simulator/button-agent-sim "${1:-examples/demo.scn}"
