#!/bin/sh
# Started where no display can be opened, kelvara says so in one line and exits with status 1.
kelvara="$1"
err=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$kelvara" stray-argument 2>&1 >/dev/null)
status=$?
expected="kelvara: cannot open a display for the window; kelvara-cli makes the same command lists without one"
if [ "$status" -ne 1 ] || [ "$err" != "$expected" ]; then
    echo "status $status, stderr:"; echo "$err"
    exit 1
fi
echo "status 1 and one line on stderr, as expected"
