#!/bin/sh
# wine-run.sh against a stand-in wine: a program ended at once (status 1, nothing said) is
# started once more and counted; one that failed with words, or with another status, is not; a
# stage with two second starts fails. Runs on Linux, no Wine needed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# The stand-in: PROGRAM is "silent" (ends at once the first time, then prints "ran"), "says"
# (fails with a line) or "three" (status 3, nothing said).
cat >"$dir/wine" <<'STANDIN'
#!/bin/sh
case $1 in
silent*) if [ -f "$0.$1" ]; then echo ran; exit 0; fi; touch "$0.$1"; exit 1 ;;
says) echo "no port" >&2; exit 1 ;;
three) exit 3 ;;
esac
STANDIN
chmod +x "$dir/wine"
export PATH="$dir:$PATH" KELVARA_WINE_RESTARTS="$dir/count"
fail() { echo "wine-run-test: $*" >&2; exit 1; }

[ "$(sh "$here/wine-run.sh" silent1 2>"$dir/err")" = ran ] || fail "a silent end was not started again"
grep -q "starting it again" "$dir/err" || fail "the second start was not said"
sh "$here/wine-run.sh" says 2>/dev/null; [ $? -eq 1 ] || fail "a failure with words changed"
sh "$here/wine-run.sh" three 2>/dev/null; [ $? -eq 3 ] || fail "status 3 changed"
[ "$(wc -l <"$KELVARA_WINE_RESTARTS")" -eq 1 ] || fail "only the silent end counts"
. "$here/wine-restarts.sh"
stage_restarts "one" >/dev/null || fail "a stage with one second start failed"
sh "$here/wine-run.sh" silent2 >/dev/null 2>&1
sh "$here/wine-run.sh" silent3 >/dev/null 2>&1
if stage_restarts "two" >/dev/null 2>&1; then fail "a stage with two second starts passed"; fi
echo "wine-run-test: passed"
