#!/usr/bin/env bash
# Kelvara for Windows under Wine against the Linux build, side by side on this machine:
# kelvara-cli's study list printed (no port) and the 16-bit study list sent to the simulated
# module (through Wine's COM port), as ratios; a data session's delay from a device's line on the
# wire to standard output, with the log off and on, to a program on the shared TCP port, and
# while 4 KiB are piped in at once; the module window's longest stall while a batch runs on
# three ports;
# then the sizes of the installer and the programs. Needs scripts/windows (the Windows build) and
# scripts/windows-test (Wine's prefix, and build/test's window test) first.
set -euo pipefail
source "$(dirname "$0")/build.sh"
win=$PWD/build/windows
runs=${1:-15}
export WINEPREFIX=$win/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p 60 >/dev/null 2>&1 # one Wine server for every run, as a user's session has; what it prints is its own
linux=$(build/bench/bench/kelvara_cli_run_bench "$runs" build/bench/cli/kelvara-cli)
export KELVARA_TEST_COM_PORTS="COM10=$win/com/com10 COM11=$win/com/com11 COM12=$win/com/com12"
windows=$(build/bench/bench/kelvara_cli_run_bench "$runs" wine "$win/cli/kelvara-cli.exe")
median() { sed -n "$1p" | sed 's/.*median \([0-9.]*\) ms/\1/'; }
for line in 1 2; do
    what=$(echo "$linux" | sed -n "${line}p" | sed 's/: median.*//')
    l=$(echo "$linux" | median "$line")
    w=$(echo "$windows" | median "$line")
    printf '%-18s Linux %7.1f ms   Windows under Wine %7.1f ms   ratio %.2f\n' "$what" "$l" "$w" \
        "$(awk -v w="$w" -v l="$l" 'BEGIN { print w / l }')"
done
echo "== A data session: the device sends a line every millisecond, the user a line every 5 ms"
echo "Linux:";              KELVARA_TEST_COM_PORTS= build/bench/bench/kelvara_scan_bench data build/bench/cli/kelvara-cli
echo "Windows under Wine:"; build/bench/bench/kelvara_scan_bench data wine "$win/cli/kelvara-cli.exe"
echo "== The same, logged (--log)"
log=$(mktemp)
echo "Linux:";              KELVARA_TEST_COM_PORTS= KELVARA_BENCH_LOG=$log build/bench/bench/kelvara_scan_bench data build/bench/cli/kelvara-cli
: >"$log"
echo "Windows under Wine:"; KELVARA_BENCH_LOG=$log build/bench/bench/kelvara_scan_bench data wine "$win/cli/kelvara-cli.exe"
rm -f "$log"
echo "== The link shared on a TCP port: a device's line to a program on it"
echo "Linux:";              KELVARA_TEST_COM_PORTS= build/bench/bench/kelvara_relay_bench share build/bench/cli/kelvara-cli | grep TCP
echo "Windows under Wine:"; build/bench/bench/kelvara_relay_bench share wine "$win/cli/kelvara-cli.exe"
echo "== 4 KiB piped into a connection at 9600 baud at once, the device sending a line every 5 ms"
echo "Linux:";              KELVARA_TEST_COM_PORTS= build/bench/bench/kelvara_scan_bench bulk build/bench/cli/kelvara-cli
echo "Windows under Wine:"; build/bench/bench/kelvara_scan_bench bulk wine "$win/cli/kelvara-cli.exe"
echo "== The module window while three modules are set up on three ports: the longest stall"
for i in 1 2 3; do
    l=$(KELVARA_TEST_COM_PORTS= QT_QPA_PLATFORM=offscreen build/test/tests/kelvara_window_test \
        --gtest_filter='*Batch*' | sed -n 's/.*longest stall //p')
    w=$(KELVARA_TEST_WINDOW="wine $win/tests/ui/kelvara_window_keys.exe" WINEQT_QPA_PLATFORM=offscreen \
        build/test/tests/kelvara_window_test --gtest_filter='*Batch*' | sed -n 's/.*longest stall //p')
    echo "run $i: Linux $l   Windows under Wine $w"
done
ls -l "$win/kelvara-1.02-win64-setup.exe" "$win/kelvara-1.02-win64.zip" |
    awk '{ n = split($NF, path, "/"); printf "%-30s %6.1f MB\n", path[n], $5 / 1e6 }'
# The programs as installed (stripped).
unzip -l "$win/kelvara-1.02-win64.zip" | awk '/\.exe$/ { n = split($NF, path, "/"); printf "%-30s %6.1f MB\n", path[n], $1 / 1e6 }'
