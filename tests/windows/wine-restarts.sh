# stage_restarts NAME: says how often, in the stage just run, Wine ended a program at once and it
# was started again (the lines of the file KELVARA_WINE_RESTARTS names), empties the count, and
# fails the stage when it was more than once: once is Wine's own, twice is more than Wine has
# shown here, and may hide a fault of ours.
stage_restarts() {
    count=0
    [ -f "$KELVARA_WINE_RESTARTS" ] && count=$(wc -l <"$KELVARA_WINE_RESTARTS")
    echo "   second starts under Wine in this stage: $count"
    rm -f "$KELVARA_WINE_RESTARTS"
    if [ "$count" -gt 1 ]; then
        echo "windows-test: $1: Wine needed a second start $count times" >&2
        return 1
    fi
}
