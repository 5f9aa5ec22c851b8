# shellcheck shell=bash
# The checks of the Wine end-to-end suite, in the order they run. Each check is
# a function run in its own subshell in the suite's shared prefix; `fail` (or
# any expectation) ends it. Register a new one with add_check NAME DESCRIPTION
# and define check_NAME. A check that installs products removes them again.

LIST_CAPTION="List of Products"
LIST_STYLE=$(relay_hex 0x50000)

# The relay decoding that every message check relies on, on the trace forms
# Wine writes: escapes, a non-ASCII character, a comma inside a string, a cut
# string and a return value.
add_check relay_decoding "the relay trace's strings, arguments and return values are decoded"
check_relay_decoding() {
    local trace="$SUITE_TMP/work/sample-relay.txt"
    cat >"$trace" <<'EOF'
0108:Call user32.MessageBoxW(00000000,140009028 L"Code:\t5,\n\"q\" C:\\x \30b5",140009000 L"Caption",00050010) ret=14000158d
0108:Call msi.MsiConfigureProductExW(140004078 L"{P}",00000000,00000005,140004048 L"PATCH=\"Z:\\a b\"") ret=1400015ae
0108:Ret  msi.MsiConfigureProductExW() retval=00000645 ret=1400015ae
0108:Ret  user32.MessageBoxW() retval=ffffffff ret=14000158d
0108:Call user32.MessageBoxW(00000000,140009028 L"abc"...,00000000,00000000) ret=14000158d
EOF
    local boxes calls
    boxes=$(message_boxes "$trace")
    expect_equal "$(sed -n 1p <<<"$boxes")" $'Code:\\t5,\\n"q" C:\\\\x \u30b5\tCaption\t00050010\tffffffff' "first box"
    expect_equal "$(sed -n 2p <<<"$boxes")" $'abc\\...\t00000000\t00000000\t?' "cut box"
    calls=$(installer_calls "$trace")
    expect_equal "$calls" $'{P}\t00000000\t00000005\tPATCH="Z:\\\\a b"\t00000645' "installer call"
}

add_check extract_to_path "/e x writes the package to x byte for byte, shows nothing, exits 0"
check_extract_to_path() {
    local dir
    dir=$(new_work_dir)
    run_spinstall_traced "$dir" "$dir/trace.txt" /e x
    expect_exit_zero
    [ -f "$dir/x" ] || fail "x was not written"
    cmp -s "$dir/x" "$PACKAGE_FILE" || fail "x differs from $PACKAGE_FILE"
    expect_equal "$(message_boxes "$dir/trace.txt")" "" "message boxes"
}

add_check extract_to_temporary "/e alone writes the package to a new MSP<n> in the user's Temp folder"
check_extract_to_temporary() {
    local dir before after created
    dir=$(new_work_dir)
    before=$(ls "$WINE_TEMP_DIR")
    run_spinstall_traced "$dir" "$dir/trace.txt" /e
    expect_exit_zero
    after=$(ls "$WINE_TEMP_DIR")
    created=$(comm -13 <(sort <<<"$before") <(sort <<<"$after"))
    [ -n "$created" ] || fail "nothing new in $WINE_TEMP_DIR"
    expect_equal "$(wc -l <<<"$created")" 1 "number of new files"
    [[ $created =~ ^MSP[0-9]+$ ]] || fail "new file '$created' is not named MSP and a number"
    cmp -s "$WINE_TEMP_DIR/$created" "$PACKAGE_FILE" || fail "$created differs from the package"
    expect_equal "$(message_boxes "$dir/trace.txt")" "" "message boxes"
}

add_check extract_unwritable "/e into a missing folder shows nothing and exits 0"
check_extract_unwritable() {
    local dir
    dir=$(new_work_dir)
    run_spinstall_traced "$dir" "$dir/trace.txt" /e 'missing\x'
    expect_exit_zero
    [ ! -e "$dir/missing" ] || fail "a folder 'missing' appeared"
    expect_equal "$(message_boxes "$dir/trace.txt")" "" "message boxes"
}

# The one list box of a run: its text is the package's target list.
expect_single_list_box() {  # TRACE
    local boxes text caption style
    boxes=$(message_boxes "$1")
    [ -n "$boxes" ] || fail "no message box was shown"
    expect_equal "$(wc -l <<<"$boxes")" 1 "number of message boxes"
    IFS=$'\t' read -r text caption style _ <<<"$boxes"
    expect_equal "$caption" "$LIST_CAPTION" "caption"
    expect_equal "$style" "$LIST_STYLE" "style"
    expect_traced_text "$text" "$(one_line "$(package_target_list)")" "text"
}

# Each row: the arguments, then whether x is written (the list box is always shown).
LIST_RUNS=(
    "/i|no"
    "/q /i|no"
    "/e x /i|yes"
    "/i /e x|no"
)

add_check list_mode "/i shows the target list in one box captioned \"$LIST_CAPTION\", also with /q and /e"
check_list_mode() {
    local row arguments writes dir
    for row in "${LIST_RUNS[@]}"; do
        IFS='|' read -r arguments writes <<<"$row"
        dir=$(new_work_dir)
        # shellcheck disable=SC2086  # the row's arguments are split on purpose
        run_spinstall_traced "$dir" "$dir/trace.txt" $arguments
        (expect_exit_zero && expect_single_list_box "$dir/trace.txt") || fail "with arguments '$arguments'"
        if [ "$writes" = yes ]; then
            cmp -s "$dir/x" "$PACKAGE_FILE" || fail "with arguments '$arguments': x is not the package"
        else
            [ ! -e "$dir/x" ] || fail "with arguments '$arguments': x was written"
        fi
    done
}

# The stand-in products the install-mode checks are built on: one of the
# package's targets installed by msiexec, as the installer service and the
# host application register it.
add_check stand_in_product "a wixl product with a target code installs, registers and uninstalls"
check_stand_in_product() {
    local code version=7.0.43.6 module_version=7.0.43.3 key location folder
    code=$(package_target_list | cut -d';' -f1)
    [ -n "$code" ] || fail "the package lists no target"
    install_product "$code" "$version" 1041 "$module_version" "Quorvane Mervolt 9.2" ||
        fail "msiexec /i failed for $code"

    key=$(installer_product_key "$code")
    expect_equal "$(reg_value "$key" ProductName)" "Quorvane Mervolt 9.2" "ProductName of $key"
    expect_equal "$(reg_value "$key" Language)" 0x411 "Language of $key"
    expect_equal "$(reg_value "$key" Version)" "$(installer_version_dword "$version")" "Version of $key"
    expect_equal "$(reg_value "$(installer_properties_key "$code")" DisplayVersion)" "$version" "DisplayVersion"

    # The host module where the host key says, carrying its own version.
    folder=$(product_install_folder "$code")
    location=$(reg_value "HKLM\\$(host_key "$code")" MrvtLocation) || fail "no host key for $code"
    expect_equal "$location" "$folder\\" "MrvtLocation"
    [ -f "$(prefix_path "$folder")/kelmora.zpq" ] || fail "kelmora.zpq is not in $folder"
    "$MINGW_WINDRES" -i "$(prefix_path "$folder")/kelmora.zpq" -O rc | grep -q "FILEVERSION ${module_version//./, }\$" ||
        fail "kelmora.zpq does not carry version $module_version"

    # A transforms registration as the install mode will find it.
    wine_reg add "$key" /v Transforms /t REG_SZ /d ':fr-fr.mst' /f >/dev/null || fail "reg add Transforms failed"
    expect_equal "$(reg_value "$key" Transforms)" ":fr-fr.mst" "Transforms"

    uninstall_product "$code" || fail "msiexec /x failed for $code"
    ! reg_key_exists "$key" || fail "$key is still there after the uninstall"
}

# ---- The install mode ------------------------------------------------------------

# The candidate the install checks put a product at: 7.0.43.6 when the
# resources list it, else their first candidate.
install_candidate() {
    local candidates
    candidates=$(candidate_list | sed '/^$/d')
    [ -n "$candidates" ] || fail "string 900 lists no candidate followed by a comma"
    if grep -qxF 7.0.43.6 <<<"$candidates"; then
        echo 7.0.43.6
    else
        head -n 1 <<<"$candidates"
    fi
}

# The run's one installer call: CODE, install level 0, install state 5 and
# PATCH= with a temporary MSP<n> of the user's Temp folder in quotes, nothing
# else. Sets PATCH_FILE (the package's Linux path) and INSTALLER_RESULT (the
# installer's result, signed decimal). Wine accepts our stand-in patch and
# returns 0; for another package the result is taken as it comes.
expect_single_patch_call() {  # TRACE CODE
    local calls product level state command retval prefix name
    calls=$(installer_calls "$1")
    [ -n "$calls" ] || fail "the installer was not called"
    expect_equal "$(wc -l <<<"$calls")" 1 "number of installer calls"
    IFS=$'\t' read -r product level state command retval <<<"$calls"
    expect_equal "$product" "$2" "product code of the installer call"
    expect_equal "$level" "$(relay_hex 0)" "install level"
    expect_equal "$state" "$(relay_hex 5)" "install state"
    prefix="PATCH=\"$(one_line "$(windows_temp_dir)\\")"
    [[ $command == "$prefix"*\" ]] || fail "installer command line $command is not PATCH=\"$(windows_temp_dir)\\MSP<n>\""
    name=${command#"$prefix"}
    name=${name%\"}
    [[ $name =~ ^MSP[0-9]+$ ]] || fail "the package named in $command is not MSP and a number"
    PATCH_FILE=$WINE_TEMP_DIR/$name
    [ "$retval" != "?" ] || fail "the installer call did not return"
    INSTALLER_RESULT=$((16#$retval))
    [ "$INSTALLER_RESULT" -lt $((1 << 31)) ] || INSTALLER_RESULT=$((INSTALLER_RESULT - (1 << 32)))
    if package_is_stand_in; then
        expect_equal "$INSTALLER_RESULT" 0 "Wine's installer result for the stand-in patch"
    fi
}

# The message of a patched product: 301 naming it, or 300 with the installer's code.
patch_outcome() {  # LANGUAGE NAME
    if [ "$INSTALLER_RESULT" -eq 0 ]; then
        printf '301\t%s\t%s' "$1" "$2"
    else
        printf '300\t%s\t%s' "$1" "$INSTALLER_RESULT"
    fi
}

expect_no_installer_call() {  # TRACE
    expect_equal "$(installer_calls "$1")" "" "installer calls"
}

# After a normal end: the package the installer was given is gone, and the run
# left nothing else in the Temp folder.
expect_temp_package_deleted() {  # TEMP_LISTING_BEFORE
    [ -z "${PATCH_FILE-}" ] || [ ! -e "$PATCH_FILE" ] || fail "the temporary package $PATCH_FILE is still there"
    expect_equal "$(new_temp_files "$1")" "" "files the run left in the Temp folder"
}

# After an early end: exactly one new MSP<n>, the package; the check removes it.
expect_temp_package_left() {  # TEMP_LISTING_BEFORE
    local created
    created=$(new_temp_files "$1")
    [ -n "$created" ] || fail "no temporary package was left in the Temp folder"
    expect_equal "$(wc -l <<<"$created")" 1 "number of files left in the Temp folder"
    [[ $created =~ ^MSP[0-9]+$ ]] || fail "left file '$created' is not named MSP and a number"
    cmp -s "$WINE_TEMP_DIR/$created" "$PACKAGE_FILE" || fail "left file $created is not the package"
    rm -f "$WINE_TEMP_DIR/$created"
}

# One install-mode run of a product at a candidate: a single installer call and
# the box of its outcome in the product's language; the package is deleted.
patch_one_product() {  # TARGET LANGUAGE NAME
    local code dir before outcome
    code=$(target_code "$1")
    install_check_product "$code" "$(install_candidate)" "$2" "" "$3"
    dir=$(new_work_dir)
    before=$(temp_listing)
    run_spinstall_traced "$dir" "$dir/trace.txt"
    expect_exit_zero
    expect_single_patch_call "$dir/trace.txt" "$code"
    IFS=$'\t' read -r -a outcome <<<"$(patch_outcome "$2" "$3")"
    expect_message_boxes "$dir/trace.txt" "${outcome[@]}"
    expect_temp_package_deleted "$before"
}

# Each row: the target (place in the list), the product's language and name.
# The "%s" shows that the name is inserted as it is.
PATCH_RUNS=(
    "1|1033|Quorvane Mervolt 9.2"
    "1|1041|Mervolt 100%s Japan"
    "2|1031|Quorvane Mervolt 9.2 Deutsch"
)

add_check install_candidate "a product at a candidate version is patched once and told so in its own language"
check_install_candidate() {
    local row target language name
    for row in "${PATCH_RUNS[@]}"; do
        IFS='|' read -r target language name <<<"$row"
        (patch_one_product "$target" "$language" "$name") || fail "for '$name' ($language)"
    done
}

# Each row: the installed version (target: string 700; anything else is made
# into a version that is neither target nor candidate), the product's
# language, then the one message and the language it comes in.
OTHER_VERSION_RUNS=(
    "target|1041|306|1033"
    "7.1.0.4|1031|308|1031"
)

add_check install_other_versions "an up-to-date product gets one 306 in the user's language, another version 308 in its own"
check_install_other_versions() {
    local row kind language message message_language
    for row in "${OTHER_VERSION_RUNS[@]}"; do
        IFS='|' read -r kind language message message_language <<<"$row"
        (
            local code version dir before name="Quorvane Mervolt 9.2 ($language)"
            code=$(target_code 1)
            if [ "$kind" = target ]; then version=$(target_version); else version=$(unsupported_version "$kind"); fi
            install_check_product "$code" "$version" "$language" "" "$name"
            dir=$(new_work_dir)
            before=$(temp_listing)
            run_spinstall_traced "$dir" "$dir/trace.txt"
            expect_exit_zero
            expect_no_installer_call "$dir/trace.txt"
            expect_message_boxes "$dir/trace.txt" "$message" "$message_language" "$name"
            expect_temp_package_deleted "$before"
        ) || fail "for a product at $kind in language $language"
    done
}

add_check install_two_targets "an up-to-date first target gets no box; the second, at a candidate, is patched"
check_install_two_targets() {
    local first second candidate dir before outcome
    [ "$(target_count)" -ge 2 ] || skip "the package has a single target"
    first=$(target_code 1)
    second=$(target_code 2)
    candidate=$(first_candidate)
    install_check_product "$first" "$(target_version)" 1041 "" "Mervolt First"
    install_check_product "$second" "$candidate" 1031 "" "Mervolt Second"
    dir=$(new_work_dir)
    before=$(temp_listing)
    run_spinstall_traced "$dir" "$dir/trace.txt"
    expect_exit_zero
    expect_single_patch_call "$dir/trace.txt" "$second"
    IFS=$'\t' read -r -a outcome <<<"$(patch_outcome 1031 "Mervolt Second")"
    expect_message_boxes "$dir/trace.txt" "${outcome[@]}"
    expect_temp_package_deleted "$before"
}

add_check install_no_target "no target installed: one 307, no installer call, the temporary package stays"
check_install_no_target() {
    local code dir before
    for code in $(package_target_list | tr ';' ' '); do
        ! reg_key_exists "$(installer_product_key "$code")" || fail "$code is installed, left by an earlier check"
    done
    dir=$(new_work_dir)
    before=$(temp_listing)
    run_spinstall_traced "$dir" "$dir/trace.txt"
    expect_exit_zero
    expect_no_installer_call "$dir/trace.txt"
    expect_message_boxes "$dir/trace.txt" 307 1033 ""
    expect_temp_package_left "$before"
}

add_check install_quiet "/q shows no box at all and still patches a product at a candidate"
check_install_quiet() {
    local code dir before
    code=$(target_code 1)
    install_check_product "$code" "$(first_candidate)" 1041 "" "Quorvane Mervolt 9.2"
    dir=$(new_work_dir)
    before=$(temp_listing)
    run_spinstall_traced "$dir" "$dir/trace.txt" /q
    expect_exit_zero
    expect_single_patch_call "$dir/trace.txt" "$code"
    expect_equal "$(message_boxes "$dir/trace.txt")" "" "message boxes"
    expect_temp_package_deleted "$before"
}

# ---- Transforms removal ----------------------------------------------------------

TRANSFORMS_VALUE=':fr-fr.mst;:1036.mst'

# Each row: the version of the module the product installs (same as the
# installed version, or other: one revision more), where MrvtLocation points
# (the product's folder; elsewhere: a folder holding a module of the other
# version; none: the host key is removed), and what becomes of "Transforms".
TRANSFORMS_RUNS=(
    "same|product|kept"
    "other|product|deleted"
    "same|elsewhere|deleted"
    "other|none|kept"
)

add_check transforms_removal "\"Transforms\" is deleted when the host module's version differs from the installed one"
check_transforms_removal() {
    local row module location after
    for row in "${TRANSFORMS_RUNS[@]}"; do
        IFS='|' read -r module location after <<<"$row"
        (
            local code installed other module_version key host folder dir outcome
            code=$(target_code 1)
            installed=$(install_candidate)
            other=$(awk -F. '{ printf "%d.%d.%d.%d", $1, $2, $3, $4 + 1 }' <<<"$installed")
            if [ "$module" = same ]; then module_version=$installed; else module_version=$other; fi
            install_check_product "$code" "$installed" 1033 "$module_version" "Quorvane Mervolt 9.2"
            key=$(installer_product_key "$code")
            host="HKLM\\$(host_key "$code")"
            wine_reg add "$key" /v Transforms /t REG_SZ /d "$TRANSFORMS_VALUE" /f >/dev/null || fail "reg add Transforms failed"
            case $location in
                elsewhere)
                    folder=$(mktemp -d "$SUITE_TMP/work/host.XXXXXX")
                    build_host_module "$folder/kelmora.zpq" "$other" || fail "could not build the host module"
                    wine_reg add "$host" /v MrvtLocation /t REG_SZ /d "$(windows_path "$folder")" /f >/dev/null ||
                        fail "reg add MrvtLocation failed"
                    ;;
                none)
                    wine_reg delete "$host" /f >/dev/null || fail "reg delete $host failed"
                    ;;
            esac
            dir=$(new_work_dir)
            run_spinstall_traced "$dir" "$dir/trace.txt"
            expect_exit_zero
            # The removal never keeps the patch from being applied.
            expect_single_patch_call "$dir/trace.txt" "$code"
            IFS=$'\t' read -r -a outcome <<<"$(patch_outcome 1033 "Quorvane Mervolt 9.2")"
            expect_message_boxes "$dir/trace.txt" "${outcome[@]}"
            if [ "$after" = kept ]; then
                expect_equal "$(reg_value "$key" Transforms)" "$TRANSFORMS_VALUE" "Transforms after the run"
            else
                ! reg_value "$key" Transforms >/dev/null || fail "Transforms is still there"
            fi
            reg_key_exists "$key" || fail "the product's key $key is gone"
        ) || fail "with a module of the $module version, MrvtLocation to $location"
    done
}

# ---- Patch-list export -----------------------------------------------------------

# Each row: what the file held before (nothing: no file; unterminated: text
# whose last line has no line break, with a byte above 127), and how many runs.
PATCH_LIST_RUNS=(
    "nothing|1"
    "nothing|2"
    "unterminated|1"
)

add_check patch_list_file "/p f appends exactly the descriptions' entry, after whatever f held"
check_patch_list_file() {
    local row prior runs dir before expected n
    expected=$SUITE_TMP/work/patch-list-entries
    write_patch_list_entries "$expected" || fail "could not read the descriptions of $RESOURCE_SCRIPT"
    [ -s "$expected" ] || fail "$RESOURCE_SCRIPT holds no description 206"
    for row in "${PATCH_LIST_RUNS[@]}"; do
        IFS='|' read -r prior runs <<<"$row"
        dir=$(new_work_dir)
        mkdir "$dir/run"
        : >"$dir/want"
        if [ "$prior" = unterminated ]; then
            printf 'Earlier list\r\nlast line \351 without a break' | tee "$dir/run/f" >"$dir/want"
        fi
        before=$(temp_listing)
        for ((n = 1; n <= runs; n++)); do
            run_spinstall_traced "$dir/run" "$dir/trace$n.txt" /p f
            (expect_exit_zero && expect_equal "$(message_boxes "$dir/trace$n.txt")" "" "message boxes") ||
                fail "run $n of $row"
            cat "$expected" >>"$dir/want"
        done
        rm -f "$dir/run/stdout.txt"
        cmp -s "$dir/run/f" "$dir/want" ||
            fail "$row: f holds $(stat -c %s "$dir/run/f") bytes, not the $(stat -c %s "$dir/want") expected: $(cmp "$dir/run/f" "$dir/want")"
        expect_equal "$(ls "$dir/run")" f "files in the current folder ($row)"
        # A named file needs no package.
        expect_equal "$(new_temp_files "$before")" "" "files the run left in the Temp folder ($row)"
    done
}

add_check patch_list_default_name "/p alone writes patchlist + 4 characters of the first target code + .txt here"
check_patch_list_default_name() {
    local code rest name dir before expected
    code=$(target_code 1)
    [[ $code == \{*-* ]] || skip "the first target, '$code', is no braced product code"
    rest=${code#*-}
    name=patchlist${rest:0:4}.txt
    expected=$SUITE_TMP/work/patch-list-entries
    write_patch_list_entries "$expected" || fail "could not read the descriptions of $RESOURCE_SCRIPT"
    dir=$(new_work_dir)
    mkdir "$dir/run"
    before=$(temp_listing)
    run_spinstall_traced "$dir/run" "$dir/trace.txt" /p
    expect_exit_zero
    expect_equal "$(message_boxes "$dir/trace.txt")" "" "message boxes"
    rm -f "$dir/run/stdout.txt"
    expect_equal "$(ls "$dir/run")" "$name" "files in the current folder"
    cmp -s "$dir/run/$name" "$expected" || fail "$name is not exactly the descriptions' entry"
    # The package written to find the name stays.
    expect_temp_package_left "$before"
}

# Each row: the path after /p, and a folder to make first.
PATCH_LIST_FAILURES=(
    'missing\list.txt|'
    'folder|folder'
)

add_check patch_list_unopenable "/p into a missing folder or onto a folder shows one 310 and writes nothing"
check_patch_list_unopenable() {
    local row path folder dir
    for row in "${PATCH_LIST_FAILURES[@]}"; do
        IFS='|' read -r path folder <<<"$row"
        dir=$(new_work_dir)
        mkdir "$dir/run"
        [ -z "$folder" ] || mkdir "$dir/run/$folder"
        run_spinstall_traced "$dir/run" "$dir/trace.txt" /p "$path"
        rm -f "$dir/run/stdout.txt"
        (expect_exit_zero && expect_message_boxes "$dir/trace.txt" 310 1033 "") || fail "with /p $path"
        expect_equal "$(cd "$dir/run" && find . -mindepth 1 | sort | tr '\n' ' ')" "${folder:+./$folder }" \
            "what is in the current folder after /p $path"
    done
}
