#!/bin/sh
# Reads built executables and fails unless each is hardened: a position-independent executable,
# full RELRO (GNU_RELRO and immediate binding), a stack protector, and a non-executable stack.
# Fortify rewrites only calls whose bounds it can check, and neither program makes one, so for
# it the build's own record is read: every translation unit must have been compiled with
# _FORTIFY_SOURCE=2.
#   hardening.sh COMPILE_COMMANDS_JSON EXECUTABLE...
set -u
commands="$1"; shift
failed=0
fail() { echo "FAIL: $*"; failed=1; }

for binary in "$@"; do
    name=$(basename "$binary")
    readelf -hW "$binary" | grep -q 'Type:[[:space:]]*DYN' || fail "$name is not position-independent"
    readelf -dW "$binary" | grep -q 'FLAGS_1.*PIE' || fail "$name lacks the PIE flag"
    readelf -lW "$binary" | grep -q 'GNU_RELRO' || fail "$name has no RELRO segment"
    readelf -dW "$binary" | grep -Eq 'BIND_NOW|FLAGS.*NOW' || fail "$name binds lazily (partial RELRO)"
    readelf --dyn-syms -W "$binary" | grep -q '__stack_chk_fail' || fail "$name has no stack protector"
    stack=$(readelf -lW "$binary" | grep 'GNU_STACK')
    [ -n "$stack" ] || fail "$name has no GNU_STACK header"
    echo "$stack" | grep -q 'RWE' && fail "$name has an executable stack"
    [ "$failed" -eq 0 ] && echo "$name: PIE, full RELRO, stack protector, non-executable stack"
done

units=$(grep -c '"file":' "$commands")
fortified=$(grep '"command":' "$commands" | grep -c -- '-D_FORTIFY_SOURCE=2')
if [ "$units" -eq 0 ] || [ "$fortified" -ne "$units" ]; then
    fail "only $fortified of $units translation units were compiled with -D_FORTIFY_SOURCE=2"
else
    echo "all $units translation units compiled with -D_FORTIFY_SOURCE=2"
fi
exit "$failed"
