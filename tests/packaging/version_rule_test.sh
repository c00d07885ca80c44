#!/usr/bin/env bash
# The rule that a version given to the build (make dist VERSION=...) must follow: three
# numbers, each a 16-bit word of the version resource, written without leading zeros.
#   tests/packaging/version_rule_test.sh
set -u
here="$(cd "$(dirname "$0")" && pwd)"
passed=0
failed=0
# VERSION | the words taken, or "refused"
while IFS='|' read -r version expected; do
    if words=$(cmake -DVERSION="$version" -P "$here/version_rule.cmake" 2>&1); then
        actual=$words
    else
        actual=refused
    fi
    if [ "$actual" = "$expected" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: version [$version]: expected [$expected], got [$actual]"
    fi
done <<'TABLE'
0.9.0|0;9;0
1.20.300|1;20;300
65535.65535.65535|65535;65535;65535
|refused
1.2|refused
1.2.3.4|refused
01.2.3|refused
1.2.x|refused
v1.2.3|refused
1.2.3-rc1|refused
1.-2.3|refused
1.2.65536|refused
1.2.99999999999999999999|refused
TABLE
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
