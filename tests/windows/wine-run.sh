#!/bin/sh
# Runs a Windows test program under Wine for ctest. Wine now and then ends a program at once,
# before a line of the program's own has run: status 1, nothing on either stream (seen about
# once in three thousand starts, in tests that do no I/O at all, so never the test's doing). Such
# a start, and only such a start, is made once more, and said so on standard error; a program
# that ran and failed is not started again.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for try in 1 2; do
    wine "$@" >"$out" 2>"$err"
    status=$?
    # What Wine itself may say on any start (no 32-bit Wine) is not the program's.
    if [ "$status" -eq 0 ] || [ -s "$out" ] ||
       grep -qv -e 'wine32' -e 'multiarch' -e 'dpkg --add-architecture' -e 'apt-get install' "$err"; then
        break
    fi
    [ "$try" -eq 1 ] && echo "wine-run: Wine ended $1 at once (status $status, no output); starting it again" >&2
done
cat "$out"
cat "$err" >&2
exit "$status"
