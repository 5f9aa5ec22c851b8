#!/usr/bin/env bash
# Builds the stand-in patch package: a real installer compound file made with
# msibuild, whose summary information names the target products (property 7)
# and the patch GUID (revision number), with a small StandInPatch table giving
# the product version the patch brings (read only by the simulated installer
# service), and a payload stream that brings the file to an exact size.
# Deterministic: the same arguments give the same bytes.
#
# Usage: make-standin-package.sh OUT.msp TARGET_LIST PATCH_GUID NEW_VERSION TOTAL_BYTES
set -euo pipefail

out=$1 targets=$2 patch_guid=$3 new_version=$4 total=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

build() {  # $1: payload size in bytes
    rm -f "$work/pkg.msp"
    msibuild "$work/pkg.msp" -s "Quorvane Mervolt 9.2 Service Pack 3" "Quorvane" "$targets" "$patch_guid"
    printf 'Property\tValue\ns72\tl0\nStandInPatch\tProperty\nProductVersion\t%s\n' "$new_version" \
        > "$work/StandInPatch.idt"
    msibuild "$work/pkg.msp" -i "$work/StandInPatch.idt"
    # Varied, repeatable bytes: numbered lines.
    seq -f '%015g' 1 $(( $1 / 16 + 1 )) | head -c "$1" > "$work/payload.bin"
    msibuild "$work/pkg.msp" -a payload "$work/payload.bin"
    stat -c %s "$work/pkg.msp"
}

# The file grows in 512-byte sectors plus allocation tables, so step towards the
# total and then walk down sector by sector when a table sector overshoots.
payload=$(( total > 200000 ? total - 100000 : total / 2 ))
for _ in $(seq 1 40); do
    size=$(build "$payload")
    if [ "$size" -eq "$total" ]; then
        cp "$work/pkg.msp" "$out"
        exit 0
    fi
    step=$(( total - size ))
    if [ "$step" -lt 0 ] && [ "$step" -gt -512 ]; then step=-512; fi
    payload=$(( payload + step ))
    [ "$payload" -gt 0 ] || payload=4096
done
echo "make-standin-package: no payload size gives $total bytes" >&2
exit 1
