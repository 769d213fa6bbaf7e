#!/usr/bin/env bash
# Sending to a simulated module: time against its floor, processor time while the module is
# slow, the send window's responsiveness, and what printing a list costs kelvara-cli.
set -euo pipefail
source "$(dirname "$0")/build.sh"
b=build/bench
echo "== Send time against the floor (commands x (quiet gap + pause))"
$b/bench/kelvara_send_bench floor
echo
echo "== Processor time while the module takes 200 ms to answer"
$b/bench/kelvara_send_bench cpu $b/cli/kelvara-cli
echo
echo "== The send window (offscreen)"
QT_QPA_PLATFORM=offscreen $b/bench/kelvara_send_bench window 2> >(grep -v -e XDG_RUNTIME -e propagateSize >&2)
echo
instructions() {
    valgrind --tool=callgrind --callgrind-out-file=/tmp/kelvara-callgrind.$$ "$@" >/dev/null 2>&1
    grep -E '^(summary|totals):' /tmp/kelvara-callgrind.$$ | head -n 1 | awk '{print $2}'
    rm -f /tmp/kelvara-callgrind.$$
}
echo "== Instructions for 'kelvara-cli study' (callgrind)"
plain=$(instructions $b/cli/kelvara-cli study)
linked=$(instructions $b/bench/kelvara_cli_linked_qt study)
awk -v p="$plain" -v l="$linked" 'BEGIN {
    printf "%-52s %12d\n", "kelvara-cli (sending in a plugin, loaded on demand)", p
    printf "%-52s %12d   %.2fx\n", "the same, linked to Qt Serial Port directly", l, l / p }'
