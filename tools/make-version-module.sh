#!/usr/bin/env bash
# Writes a small Windows DLL (PE32+, x86-64) whose version resource carries the
# given fixed file version, for tests and demo machines.
#
# Usage: make-version-module.sh FILE_VERSION OUT [PRODUCT_VERSION]
#   FILE_VERSION     a.b.c.d (each 0..65535), or "none" for a DLL whose only
#                    resource is a string table (no version resource at all)
#   OUT              the DLL to write (any name, e.g. kelmora.zpq)
#   PRODUCT_VERSION  a.b.c.d for the product version; defaults to FILE_VERSION
# Tools: $WINDRES (x86_64-w64-mingw32-windres) and $MINGW_CC (x86_64-w64-mingw32-gcc).
set -euo pipefail

if [[ $# -lt 2 || $# -gt 3 ]]; then
    echo "usage: $0 FILE_VERSION OUT [PRODUCT_VERSION]" >&2
    exit 2
fi
file_version=$1
out=$2
product_version=${3:-$1}
windres=${WINDRES:-x86_64-w64-mingw32-windres}
cc=${MINGW_CC:-x86_64-w64-mingw32-gcc}

# "a.b.c.d" as "a,b,c,d", refusing anything that is not four 16-bit numbers.
four_part() {
    local IFS=.
    local -a parts
    read -r -a parts <<<"$1"
    if [[ ${#parts[@]} -ne 4 ]]; then
        echo "$0: '$1' is not a four-part version" >&2
        exit 2
    fi
    for part in "${parts[@]}"; do
        if [[ ! $part =~ ^[0-9]+$ ]] || ((10#$part > 65535)); then
            echo "$0: '$1' has a part outside 0..65535" >&2
            exit 2
        fi
    done
    echo "$((10#${parts[0]})),$((10#${parts[1]})),$((10#${parts[2]})),$((10#${parts[3]}))"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/entry.c" <<'C'
int DllMain(void* instance, unsigned long reason, void* reserved) {
    (void)instance; (void)reason; (void)reserved;
    return 1;
}
C

if [[ $file_version == none ]]; then
    cat >"$work/module.rc" <<'RC'
LANGUAGE 0x09, 1
STRINGTABLE
BEGIN
    1 "A module without version information"
END
RC
else
    fixed=$(four_part "$file_version")
    product=$(four_part "$product_version")
    cat >"$work/module.rc" <<RC
LANGUAGE 0x09, 1
1 VERSIONINFO
FILEVERSION $fixed
PRODUCTVERSION $product
FILEFLAGSMASK 0x3F
FILEFLAGS 0x0
FILEOS 0x40004
FILETYPE 0x2
FILESUBTYPE 0x0
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904B0"
        BEGIN
            VALUE "FileDescription", "Version test module"
            VALUE "FileVersion", "$file_version"
            VALUE "ProductVersion", "$product_version"
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x409, 1200
    END
END
RC
fi

"$windres" -O coff -i "$work/module.rc" -o "$work/module_rc.o"
"$cc" -shared -nostdlib -e DllMain -s -o "$work/module.dll" "$work/entry.c" "$work/module_rc.o"
mkdir -p "$(dirname "$out")"
mv "$work/module.dll" "$out"
