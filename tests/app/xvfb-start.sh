#!/bin/sh
# Starts the real program on an X server (Xvfb) and checks what the window manager would see:
# a 520 x 384 window titled "Kelvara V1.02", with an icon, that cannot be resized.
#   xvfb-start.sh KELVARA   (run under scripts/with-xvfb)
kelvara="$1"
log=$(mktemp)
QT_QPA_PLATFORM=xcb "$kelvara" 2>"$log" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -f "$log"' EXIT

i=0
until xwininfo -name "Kelvara V1.02" 2>/dev/null | grep -q "Map State: IsViewable"; do
    i=$((i + 1))
    if [ $i -gt 200 ]; then
        echo "no window titled 'Kelvara V1.02' was mapped; the program said:"
        cat "$log"
        kill -0 $pid 2>/dev/null && echo "(it is still running)"
        exit 1
    fi
    sleep 0.05
done
info=$(xwininfo -name "Kelvara V1.02")
props=$(xprop -name "Kelvara V1.02")
failed=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failed=1; fi; }
check "its client area is 520 x 384" 'echo "$info" | grep -q "Width: 520" && echo "$info" | grep -q "Height: 384"'
check "it carries an icon" 'echo "$props" | grep -q "^_NET_WM_ICON(CARDINAL)"'
check "its minimum and maximum sizes are both 520 x 384" \
    'echo "$props" | grep -q "program specified minimum size: 520 by 384" &&
     echo "$props" | grep -q "program specified maximum size: 520 by 384"'
check "it belongs to the started process" 'echo "$props" | grep -q "_NET_WM_PID(CARDINAL) = $pid"'
exit $failed
