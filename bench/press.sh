#!/usr/bin/env bash
# From a button press until the command list window is exposed, against an empty dialog of the
# same size, under Xvfb.   bench/press.sh [RUNS]   (default 41 alternating presses)
set -euo pipefail
source "$(dirname "$0")/build.sh"
scripts/with-xvfb build/bench/bench/kelvara_press_bench "${1:-41}" \
    2> >(grep -v XDG_RUNTIME_DIR >&2)
