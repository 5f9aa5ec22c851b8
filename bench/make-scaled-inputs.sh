#!/usr/bin/env bash
# Writes the inputs of a scaled install-mode run: COUNT product codes (one a
# line, deterministic) and a simulated machine (SIMWIN_MACHINE registry file)
# on which every one of them is installed at 7.0.43.6, a version the patch is
# built for, with the registrations the simulated installer service reads.
#
# Usage: make-scaled-inputs.sh COUNT CODES_OUT MACHINE_OUT
set -euo pipefail

count=$1 codes=$2 machine=$3

# Code i: a multiplicative hash in the first group, i in the last, so that the
# codes are distinct and spread over the registry's key order. (mawk prints at
# most 32 bits with %X, hence the last group in two pieces.)
awk -v count="$count" 'BEGIN {
    for (i = 1; i <= count; i++)
        printf "{%08X-%04X-%04X-%04X-%04X%08X}\n", (i * 2654435761) % 4294967296, 23565,
               19968 + (i % 256), 32768 + (i % 4096), 23713, 3976200192 + i
}' > "$codes"

# The packed code: the first three groups reversed, the characters of the last
# two swapped in pairs. The keys are written in the order the simulated
# registry writes its file (by name), as a machine file saved by a run has them.
awk '
function reversed(text,    out, k) {
    out = ""
    for (k = length(text); k >= 1; k--) out = out substr(text, k, 1)
    return out
}
function swapped(text,    out, k) {
    out = ""
    for (k = 1; k < length(text); k += 2) out = out substr(text, k + 1, 1) substr(text, k, 1)
    return out
}
BEGIN { split("1033 1031 1036 1034", languages, " ") }
{
    split(substr($0, 2, 36), group, "-")
    packed = reversed(group[1]) reversed(group[2]) reversed(group[3]) swapped(group[4]) swapped(group[5])
    printf "%s\t%d\t%d\n", packed, NR, languages[(NR - 1) % 4 + 1]
}' "$codes" | LC_ALL=C sort > "$machine.products"

{
    printf 'Windows Registry Editor Version 5.00\n\n'
    awk -F '\t' '{
        printf "[HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer\\Products\\%s]\n", $1
        printf "\"ProductName\"=\"Scaled Product %d\"\n", $2
        printf "\"Language\"=dword:%08x\n\n", $3
    }' "$machine.products"
    awk -F '\t' '{
        printf "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\%s\\InstallProperties]\n", $1
        printf "\"DisplayName\"=\"Scaled Product %d\"\n", $2
        printf "\"DisplayVersion\"=\"7.0.43.6\"\n\n"
    }' "$machine.products"
    printf '[HKEY_CURRENT_USER\\Control Panel\\International]\n"Locale"="00000409"\n\n'
} > "$machine"
rm -f "$machine.products"
