# Two GPUs on Windows 10: the target output is chosen on the first GPU (bit 2)
# and reused on the second; the dump is a valid EDID.
run_case() {
    PREFIX_NAME=win10
    install_driver
    use_scenario two_gpus.txt
    use_edid sample_edid.bin
    run_tool
    expect_stdout two_gpus.txt
    expect_exit 0
    expect_trace "SetEDID 0 0x4 256"
    expect_trace "SetEDID 1 0x4 256"
    # edid-decode reads the first dump back as a conforming EDID: its first 128
    # bytes (8 lines), since the EDID declares no extension block and the dump
    # always shows the whole 256-byte data area.
    tr -d '\r' <"$WORK/stdout.txt" | sed -n '/^GPU\[0\] Found dispOutId at: 2$/,/^$/p' |
        sed -n '3,10p' >"$WORK/dump.txt"
    edid-decode -c "$WORK/dump.txt" >"$WORK/edid-decode.txt" 2>&1 || fail "edid-decode rejects the dump"
    grep -q "EDID conformity: PASS" "$WORK/edid-decode.txt" || fail "edid-decode: not conforming"
}
