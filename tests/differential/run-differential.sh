#!/usr/bin/env bash
# Differential checks: runs the cases of cases.txt through the probe on the
# simulated platform and through the same probe built for Windows under Wine
# (a fresh prefix), and compares the two result lines of every case. Packed
# product codes are compared with the key names that Wine's installer writes
# for products installed with those codes.
#
# Usage: run-differential.sh --sim-probe PATH --package-dir DIR [--windows-build DIR] [--keep] [SECTION...]
#   --sim-probe      the probe of a Linux build (differential_probe)
#   --package-dir    the folder holding that build's spinstall.msp (its resources/)
#   --windows-build  where the Windows probe is built (default: beside the Linux probe)
#   --keep           leave the temporary folder and its prefix in place
#   SECTION          run only the named sections of cases.txt
# Prints one PASS or FAIL line per case and "N passed, M failed"; exits 1 on
# any failure, 2 when the run cannot be set up.
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SOURCE_DIR=$(cd "$HERE/../.." && pwd)
CASES=$HERE/cases.txt
SIM_PROBE=""
PACKAGE_DIR=""
WINDOWS_BUILD=""
KEEP=no
SELECTED=()
while [ $# -gt 0 ]; do
    case $1 in
        --sim-probe) SIM_PROBE=$(realpath "$2"); shift 2 ;;
        --package-dir) PACKAGE_DIR=$(realpath "$2"); shift 2 ;;
        --windows-build) WINDOWS_BUILD=$(realpath -m "$2"); shift 2 ;;
        --keep) KEEP=yes; shift ;;
        -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
        *) SELECTED+=("$1"); shift ;;
    esac
done

setup_error() {
    echo "differential: $*" >&2
    exit 2
}

[ -x "$SIM_PROBE" ] || setup_error "no simulated probe (--sim-probe)"
[ -f "$PACKAGE_DIR/spinstall.msp" ] || setup_error "no spinstall.msp in '$PACKAGE_DIR' (--package-dir)"
[ -n "$WINDOWS_BUILD" ] || WINDOWS_BUILD=$(dirname "$SIM_PROBE")/differential-windows
WINE64=${WINE64:-/usr/lib/wine/wine64}
[ -x "$WINE64" ] || WINE64=$(command -v wine) || setup_error "no Wine loader (/usr/lib/wine/wine64 or wine)"
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver64}
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver) || setup_error "no wineserver"
for tool in x86_64-w64-mingw32-g++ x86_64-w64-mingw32-gcc x86_64-w64-mingw32-windres cmake ninja wixl msibuild timeout; do
    command -v "$tool" >/dev/null || setup_error "$tool is missing"
done

seconds_since() {  # START (date +%s.%N)
    awk -v start="$1" -v now="$(date +%s.%N)" 'BEGIN { printf "%.1f", now - start }'
}
run_start=$(date +%s.%N)

# ---- The work folder and the prefix ---------------------------------------------

SUITE_TMP=$(mktemp -d "${TMPDIR:-/tmp}/spinstall-differential.XXXXXX") || setup_error "no temporary folder"
export WINEPREFIX=$SUITE_TMP/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The two roots have names of one length, so that lengths in results agree.
SIM_ROOT=$SUITE_TMP/sim
WINE_ROOT=$SUITE_TMP/win
SHARED=$SUITE_TMP/shared
mkdir -p "$WINEPREFIX" "$SUITE_TMP/work" "$SUITE_TMP/products" "$SIM_ROOT" "$WINE_ROOT" "$SHARED" "$SUITE_TMP/out"

boot_pid=""
teardown() {
    [ -z "$boot_pid" ] || wait "$boot_pid" 2>/dev/null
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

# shellcheck source=SCRIPTDIR/../wine/wine-lib.sh
source "$SOURCE_DIR/tests/wine/wine-lib.sh"

# The prefix boots while the Windows probe and the modules are built.
"$WINESERVER" -p || setup_error "wineserver did not start"
timeout -k 5 300 "$WINE64" wineboot -i >"$SUITE_TMP/wineboot.log" 2>&1 &
boot_pid=$!

# ---- The Windows probe -------------------------------------------------------------

if [ ! -f "$WINDOWS_BUILD/build.ninja" ] ||
    ! grep -qxF "SPINSTALL_PACKAGE_DIR:UNINITIALIZED=$PACKAGE_DIR" "$WINDOWS_BUILD/CMakeCache.txt"; then
    cmake -S "$HERE/windows" -B "$WINDOWS_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$SOURCE_DIR/cmake/mingw-w64.cmake" \
        -DSPINSTALL_SOURCE_DIR="$SOURCE_DIR" -DSPINSTALL_PACKAGE_DIR="$PACKAGE_DIR" \
        >"$SUITE_TMP/configure.log" 2>&1 ||
        setup_error "configuring the Windows probe failed: $(tail -n 5 "$SUITE_TMP/configure.log")"
fi
cmake --build "$WINDOWS_BUILD" >"$SUITE_TMP/build.log" 2>&1 ||
    setup_error "building the Windows probe failed: $(tail -n 20 "$SUITE_TMP/build.log")"
WINDOWS_PROBE=$WINDOWS_BUILD/probe.exe

# ---- Version modules ---------------------------------------------------------------

make_module() {  # NAME FILE_VERSION [PRODUCT_VERSION]
    "$SOURCE_DIR/tools/make-version-module.sh" "$2" "$SHARED/$1" ${3:+"$3"} >>"$SUITE_TMP/modules.log" 2>&1 ||
        setup_error "make-version-module.sh $2 failed: $(tail -n 5 "$SUITE_TMP/modules.log")"
}
make_module v7202.dll 7.2.0.2 7.0.43.3
make_module v65535.dll 65535.0.1.2
make_module v0000.dll 0.0.0.0
make_module kelmora.zpq 7.0.43.6
make_module none.dll none
printf 'not a module\n' >"$SHARED/notpe.txt"

wait "$boot_pid" || setup_error "wineboot -i failed: $(tail -n 5 "$SUITE_TMP/wineboot.log")"
boot_pid=""

# ---- Sections ----------------------------------------------------------------------

# The case lines of one section.
section_lines() {  # NAME
    awk -v name="$1" '
        /^\[/ { inside = (substr($1, 2, length($1) - 2) == name); next }
        inside' "$CASES"
}

# The "wine-env" assignments of a section's header.
section_wine_env() {  # NAME
    awk -v name="$1" '
        /^\[/ && substr($1, 2, length($1) - 2) == name {
            for (i = 2; i < NF; i++) if ($i == "wine-env") print $(i + 1)
        }' "$CASES"
}

mapfile -t SECTIONS < <(awk '/^\[/ { print substr($1, 2, length($1) - 2) }' "$CASES")
if [ ${#SELECTED[@]} -gt 0 ]; then
    for name in "${SELECTED[@]}"; do
        printf '%s\n' "${SECTIONS[@]}" | grep -qxF "$name" || setup_error "no section named $name"
    done
    SECTIONS=("${SELECTED[@]}")
fi

# Both probes run with their own root as the current folder.
run_section() {  # NAME
    local name=$1 lines=$SUITE_TMP/work/$1.cases env=()
    mapfile -t env < <(section_wine_env "$name")
    mkdir -p "$SIM_ROOT/$name" "$WINE_ROOT/$name"
    (cd "$SIM_ROOT/$name" && timeout -k 5 60 "$SIM_PROBE" "$(windows_path "$SIM_ROOT/$name")" "$(windows_path "$SHARED")") \
        <"$lines" >"$SUITE_TMP/out/$name.sim" 2>"$SUITE_TMP/out/$name.sim.err" ||
        echo "!setup	the simulated probe exited with $?" >>"$SUITE_TMP/out/$name.sim"
    (cd "$WINE_ROOT/$name" && env "${env[@]}" WINEDEBUG=-all timeout -k 5 "$WINE_TIMEOUT" "$WINE64" "$WINDOWS_PROBE" \
        "$(windows_path "$WINE_ROOT/$name")" "$(windows_path "$SHARED")") \
        <"$lines" >"$SUITE_TMP/out/$name.wine" 2>"$SUITE_TMP/out/$name.wine.err" ||
        echo "!setup	the Windows probe exited with $?" >>"$SUITE_TMP/out/$name.wine"
}

# ---- Packed codes against the installer's keys -------------------------------------

CLASSES_PRODUCTS='HKCR\Installer\Products'
USERDATA_PRODUCTS='HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Products'

# reg names the subkeys in full (HKEY_CLASSES_ROOT\...), one component below KEY.
subkey_names() {  # KEY
    local depth
    depth=$(awk -F '\\' '{ print NF + 1 }' <<<"$1")
    wine_reg query "$1" 2>/dev/null | tr -d '\r' | awk -F '\\' -v depth="$depth" '/^HKEY_/ && NF == depth { print $NF }' | sort
}

declare -A CLASSES_KEYS=() USERDATA_KEYS=()

# A stand-in product with exactly this code. wixl writes the product code in
# upper case; the package is given the code as written, since the installer
# registers the product under the code's own letters.
install_code() {  # CODE
    local folder
    folder=$(mktemp -d "$SUITE_TMP/products/product.XXXXXX")
    build_product_package "$folder/product.msi" "$1" 7.0.43.6 1033 &&
        msibuild "$folder/product.msi" -q "UPDATE Property SET Value='$1' WHERE Property='ProductCode'" &&
        wine_cmd msiexec /i "$(windows_path "$folder/product.msi")" /qn
}

# Installs a stand-in product for each "install" line of a section, one at a
# time, and records the key names that appeared for its code.
install_section_products() {  # CASE_LINES
    local code before_classes before_userdata
    while IFS= read -r code; do
        before_classes=$(subkey_names "$CLASSES_PRODUCTS")
        before_userdata=$(subkey_names "$USERDATA_PRODUCTS")
        install_code "$code" >>"$SUITE_TMP/install.log" 2>&1 || continue
        CLASSES_KEYS[$code]=$(comm -13 <(printf '%s\n' "$before_classes") <(subkey_names "$CLASSES_PRODUCTS") | paste -sd,)
        USERDATA_KEYS[$code]=$(comm -13 <(printf '%s\n' "$before_userdata") <(subkey_names "$USERDATA_PRODUCTS") | paste -sd,)
    done < <(sed -n 's/^install: //p' "$1")
}

uninstall_section_products() {  # CASE_LINES
    local code
    while IFS= read -r code; do
        uninstall_product "$code" >>"$SUITE_TMP/install.log" 2>&1
    done < <(sed -n 's/^install: //p' "$1")
}

# Each "pack" result of the simulated side against the keys of its code.
compare_packed() {  # CASE_LINES SIM_FILE
    local line name code packed
    while IFS= read -r line; do
        [[ $line =~ ^pack\ ([^:]+):\ (.*)$ ]] || continue
        name=${BASH_REMATCH[1]}
        code=${BASH_REMATCH[2]}
        packed=$(awk -F '\t' -v name="$name" '$1 == name { print $2 }' "$2")
        report "installer-keys:$name" "classes=$packed userdata=$packed" \
            "classes=${CLASSES_KEYS[$code]-"(not installed)"} userdata=${USERDATA_KEYS[$code]-"(not installed)"}"
    done <"$1"
}

# ---- Comparison --------------------------------------------------------------------

passed=0
failed=0
report() {  # NAME SIM WINE
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1))
        printf 'PASS  %s: %s\n' "$1" "$2"
    else
        failed=$((failed + 1))
        printf 'FAIL  %s\n      simulated: %s\n      wine:      %s\n' "$1" "$2" "$3"
    fi
}

# Pairs the two outputs by case name, in the order of the simulated side.
compare() {  # SIM_FILE WINE_FILE
    local name result other
    declare -A wine_results=() seen=()
    while IFS=$'\t' read -r name result; do
        if [ "$name" = "!setup" ]; then
            report "setup (wine)" "" "$result"
            continue
        fi
        wine_results[$name]=$result
    done <"$2"
    while IFS=$'\t' read -r name result; do
        if [ "$name" = "!setup" ]; then
            report "setup (simulated)" "" "$result"
            continue
        fi
        seen[$name]=1
        other=${wine_results[$name]-"(no result)"}
        report "$name" "$result" "$other"
    done <"$1"
    for name in "${!wine_results[@]}"; do
        [ -n "${seen[$name]+set}" ] || report "$name" "(no result)" "${wine_results[$name]}"
    done
}

printf 'differential: %s against %s under %s, fresh prefix in %s s\n' \
    "$SIM_PROBE" "$WINDOWS_PROBE" "$("$WINE64" --version)" "$(seconds_since "$run_start")"
for name in "${SECTIONS[@]}"; do
    echo "-- $name"
    section_lines "$name" >"$SUITE_TMP/work/$name.cases"
    install_section_products "$SUITE_TMP/work/$name.cases"
    run_section "$name"
    compare "$SUITE_TMP/out/$name.sim" "$SUITE_TMP/out/$name.wine"
    compare_packed "$SUITE_TMP/work/$name.cases" "$SUITE_TMP/out/$name.sim"
    uninstall_section_products "$SUITE_TMP/work/$name.cases"
done

printf 'differential: %s s in all\n' "$(seconds_since "$run_start")"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
