#!/usr/bin/env bash
# Start-up of kelvara against a bare window of the same shape, under Xvfb:
#   - instructions from start until the window is first drawn (callgrind: repeatable);
#   - time until the window is mapped and resident memory, medians over alternating runs.
# The bare window runs twice: with the system font alone, and with Kelvara's two font families.
#   bench/startup.sh [RUNS]   (default 21 runs of each)
set -euo pipefail
self=$(realpath "$0")
if [[ "${1:-}" != --inside-xvfb ]]; then
    source "$(dirname "$0")/build.sh"
    exec scripts/with-xvfb "$self" --inside-xvfb "${1:-21}" 2> >(grep -v XDG_RUNTIME_DIR >&2)
fi
cd "$(dirname "$self")/.."
runs=$2
b=build/bench

instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/tmp/kelvara-callgrind.$$ "$@" >/dev/null 2>&1
    grep -E '^(summary|totals):' /tmp/kelvara-callgrind.$$ | head -n 1 | awk '{print $2}'
    rm -f /tmp/kelvara-callgrind.$$
}
kelvara=$(instructions $b/bench/kelvara_firstpaint)
bare=$(instructions $b/bench/kelvara_bare --first-paint)
fonts=$(instructions $b/bench/kelvara_bare --first-paint --same-fonts)
echo "== Instructions until the main window is first drawn (callgrind)"
awk -v k="$kelvara" -v b="$bare" -v f="$fonts" 'BEGIN {
    printf "%-40s %14d\n", "kelvara", k
    printf "%-40s %14d   ratio %.3fx\n", "bare window, system font", b, k / b
    printf "%-40s %14d   ratio %.3fx\n", "bare window, the same two fonts", f, k / f }'
echo
echo "== Against the bare window, system font"
$b/bench/kelvara_startup_probe "$runs" "$b/app/kelvara" "$b/bench/kelvara_bare"
echo
echo "== Against the bare window, the same two fonts"
$b/bench/kelvara_startup_probe "$runs" "$b/app/kelvara" "$b/bench/kelvara_bare --same-fonts"
