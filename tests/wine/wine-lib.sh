# shellcheck shell=bash
# Helpers of the Wine end-to-end suite: running programs in the suite's prefix,
# reading the relay trace, the registry, and building and installing stand-in
# products. Sourced by run-wine-suite.sh, which sets:
#   WINE64 WINESERVER   the 64-bit loader and its server
#   WINEPREFIX          the suite's fresh prefix
#   SUITE_TMP           the suite's temporary folder (removed at the end)
#   SPINSTALL_EXE       the executable under test
#   PACKAGE_FILE        the package it carries
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
# in the suite's folder, where the installer keeps it as the product's source.
install_product() {  # CODE VERSION LANGUAGE [MODULE_VERSION] [NAME]
    local folder
    folder=$(mktemp -d "$SUITE_TMP/products/product.XXXXXX")
    build_product_package "$folder/product.msi" "$@" || return 1
    wine_cmd msiexec /i "$(windows_path "$folder/product.msi")" /qn
}

uninstall_product() {  # CODE
    wine_cmd msiexec /x "$1" /qn
}
