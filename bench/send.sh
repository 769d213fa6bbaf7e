#!/usr/bin/env bash
# Sending to a simulated module: time against its floor, processor time while the module is
# slow, the send window's responsiveness, and what printing a list costs kelvara-cli.
set -euo pipefail
source "$(dirname "$0")/build.sh"
b=build/bench
echo "== Send time against the floor (commands x (quiet gap + pause))"
$b/bench/kelvara_send_bench floor
echo
echo "== The same list to a module answering \\r\\nOK\\r\\n, against a minimal write-and-wait loop"
$b/bench/kelvara_send_bench oklines
echo
echo "== Finding the settings"
$b/bench/kelvara_send_bench find
echo
echo "== Processor time while the module takes 200 ms to answer"
$b/bench/kelvara_send_bench cpu $b/cli/kelvara-cli
echo
echo "== A batch of three modules, swapped by hand: what Kelvara adds per module"
$b/bench/kelvara_send_bench batch $b/cli/kelvara-cli
echo
echo "== Nine modules over three ports against nine over one"
$b/bench/kelvara_ports_bench cli $b/cli/kelvara-cli
QT_QPA_PLATFORM=offscreen $b/bench/kelvara_ports_bench window 2> >(grep -v -e XDG_RUNTIME -e propagateSize >&2)
echo
echo "== A scan: a device's entry complete to its line, its row; 500 devices in the window"
$b/bench/kelvara_scan_bench cli $b/cli/kelvara-cli
QT_QPA_PLATFORM=offscreen $b/bench/kelvara_scan_bench window 2> >(grep -v -e XDG_RUNTIME -e propagateSize >&2)
echo
echo "== A data session: the device sends a line every millisecond, the user a line every 5 ms;"
echo "   the log off, then on (--log), one after the other"
log=$(mktemp)
for round in 1 2; do
    echo "log off:"; $b/bench/kelvara_scan_bench data $b/cli/kelvara-cli
    echo "log on:";  KELVARA_BENCH_LOG=$log $b/bench/kelvara_scan_bench data $b/cli/kelvara-cli
done
echo "log: $(wc -l < "$log") lines"
rm -f "$log"
echo
echo "== The link shared with a program on a pseudo-terminal and on a TCP port; a link that drops"
echo "   every 3 s, rejoined"
$b/bench/kelvara_relay_bench share $b/cli/kelvara-cli
$b/bench/kelvara_relay_bench drops $b/cli/kelvara-cli
echo
echo "== The send window (offscreen)"
QT_QPA_PLATFORM=offscreen $b/bench/kelvara_send_bench window 2> >(grep -v -e XDG_RUNTIME -e propagateSize >&2)
echo
echo "== The module window while a module floods the port at 230400 baud (offscreen)"
QT_QPA_PLATFORM=offscreen $b/bench/kelvara_send_bench flood 2> >(grep -v -e XDG_RUNTIME -e propagateSize >&2)
echo
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/tmp/kelvara-callgrind.$$ "$@" >/dev/null 2>&1
    grep -E '^(summary|totals):' /tmp/kelvara-callgrind.$$ | head -n 1 | awk '{print $2}'
    rm -f /tmp/kelvara-callgrind.$$
}
echo "== Instructions for 'kelvara-cli study' (callgrind), against the release before the serial"
echo "   port code was linked in (it lived in a plugin, loaded only to send)"
baseline=${KELVARA_BASELINE_REV:-cf77ac6}
if [[ ! -x build/baseline/cli/kelvara-cli ]]; then
    rm -rf build/baseline-src && mkdir -p build/baseline-src
    git archive "$baseline" | tar -x -C build/baseline-src
    cmake -S build/baseline-src -B build/baseline -DCMAKE_BUILD_TYPE=Release -DKELVARA_BUILD_GUI=OFF \
          -DKELVARA_BUILD_TESTS=OFF >/dev/null
    cmake --build build/baseline --parallel "$(nproc)" --target kelvara-cli >/dev/null
fi
before=$(instructions build/baseline/cli/kelvara-cli study)
now=$(instructions $b/cli/kelvara-cli study)
awk -v b="$before" -v n="$now" -v r="$baseline" 'BEGIN {
    printf "%-52s %12d\n", "kelvara-cli study, " r " (plugin)", b
    printf "%-52s %12d   %.2fx\n", "kelvara-cli study, now (one program)", n, n / b }'
