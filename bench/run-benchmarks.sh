#!/usr/bin/env bash
# Whole-process benchmarks of the Linux build, each command measured beside
# its reference in the same run: the extract mode against cp, the install mode
# (quiet) at 1,000, 10,000 and 100,000 installed target products, the install
# mode with a candidate text at its 255-character limit, the patch-list export
# with 1,000 and 10,000 descriptions, and the list mode against the extract
# mode. Prints one table, the ratios last.
#
# Usage: bench/run-benchmarks.sh [BUILD_DIR]   (default build/linux-release,
#        which must hold spinstall, rccompile and make-scaled-package)
# ROUNDS and the per-round run counts below trade time for steadiness.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
build=$(cd "${1:-$source_dir/build/linux-release}" && pwd)
exe=$build/spinstall
work=$build/bench
rounds=${ROUNDS:-5}
mkdir -p "$work"
cd "$work"

for tool in hyperfine jq /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "run-benchmarks: $tool is missing (make deps)" >&2; exit 1; }
done

# Every run of the executable gets /dev/null as input, so that no message box
# waits for Enter.
exec </dev/null

note() { printf '%s\n' "$*" >&2; }

# ---- Inputs ----------------------------------------------------------------------

package=$build/resources/spinstall.msp
package_bytes=$(stat -c %s "$package")
cp "$package" source.msp

scales=(1000 10000 100000)
for n in "${scales[@]}"; do
    if [ ! -s "machine-$n.reg" ] || [ ! -s "package-$n.res" ]; then
        note "Generating a machine with $n installed products..."
        "$here/make-scaled-inputs.sh" "$n" "codes-$n.txt" "machine-$n.reg"
        "$build/make-scaled-package" "package-$n.msp" "codes-$n.txt"
        printf 'LANGUAGE 0x16, 1\nIDR_MSP MSP "package-%s.msp"\n' "$n" > "package-$n.rc"
        "$build/rccompile" -I . -o "package-$n.res" "package-$n.rc"
    fi
    mkdir -p "root-$n"
done

# String 900 near its 255-character limit, the installed version last.
if [ ! -s "long-candidates.res" ]; then
    candidates=""
    for k in $(seq 1 27); do candidates+="7.0.0.$((k + 10)),"; done
    candidates+="7.0.43.6,"
    {
        printf 'LANGUAGE 0x16, 1\nIDR_MSP MSP "package-10000.msp"\n'
        printf 'LANGUAGE 0x09, 1\nSTRINGTABLE\nBEGIN\n    900 "%s"\nEND\n' "$candidates"
    } > long-candidates.rc
    "$build/rccompile" -I . -o long-candidates.res long-candidates.rc
fi
long_candidates_length=$(grep -o '900 "[^"]*"' long-candidates.rc | sed 's/900 "//; s/"$//' | tr -d '\n' | wc -c)

# Descriptions 206 upward, each the shipped one.
for d in 1000 10000; do
    if [ ! -s "descriptions-$d.res" ]; then
        { printf 'LANGUAGE 0x16, 1\n'; for k in $(seq 206 $((206 + d - 1))); do printf '%s TXT "patch206.txt"\n' "$k"; done; } \
            > "descriptions-$d.rc"
        "$build/rccompile" -I "$source_dir/resources" -o "descriptions-$d.res" "descriptions-$d.rc"
    fi
done
mkdir -p root-side

# ---- Correctness of what is timed ---------------------------------------------

export SIMWIN_ROOT=$work/root-side

"$exe" /e check.msp
cmp -s check.msp "$package" || { echo "run-benchmarks: /e did not write the package" >&2; exit 1; }
for n in "${scales[@]}"; do
    cp "machine-$n.reg" "run-$n.reg"
    SIMWIN_ROOT=root-$n SIMWIN_MACHINE=run-$n.reg SIMWIN_RESOURCES=package-$n.res "$exe" /q
    patched=$(grep -c '^"DisplayVersion"="7.2.0.2"' "run-$n.reg" || true)
    [ "$patched" -eq "$n" ] || { echo "run-benchmarks: $patched of $n products patched" >&2; exit 1; }
done

# ---- Timing ------------------------------------------------------------------------

# hyperfine runs each command's runs one after the other; the rounds alternate
# the commands' order, so that the medians come from interleaved runs.
# bench NAME RUNS CMD... (each CMD "label|prepare|command"); hyperfine runs
# without a shell (-N), so a prepare command names no pattern of its own.
declare -A median_ms
bench() {
    local name=$1 runs=$2
    shift 2
    local specs=("$@") round
    for round in $(seq 1 "$rounds"); do
        local args=(-N --style none --warmup "$warmup" --runs "$runs" --export-json "$name-$round.json")
        local order=("${specs[@]}")
        if [ $((round % 2)) -eq 0 ]; then
            order=()
            for ((k = ${#specs[@]} - 1; k >= 0; k--)); do order+=("${specs[k]}"); done
        fi
        local spec
        for spec in "${order[@]}"; do
            IFS='|' read -r label prepare command <<<"$spec"
            args+=(--prepare "${prepare:-true}" -n "$label" "$command")
        done
        hyperfine "${args[@]}" >/dev/null
    done
    local spec
    for spec in "${specs[@]}"; do
        IFS='|' read -r label _ _ <<<"$spec"
        median_ms[$label]=$(jq -s --arg wanted "$label" \
            '[.[].results[] | select(.command == $wanted) | .times[]] | sort |
             (if length % 2 == 1 then .[length / 2 | floor] else (.[length / 2 - 1] + .[length / 2]) / 2 end) * 1000' \
            "$name"-*.json)
        runs_of[$label]=$(jq -s --arg wanted "$label" '[.[].results[] | select(.command == $wanted) | .times[]] | length' \
            "$name"-*.json)
    done
}
declare -A runs_of

warmup=3
note "Timing /e against cp..."
bench extract 6 \
    "spinstall /e||$exe /e $work/extracted.msp" \
    "cp||cp $work/source.msp $work/copied.msp"

note "Timing the install mode at 1,000, 10,000 and 100,000 products..."
install_specs=()
for n in "${scales[@]}"; do
    install_specs+=("install $n|cp $work/machine-$n.reg $work/run-$n.reg|env SIMWIN_ROOT=$work/root-$n SIMWIN_MACHINE=$work/run-$n.reg SIMWIN_RESOURCES=$work/package-$n.res $exe /q")
done
install_specs+=("install 10000, long candidates|cp $work/machine-10000.reg $work/run-long.reg|env SIMWIN_ROOT=$work/root-10000 SIMWIN_MACHINE=$work/run-long.reg SIMWIN_RESOURCES=$work/long-candidates.res $exe /q")
ROUNDS_SAVED=$rounds
rounds=${INSTALL_ROUNDS:-3}
warmup=1
bench install 3 "${install_specs[@]}"

note "Timing /p with 1,000 and 10,000 descriptions, /i against /e..."
rounds=$ROUNDS_SAVED
warmup=2
temp=$work/root-side/c/users/simuser/Temp
bench side 4 \
    "spinstall /p (1000)|rm -f $work/list-1000.txt|env SIMWIN_RESOURCES=$work/descriptions-1000.res $exe /p $work/list-1000.txt" \
    "spinstall /p (10000)|rm -f $work/list-10000.txt|env SIMWIN_RESOURCES=$work/descriptions-10000.res $exe /p $work/list-10000.txt" \
    "spinstall /i|find $temp -name MSP* -delete|$exe /i" \
    "spinstall /e (temporary)|find $temp -name MSP* -delete|$exe /e"

list_bytes=$(stat -c %s list-10000.txt)

note "Measuring the peak memory of /e..."
peak_kb=0
for _ in 1 2 3 4 5; do
    kb=$(/usr/bin/time -f %M "$exe" /e "$work/extracted.msp" 2>&1 >/dev/null | tail -1)
    [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
done

# ---- The table ---------------------------------------------------------------------

ms() { printf '%.1f' "${median_ms[$1]}"; }
ratio() { jq -n --argjson a "${median_ms[$1]}" --argjson b "${median_ms[$2]}" '$a / $b * 100 | round / 100'; }

printf '\n%-44s %12s %6s\n' "command" "median ms" "runs"
printf '%-44s %12s %6s\n' "-------" "---------" "----"
for label in "spinstall /e" "cp" "install 1000" "install 10000" "install 100000" "install 10000, long candidates" \
    "spinstall /p (1000)" "spinstall /p (10000)" "spinstall /i" "spinstall /e (temporary)"; do
    printf '%-44s %12s %6s\n' "$label" "$(ms "$label")" "${runs_of[$label]}"
done
printf '\n%-60s %10s %s\n' "ratio" "value" "goal"
printf '%-60s %10s %s\n' "-----" "-----" "----"
printf '%-60s %10s %s\n' "/e ÷ cp (10,015,232-byte package)" "$(ratio "spinstall /e" cp)" "<= 1.2"
printf '%-60s %10s %s\n' "peak RSS of /e − package size (MiB)" \
    "$(jq -n --argjson kb "$peak_kb" --argjson bytes "$package_bytes" '($kb * 1024 - $bytes) / 1048576 * 10 | round / 10')" \
    "< 8 (peak $peak_kb KiB)"
printf '%-60s %10s %s\n' "install: t(10,000) ÷ t(1,000)" "$(ratio "install 10000" "install 1000")" "<= 12"
printf '%-60s %10s %s\n' "install: t(100,000) ÷ t(10,000)" "$(ratio "install 100000" "install 10000")" "<= 12"
printf '%-60s %10s %s\n' "install: t(100,000) in seconds" "$(jq -n --argjson a "${median_ms[install 100000]}" '$a / 1000 * 100 | round / 100')" "a few"
printf '%-60s %10s %s\n' "install 10,000: $long_candidates_length-char candidates ÷ shipped 26" \
    "$(ratio "install 10000, long candidates" "install 10000")" "~1 (walk cost per product small)"
printf '%-60s %10s %s\n' "/p: t(10,000 descriptions) ÷ t(1,000)" "$(ratio "spinstall /p (10000)" "spinstall /p (1000)")" \
    "<= 12 ($list_bytes bytes written)"
printf '%-60s %10s %s\n' "/i ÷ /e to a temporary file" "$(ratio "spinstall /i" "spinstall /e (temporary)")" "(the package read)"
