#!/usr/bin/env bash
# End-to-end suite: runs the Windows executable under Wine in a fresh prefix
# and checks what it wrote, showed and asked the installer to do.
#
# Usage: run-wine-suite.sh [--exe PATH] [--package PATH] [--resource-script PATH] [--keep] [CHECK...]
#   --exe              the executable (default: build/windows/spinstall.exe of this tree)
#   --package          the package it embeds (default: build/windows/resources/spinstall.msp)
#   --resource-script  the resource script it was built from, whose messages,
#                      version strings and descriptions the checks expect
#                      (default: resources/spinstall.rc of this tree)
#   --keep             leave the temporary folder and its prefix in place
#   CHECK              run only the named checks (see checks.sh)
# Prints one PASS, FAIL or SKIP line per check and "N passed, M failed, K
# skipped"; exits 1 on any failure, 2 when the suite cannot be set up. A check
# skips only when the package under test lacks what it needs (say, a second
# target).
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SOURCE_DIR=$(cd "$HERE/../.." && pwd)
SPINSTALL_EXE=$SOURCE_DIR/build/windows/spinstall.exe
PACKAGE_FILE=$SOURCE_DIR/build/windows/resources/spinstall.msp
RESOURCE_SCRIPT=$SOURCE_DIR/resources/spinstall.rc
KEEP=no
SELECTED=()
while [ $# -gt 0 ]; do
    case $1 in
        --exe) SPINSTALL_EXE=$(realpath "$2"); shift 2 ;;
        --package) PACKAGE_FILE=$(realpath "$2"); shift 2 ;;
        --resource-script) RESOURCE_SCRIPT=$(realpath "$2"); shift 2 ;;
        --keep) KEEP=yes; shift ;;
        -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
        *) SELECTED+=("$1"); shift ;;
    esac
done

setup_error() {
    echo "wine suite: $*" >&2
    exit 2
}

for file in "$SPINSTALL_EXE" "$PACKAGE_FILE" "$RESOURCE_SCRIPT"; do
    [ -f "$file" ] || setup_error "$file not found (build it with: make build-windows)"
done
WINE64=${WINE64:-/usr/lib/wine/wine64}
[ -x "$WINE64" ] || WINE64=$(command -v wine) || setup_error "no Wine loader (/usr/lib/wine/wine64 or wine)"
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver) || setup_error "no wineserver"
for tool in x86_64-w64-mingw32-gcc x86_64-w64-mingw32-windres wixl msiinfo perl timeout; do
    command -v "$tool" >/dev/null || setup_error "$tool is missing"
done

# ---- Checks ----------------------------------------------------------------------

CHECK_NAMES=()
declare -A CHECK_DESCRIPTIONS
add_check() {  # NAME DESCRIPTION
    CHECK_NAMES+=("$1")
    CHECK_DESCRIPTIONS[$1]=$2
}

# shellcheck source=SCRIPTDIR/wine-lib.sh
source "$HERE/wine-lib.sh"
# shellcheck source=SCRIPTDIR/checks.sh
source "$HERE/checks.sh"

if [ ${#SELECTED[@]} -gt 0 ]; then
    for name in "${SELECTED[@]}"; do
        [ -n "${CHECK_DESCRIPTIONS[$name]+set}" ] || setup_error "no check named $name"
    done
    CHECK_NAMES=("${SELECTED[@]}")
fi

# ---- A fresh prefix ----------------------------------------------------------------

SUITE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/spinstall-wine.XXXXXX") || setup_error "no temporary folder"
export WINEPREFIX=$SUITE_TMP/prefix
export WINEDEBUG=-all
# No Mono or Gecko prompts while the prefix is made; no display, so that
# message boxes return at once instead of waiting for a click.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

teardown() {
    timeout 30 "$WINESERVER" -k >/dev/null 2>&1
    timeout 30 "$WINESERVER" -w >/dev/null 2>&1
    if [ "$KEEP" = yes ]; then
        echo "kept $SUITE_TMP"
    else
        rm -rf "$SUITE_TMP"
    fi
}
trap teardown EXIT
trap 'exit 130' INT TERM

seconds_since() {  # START (date +%s.%N)
    awk -v start="$1" -v now="$(date +%s.%N)" 'BEGIN { print now - start }'
}

mkdir -p "$WINEPREFIX" "$SUITE_TMP/work" "$SUITE_TMP/products"
suite_start=$(date +%s.%N)
# A persistent server keeps every later Wine process from starting its own.
"$WINESERVER" -p || setup_error "wineserver did not start"
timeout -k 5 300 "$WINE64" wineboot -i >"$SUITE_TMP/wineboot.log" 2>&1 ||
    setup_error "wineboot -i failed: $(tail -n 5 "$SUITE_TMP/wineboot.log")"
boot_seconds=$(seconds_since "$suite_start")

# The calls that checks read from the relay trace.
wine_reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ \
    /d 'user32.MessageBoxW;msi.MsiConfigureProductExW' /f >/dev/null ||
    setup_error "could not set RelayInclude"

WINE_TEMP_DIR=$WINEPREFIX/drive_c/users/$(id -un)/Temp
[ -d "$WINE_TEMP_DIR" ] || setup_error "no temporary folder $WINE_TEMP_DIR in the prefix"

printf 'wine suite: %s under %s, fresh prefix in %.1f s\n' "$SPINSTALL_EXE" "$("$WINE64" --version)" "$boot_seconds"

# ---- Run ---------------------------------------------------------------------------

passed=0
failed=0
skipped=0
for name in "${CHECK_NAMES[@]}"; do
    output=$SUITE_TMP/work/$name.out
    check_start=$(date +%s.%N)
    status=0
    ("check_$name") >"$output" 2>&1 || status=$?
    took=$(printf '%.1f s' "$(seconds_since "$check_start")")
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        printf 'PASS  %s: %s (%s)\n' "$name" "${CHECK_DESCRIPTIONS[$name]}" "$took"
    elif [ "$status" -eq "$SKIP_STATUS" ]; then
        skipped=$((skipped + 1))
        printf 'SKIP  %s: %s: %s\n' "$name" "${CHECK_DESCRIPTIONS[$name]}" "$(tail -n 1 "$output")"
    else
        failed=$((failed + 1))
        printf 'FAIL  %s: %s (%s)\n' "$name" "${CHECK_DESCRIPTIONS[$name]}" "$took"
        sed 's/^/      /' "$output"
    fi
done

printf 'wine suite: %.1f s in all\n' "$(seconds_since "$suite_start")"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
