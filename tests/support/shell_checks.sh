# The checks of the shell tests: each compares what was expected with what came, counts
# it, and names it when it differs; checks_summary prints the counts and fails when any
# check failed. Source it.
passed=0
failed=0
check() {  # check NAME EXPECTED ACTUAL
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $1: expected [$2], got [$3]"
    fi
}
checks_summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
}
# A little-endian 32-bit word of FILE at byte OFFSET, in decimal (PE headers).
le32_at() {  # FILE OFFSET
    od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '
}
