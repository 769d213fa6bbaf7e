#!/bin/sh
# Runs a Windows test program under Wine for ctest. Wine now and then ends a program at once,
# before a line of the program's own has run: status 1, nothing on either stream (seen about
# once in three thousand starts, in tests that do no I/O at all, so never the test's doing). Such
# a start, and only such a start, is made once more: said so on standard error every time, and
# counted in the file KELVARA_WINE_RESTARTS names, so that a stage where it happens more than
# once fails (scripts/windows-test). A program that ran and failed is not started again.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for try in 1 2; do
    wine "$@" >"$out" 2>"$err"
    status=$?
    # What Wine itself may say on any start (no 32-bit Wine) is not the program's.
    if [ "$status" -ne 1 ] || [ -s "$out" ] ||
       grep -qv -e 'wine32' -e 'multiarch' -e 'dpkg --add-architecture' -e 'apt-get install' "$err"; then
        break
    fi
    if [ "$try" -eq 1 ]; then
        echo "wine-run: Wine ended $1 at once (status 1, no output); starting it again" >&2
        [ -n "${KELVARA_WINE_RESTARTS:-}" ] && echo "$1" >>"$KELVARA_WINE_RESTARTS"
    fi
done
cat "$out"
cat "$err" >&2
exit "$status"
