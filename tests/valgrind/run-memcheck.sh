#!/usr/bin/env bash
# Runs the Linux executable (a build without sanitizers) under valgrind memcheck
# on each main path, every one on a fresh simulated machine: the install mode
# on the demo machine, /e x, /e, /p f, /p and /i. A path passes when memcheck
# reports no error and no definite or indirect leak in any process of the run
# (children are traced: the simulated installer's package reader, whether
# forked or started anew, is checked too), and the path did what it does. Memory that GLib and libmsi
# keep for the life of the process is still reachable and allowed; libmsi's
# own leak per opened package is suppressed (libmsi.supp) and counted.
#
# Prints one PASS/FAIL line per path and "N passed, M failed"; non-zero when
# any path failed.
#
# Usage: run-memcheck.sh SPINSTALL_EXECUTABLE [WORK_FOLDER]
set -uo pipefail

executable=$(readlink -f "${1:?usage: run-memcheck.sh SPINSTALL_EXECUTABLE [WORK_FOLDER]}")
work=${2:-$(mktemp -d "${TMPDIR:-/tmp}/spinstall-memcheck.XXXXXX")}
package_size=10015232
suppressions="$(cd "$(dirname "$0")" && pwd)/libmsi.supp"

if ! command -v valgrind >/dev/null; then
    echo "FAIL valgrind is not installed"
    exit 1
fi
if [ ! -x "$executable" ]; then
    echo "FAIL $executable: no executable"
    exit 1
fi
if nm -D "$executable" 2>/dev/null | grep -q __asan_init || nm "$executable" 2>/dev/null | grep -q __asan_init; then
    echo "FAIL $executable is built with AddressSanitizer, which memcheck cannot run"
    exit 1
fi

passed=0 failed=0

# What each path must have done, checked in its machine folder $root.
check_install() {
    grep -q $'^box\t0x50040\t1031\t' "$root/log" &&
        grep -q $'^msi\tMsiConfigureProductExW\t{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846}\t.*\t0$' "$root/log" &&
        [ -z "$(ls -A "$root/c/users/simuser/Temp")" ]
}
check_extract_path() { [ "$(stat -c %s "$root/c/work/x.msp" 2>/dev/null)" = "$package_size" ]; }
check_extract_temporary() {
    local files=("$root"/c/users/simuser/Temp/MSP*)
    [ ${#files[@]} -eq 1 ] && [ "$(stat -c %s "${files[0]}" 2>/dev/null)" = "$package_size" ]
}
check_patch_list_path() { [ "$(stat -c %s "$root/c/work/list.txt" 2>/dev/null)" = 1261 ] && [ ! -s "$root/log" ]; }
check_patch_list_default() { [ "$(stat -c %s "$root/c/work/patchlist8C3E.txt" 2>/dev/null)" = 1261 ]; }
check_list() { grep -q $'^box\t0x50000\t.*\tList of Products\t{4F7D2A19-8C3E-4B61-A5D0-9E2F71C3B846};' "$root/log"; }

# name|check|arguments
paths=(
    "install on the demo machine|check_install|"
    "/e x.msp|check_extract_path|/e x.msp"
    "/e|check_extract_temporary|/e"
    "/p list.txt|check_patch_list_path|/p list.txt"
    "/p|check_patch_list_default|/p"
    "/i|check_list|/i"
)

index=0
for entry in "${paths[@]}"; do
    IFS='|' read -r name check arguments <<<"$entry"
    index=$((index + 1))
    root="$work/path$index"
    rm -rf "$root"
    mkdir -p "$root/c/work"
    # shellcheck disable=SC2086 # the arguments are split on purpose
    (cd "$root/c/work" &&
        SIMWIN_ROOT="$root" SIMWIN_MACHINE="$root/machine.reg" SIMWIN_LOG="$root/log" \
            valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
            --errors-for-leak-kinds=definite,indirect --track-origins=yes --trace-children=yes \
            --suppressions="$suppressions" --num-callers=50 \
            --child-silent-after-fork=no --log-file="$root/memcheck.%p.log" \
            "$executable" $arguments </dev/null >"$root/output" 2>&1)
    status=$?
    touch "$root/log"

    problems=""
    logs=("$root"/memcheck.*.log)
    [ -e "${logs[0]}" ] || problems="no memcheck log"
    for log in "${logs[@]}"; do
        [ -e "$log" ] || continue
        summary=$(grep -o 'ERROR SUMMARY: [0-9]* errors' "$log" | tail -1)
        if [ -z "$summary" ]; then
            problems="$problems; $(basename "$log"): no summary (killed?)"
        elif [ "$summary" != "ERROR SUMMARY: 0 errors" ]; then
            problems="$problems; $(basename "$log"): ${summary#ERROR SUMMARY: }"
        fi
        for kind in definitely indirectly; do
            lost=$(grep -o "$kind lost: [0-9,]* bytes" "$log" | tail -1)
            if [ -n "$lost" ] && [ "$lost" != "$kind lost: 0 bytes" ]; then
                problems="$problems; $(basename "$log"): $lost"
            fi
        done
    done
    [ $status -eq 0 ] || problems="$problems; exit code $status"
    $check || problems="$problems; the path did not do its work (see $root)"

    suppressed=$(cat "${logs[@]}" 2>/dev/null | grep -o 'suppressed: [0-9,]* bytes' | tr -dc '0-9\n' |
        awk '{ total += $1 } END { print total + 0 }')
    if [ -z "$problems" ]; then
        echo "PASS $name: no errors, no definite or indirect leaks in ${#logs[@]} process(es)" \
            "(libmsi's own: $suppressed bytes suppressed)"
        passed=$((passed + 1))
    else
        echo "FAIL $name: ${problems#; }"
        grep -h -A 12 -E '^==[0-9]+== (Invalid|Conditional|Use of|Syscall param|Mismatched|[0-9,]+ bytes in [0-9,]+ blocks are (definitely|indirectly))' \
            "${logs[@]}" 2>/dev/null | head -40
        failed=$((failed + 1))
    fi
done

echo "memcheck: $passed passed, $failed failed"
[ $failed -eq 0 ]
