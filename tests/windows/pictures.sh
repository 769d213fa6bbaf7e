#!/usr/bin/env bash
# Pictures of every window as Wine draws them at a display scale, each window checked: nothing
# reaches outside it and no text is cut. Needs a display (scripts/with-xvfb) and the prefix in
# WINEPREFIX.
#   tests/windows/pictures.sh PROGRAM.exe OUTPUT_DIR PERCENT
set -euo pipefail
program=$1 out=$2 percent=$3
mkdir -p "$out"
# Windows' scale is its logical pixels per inch: 96 at 100 %.
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $((96 * percent / 100)) /f \
    >/dev/null 2>&1
status=0
WINEQT_QPA_PLATFORM=windows timeout 120 wine "$program" "$(winepath -w "$out")" || status=$?
wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true
exit "$status"
