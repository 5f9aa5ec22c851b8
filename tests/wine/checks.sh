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
