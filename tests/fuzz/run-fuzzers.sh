#!/usr/bin/env bash
# Runs every fuzz target of the fuzz build for a given time each, starting from
# its seed corpus; new inputs go to build/fuzz/corpus/<target>. Prints one line
# per target (executions, outcome) and a closing count; non-zero on any crash.
#
# Usage: run-fuzzers.sh [SECONDS_PER_TARGET]
set -uo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$here/../.." && pwd)/build/fuzz
passed=0 failed=0
for seeds in "$here"/corpus/*/; do
    target=$(basename "$seeds")
    binary="$build/tests/fuzz/$target"
    work="$build/corpus/$target"
    mkdir -p "$work" "$build/crashes/$target"
    log="$build/$target.log"
    if [ ! -x "$binary" ]; then
        echo "FAIL $target: not built"
        failed=$((failed + 1))
        continue
    fi
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$target/" "$work" "$seeds" >"$log" 2>&1
    status=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    if [ $status -eq 0 ] && ! grep -q -E 'ERROR: (AddressSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:' "$log"; then
        echo "PASS $target: ${runs:-0} executions in ${seconds}s, no crash, no sanitizer report"
        grep -h 'libmsi reader crashes' "$log" | tail -1 | sed 's/^/     /'
        passed=$((passed + 1))
    else
        echo "FAIL $target: exit $status after ${runs:-?} executions; see $log"
        grep -m 5 -E 'ERROR|runtime error|property violated' "$log"
        failed=$((failed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
