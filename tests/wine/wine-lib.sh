# shellcheck shell=bash
# Helpers of the Wine end-to-end suite: running programs in the suite's prefix,
# reading the relay trace, the registry, and building and installing stand-in
# products. Sourced by run-wine-suite.sh, which sets:
#   WINE64 WINESERVER   the 64-bit loader and its server
#   WINEPREFIX          the suite's fresh prefix
#   SUITE_TMP           the suite's temporary folder (removed at the end)
#   SPINSTALL_EXE       the executable under test
#   PACKAGE_FILE        the package it carries
#   RESOURCE_SCRIPT     the resource script it was built from
#   WINE_TEMP_DIR       the Linux path of the Windows user's temporary folder
# Checks run in subshells: `fail` ends the current check.
# shellcheck disable=SC2153  # the names above come from the runner

WINE_TIMEOUT=${WINE_TIMEOUT:-60}
WINE_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
MINGW_GCC=${MINGW_GCC:-x86_64-w64-mingw32-gcc}
MINGW_WINDRES=${MINGW_WINDRES:-x86_64-w64-mingw32-windres}

# ---- Expectations --------------------------------------------------------------

fail() {
    printf '%s\n' "$*" >&2
    exit 1
}

# Ends the current check as skipped: the package under test cannot show the
# behaviour (the reason is the last line of the check's output).
SKIP_STATUS=77
skip() {
    printf '%s\n' "$*"
    exit "$SKIP_STATUS"
}

expect_equal() {  # ACTUAL EXPECTED WHAT
    [ "$1" = "$2" ] || fail "$3: got '$1', expected '$2'"
}

# A string argument from the relay trace may be cut short (it then ends in
# "\..."); only the part that was traced is compared.
expect_traced_text() {  # TRACED EXPECTED WHAT
    local traced=$1 expected=$2
    if [ "${traced%\\...}" != "$traced" ]; then
        traced=${traced%\\...}
        expected=${expected:0:${#traced}}
    fi
    [ "$traced" = "$expected" ] || fail "$3: got '$1', expected '$2'"
}

# The line break and tab escapes of the relay output, for expected texts.
one_line() {  # TEXT
    local text=${1//\\/\\\\}
    text=${text//$'\t'/\\t}
    text=${text//$'\n'/\\n}
    printf '%s' "${text//$'\r'/\\r}"
}

# ---- Running Windows programs ----------------------------------------------------

wine_cmd() {  # PROGRAM ARGS...
    WINEDEBUG=-all timeout -k 5 "$WINE_TIMEOUT" "$WINE64" "$@"
}

# Runs the executable under test in DIR (a Linux folder, Z:\... to the program).
# Sets SPINSTALL_EXIT; stderr goes to DIR/stderr.txt.
run_spinstall() {  # DIR ARGS...
    local dir=$1
    shift
    SPINSTALL_EXIT=0
    (cd "$dir" && wine_cmd "$SPINSTALL_EXE" "$@") >"$dir/stdout.txt" 2>"$dir/stderr.txt" || SPINSTALL_EXIT=$?
}

# As run_spinstall, with the relay trace of the functions named in RelayInclude
# (see the suite's setup) written to TRACE.
run_spinstall_traced() {  # DIR TRACE ARGS...
    local dir=$1 trace=$2
    shift 2
    SPINSTALL_EXIT=0
    (cd "$dir" && WINEDEBUG=-all,+relay timeout -k 5 "$WINE_TIMEOUT" "$WINE64" "$SPINSTALL_EXE" "$@") \
        >"$dir/stdout.txt" 2>"$trace" || SPINSTALL_EXIT=$?
}

expect_exit_zero() {
    [ "$SPINSTALL_EXIT" -eq 0 ] || fail "exit code $SPINSTALL_EXIT, expected 0"
}

new_work_dir() {
    mktemp -d "$SUITE_TMP/work/XXXXXX"
}

# ---- The relay trace ---------------------------------------------------------------

# One line per call: FUNCTION, the arguments, the return value (see relay-calls.pl).
relay_calls() {  # TRACE FUNCTION...
    perl "$WINE_LIB_DIR/relay-calls.pl" "$@"
}

# TEXT <TAB> CAPTION <TAB> STYLE <TAB> RETVAL per message box.
message_boxes() {  # TRACE
    relay_calls "$1" user32.MessageBoxW | cut -f3-
}

# PRODUCT <TAB> LEVEL <TAB> STATE <TAB> COMMAND LINE <TAB> RETVAL per installer call.
installer_calls() {  # TRACE
    relay_calls "$1" msi.MsiConfigureProductExW | cut -f2-
}

# Wine's hexadecimal form of a 32-bit argument (00050000).
relay_hex() {  # NUMBER
    printf '%08x' "$1"
}

# ---- Paths and the registry ----------------------------------------------------------

windows_path() {  # LINUX_PATH  (Wine maps Z: to /)
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s' "${path//\//\\}"
}

# The Linux path of a C: path in the prefix.
prefix_path() {  # WINDOWS_PATH
    local rest=${1#[Cc]:}
    printf '%s/drive_c%s' "$WINEPREFIX" "${rest//\\//}"
}

wine_reg() {  # reg ARGS (add, query, delete, ...)
    wine_cmd reg "$@"
}

# The data of one registry value as `reg query` shows it; fails when absent.
reg_value() {  # KEY NAME
    local listing
    listing=$(wine_reg query "$1" /v "$2" 2>/dev/null) || return 1
    printf '%s\n' "$listing" | tr -d '\r' | awk -F '    ' -v name="$2" '
        $2 == name { data = $4; for (i = 5; i <= NF; i++) data = data "    " $i; print data; found = 1 }
        END { exit found ? 0 : 1 }'
}

reg_key_exists() {  # KEY
    wine_reg query "$1" >/dev/null 2>&1
}

# ---- Product codes -----------------------------------------------------------------

# The installer's packed form: the first three groups reversed, the pairs of
# the last two swapped ({12345678-ABCD-...} gives 87654321DCBA...).
pack_product_code() {  # CODE
    local c=${1//[\{\}-]/} out="" i
    out=$(printf '%s' "${c:0:8}" | rev)$(printf '%s' "${c:8:4}" | rev)$(printf '%s' "${c:12:4}" | rev)
    for ((i = 16; i < 32; i += 2)); do
        out+="${c:i+1:1}${c:i:1}"
    done
    printf '%s' "$out"
}

installer_product_key() {  # CODE
    printf 'HKCR\\Installer\\Products\\%s' "$(pack_product_code "$1")"
}

installer_properties_key() {  # CODE
    printf 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\%s\\InstallProperties' \
        "$(pack_product_code "$1")"
}

# The host application's key of a product: the last three characters of the
# code's second and third groups ({12345678-ABCD-EF01-...} gives Mrvt-BCD:F01).
host_key() {  # CODE
    local code=$1 rest
    rest=${code#*-}
    printf 'Software\\Quorvane\\Mervolt\\V9.2\\Mrvt-%s:%s' "${rest:1:3}" "${rest:6:3}"
}

# The installer's DWORD form of a version: major, minor and build.
installer_version_dword() {  # VERSION
    local major minor build
    IFS=. read -r major minor build _ <<<"$1"
    printf '0x%x' $(((major << 24) | (minor << 16) | build))
}

# A GUID derived from a text, so that rebuilt packages stay alike.
derived_guid() {  # TEXT
    local h
    h=$(printf '%s' "$1" | md5sum | tr a-f A-F)
    printf '{%s-%s-%s-%s-%s}' "${h:0:8}" "${h:8:4}" "${h:12:4}" "${h:16:4}" "${h:20:12}"
}

# The target list the package carries (summary property 7).
package_target_list() {
    msiinfo suminfo "$PACKAGE_FILE" | sed -n 's/^Template: //p'
}

# The Nth product code of the target list (from 1), or the last one when the
# list is shorter.
target_code() {  # N
    package_target_list | tr ';' '\n' | sed '/^$/d' | sed -n "1,${1}p" | tail -n 1
}

target_count() {
    package_target_list | tr ';' '\n' | sed '/^$/d' | wc -l
}

# Our stand-in carries the StandInPatch table; a vendor's package does not.
package_is_stand_in() {
    msiinfo tables "$PACKAGE_FILE" 2>/dev/null | grep -qx StandInPatch
}

# ---- Stand-in products -------------------------------------------------------------

# The host module: a DLL whose version resource gives VERSION (four parts).
build_host_module() {  # OUT VERSION
    local out=$1 version=$2 work
    work=$(mktemp -d "$SUITE_TMP/work/module.XXXXXX")
    cat >"$work/version.rc" <<EOF
1 VERSIONINFO
FILEVERSION ${version//./,}
PRODUCTVERSION ${version//./,}
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "FileVersion", "$version"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
EOF
    "$MINGW_WINDRES" "$work/version.rc" -o "$work/version.o" &&
        "$MINGW_GCC" -shared -nostdlib -e DllMain -o "$out" "$WINE_LIB_DIR/host-module.c" "$work/version.o"
}

# The folder a stand-in product installs to.
product_install_folder() {  # CODE
    local code=${1//[\{\}]/}
    printf 'C:\\Program Files\\Quorvane\\Mrvt-%s' "$code"
}

# An installer package of a stand-in product: ProductCode CODE, ProductVersion
# VERSION, ProductLanguage LANGUAGE (decimal), the host module kelmora.zpq with
# file version MODULE_VERSION (default VERSION) and the host key naming its folder.
build_product_package() {  # OUT CODE VERSION LANGUAGE [MODULE_VERSION] [NAME]
    local out=$1 code=$2 version=$3 language=$4 module_version=${5:-$3} name=${6:-Quorvane Mervolt 9.2}
    local module="${out%.msi}.kelmora.zpq"
    build_host_module "$module" "$module_version" || return 1
    # wixl looks for sources relative to the current folder only.
    (cd "$(dirname "$out")" && wixl -a x64 -o "$out" \
        -D ProductCode="$code" -D ProductName="$name" -D Language="$language" -D Version="$version" \
        -D UpgradeCode="$(derived_guid "upgrade $code")" -D ComponentGuid="$(derived_guid "module $code")" \
        -D InstallFolder="Mrvt-${code//[\{\}]/}" -D HostKey="$(host_key "$code")" -D ModuleFile="$(basename "$module")" \
        "$WINE_LIB_DIR/product.wxs")
}

# Builds and installs a stand-in product with msiexec /i /qn. The package stays
# in the suite's folder, where the installer keeps it as the product's source;
# a later install with the same arguments uses it again.
install_product() {  # CODE VERSION LANGUAGE [MODULE_VERSION] [NAME]
    local folder
    folder=$SUITE_TMP/products/$(printf '%s\n' "$@" | md5sum | cut -c1-16)
    if [ ! -f "$folder/product.msi" ]; then
        mkdir -p "$folder" && build_product_package "$folder/product.msi" "$@" || return 1
    fi
    wine_cmd msiexec /i "$(windows_path "$folder/product.msi")" /qn
}

uninstall_product() {  # CODE
    wine_cmd msiexec /x "$1" /qn
}

# For checks: installs a product that the check's end removes again, however
# the check ends; a product left over from an earlier check fails this one.
CHECK_PRODUCTS=()
install_check_product() {  # CODE VERSION LANGUAGE [MODULE_VERSION] [NAME]
    ! reg_key_exists "$(installer_product_key "$1")" || fail "$1 is installed already, left by an earlier check"
    [ ${#CHECK_PRODUCTS[@]} -gt 0 ] || trap uninstall_check_products EXIT
    CHECK_PRODUCTS+=("$1")
    install_product "$@" || fail "msiexec /i failed for $1 at $2"
}

uninstall_check_products() {
    local status=$? code
    for code in "${CHECK_PRODUCTS[@]}"; do
        if ! uninstall_product "$code" || reg_key_exists "$(installer_product_key "$code")"; then
            printf 'could not uninstall %s\n' "$code" >&2
            status=1
        fi
    done
    exit "$status"
}

# ---- The resources the executable was built from ---------------------------------

resource_string() {  # ID LANGID
    perl "$WINE_LIB_DIR/rc-strings.pl" "$RESOURCE_SCRIPT" string "$1" "$2"
}

# Version strings 700 and 900 exist in English only.
target_version() { resource_string 700 1033; }
candidate_versions() { resource_string 900 1033; }

# The candidates that the install mode tries: each one followed by a ",".
candidate_list() {
    local text
    text=$(candidate_versions)
    [[ $text == *,* ]] || return 0
    tr ',' '\n' <<<"${text%,*}"
}

# The first candidate that names a version.
first_candidate() {
    candidate_list | sed '/^$/d' | head -n 1
}

# Four-part text in its plain form (7.00.043.6 gives 7.0.43.6), for comparing.
normal_version() {  # VERSION
    local major minor build revision
    IFS=. read -r major minor build revision <<<"$1"
    printf '%d.%d.%d.%d' "$((10#${major:-0}))" "$((10#${minor:-0}))" "$((10#${build:-0}))" "$((10#${revision:-0}))"
}

# A version that is neither the target nor a candidate: VERSION itself when it
# is none of them, otherwise the next free revision.
unsupported_version() {  # VERSION
    local major minor build revision taken
    # An empty candidate piece stands for 0.0.0.0.
    taken=$({ target_version && echo && candidate_list; } | while IFS= read -r v; do normal_version "$v" && echo; done)
    IFS=. read -r major minor build revision <<<"$(normal_version "$1")"
    while grep -qxF "$major.$minor.$build.$revision" <<<"$taken"; do
        revision=$((revision + 1))
    done
    printf '%s' "$major.$minor.$build.$revision"
}

# The style and caption of each message id.
message_style() {  # ID
    case $1 in
        301) relay_hex 0x50040 ;;
        *) relay_hex 0x50010 ;;
    esac
}
message_caption_id() {  # ID
    case $1 in
        301) echo 312 ;;
        306) echo 313 ;;
        *) echo 311 ;;
    esac
}

# A message as the executable composes it: the text of ID in LANGID with its
# one %s or %d replaced by VALUE.
message_text() {  # ID LANGID [VALUE]
    local format
    format=$(resource_string "$1" "$2") || fail "the resource script has no string $1 for language $2"
    case $format in
        *%s*) printf '%s%s%s' "${format%%\%s*}" "${3-}" "${format#*\%s}" ;;
        *%d*) printf '%s%s%s' "${format%%\%d*}" "${3-}" "${format#*\%d}" ;;
        *) printf '%s' "$format" ;;
    esac
}

# Every message box of a run, in order: one ID LANGID VALUE triple per box.
expect_message_boxes() {  # TRACE [ID LANGID VALUE]...
    local trace=$1 boxes count=0 text caption style
    shift
    boxes=$(message_boxes "$trace")
    [ -z "$boxes" ] || count=$(wc -l <<<"$boxes")
    expect_equal "$count" $(($# / 3)) "number of message boxes (shown: ${boxes:-none})"
    while [ $# -ge 3 ]; do
        IFS=$'\t' read -r text caption style _ <<<"$(head -n 1 <<<"$boxes")"
        boxes=$(tail -n +2 <<<"$boxes")
        expect_traced_text "$text" "$(one_line "$(message_text "$1" "$2" "$3")")" "text of message $1 ($2)"
        expect_equal "$caption" "$(one_line "$(resource_string "$(message_caption_id "$1")" "$2")")" \
            "caption of message $1 ($2)"
        expect_equal "$style" "$(message_style "$1")" "style of message $1"
        shift 3
    done
}

# The patch-list entries one export appends: for each description from 206 on
# without a gap, "*****" CR LF, its bytes and CR LF.
write_patch_list_entries() {  # OUT
    local id=206 listing file
    listing=$(perl "$WINE_LIB_DIR/rc-strings.pl" "$RESOURCE_SCRIPT" txt) || return 1
    : >"$1"
    while file=$(awk -F '\t' -v id="$id" '$1 == id { print $2; exit }' <<<"$listing") && [ -n "$file" ]; do
        { printf '*****\r\n' && cat "$file" && printf '\r\n'; } >>"$1" || return 1
        id=$((id + 1))
    done
}

# ---- The user's temporary folder -------------------------------------------------

# As the executable names it (GetTempPathW without its final backslash).
windows_temp_dir() {
    printf 'C:\\users\\%s\\Temp' "$(id -un)"
}

temp_listing() {
    find "$WINE_TEMP_DIR" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort
}

# The names in the temporary folder that BEFORE (a temp_listing) did not hold.
new_temp_files() {  # BEFORE
    comm -13 <(printf '%s\n' "$1") <(temp_listing) | sed '/^$/d'
}
