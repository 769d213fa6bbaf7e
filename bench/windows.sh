#!/usr/bin/env bash
# Kelvara for Windows under Wine against the Linux build, side by side on this machine:
# kelvara-cli's study list printed (no port) and the 16-bit study list sent to the simulated
# module (through Wine's COM port), as ratios; then the sizes of the installer and the programs.
# Needs scripts/windows (the Windows build) and scripts/windows-test (Wine's prefix) first.
set -euo pipefail
source "$(dirname "$0")/build.sh"
win=$PWD/build/windows
runs=${1:-15}
export WINEPREFIX=$win/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -p 60 # one Wine server for every run, as a user's session has
linux=$(build/bench/bench/kelvara_cli_run_bench "$runs" build/bench/cli/kelvara-cli)
windows=$(KELVARA_TEST_COM_PORTS="COM10=$win/com/com10 COM11=$win/com/com11" \
          build/bench/bench/kelvara_cli_run_bench "$runs" wine "$win/cli/kelvara-cli.exe")
median() { sed -n "$1p" | sed 's/.*median \([0-9.]*\) ms/\1/'; }
for line in 1 2; do
    what=$(echo "$linux" | sed -n "${line}p" | sed 's/: median.*//')
    l=$(echo "$linux" | median "$line")
    w=$(echo "$windows" | median "$line")
    printf '%-18s Linux %7.1f ms   Windows under Wine %7.1f ms   ratio %.2f\n' "$what" "$l" "$w" \
        "$(awk -v w="$w" -v l="$l" 'BEGIN { print w / l }')"
done
ls -l "$win/kelvara-1.02-win64-setup.exe" "$win/kelvara-1.02-win64.zip" |
    awk '{ n = split($NF, path, "/"); printf "%-30s %6.1f MB\n", path[n], $5 / 1e6 }'
# The programs as installed (stripped).
unzip -l "$win/kelvara-1.02-win64.zip" | awk '/\.exe$/ { n = split($NF, path, "/"); printf "%-30s %6.1f MB\n", path[n], $1 / 1e6 }'
