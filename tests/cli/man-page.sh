#!/bin/sh
# Every option that kelvara-cli --help names is documented in the manual page too.
cli="$1"; page="$2"
documented=$(sed 's/\\-/-/g' "$page")
missing=0
for option in $("$cli" --help | grep -oE -- '--[a-z]+' | sort -u); do
    if ! printf '%s\n' "$documented" | grep -q -- "$option"; then
        echo "the manual page does not mention $option"
        missing=1
    fi
done
[ "$missing" -eq 0 ] && echo "every option of --help is in the manual page"
exit "$missing"
