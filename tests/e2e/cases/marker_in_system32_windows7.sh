# Positive control of the Windows 7 planting test: on that prefix too the
# marker DLL in system32 is loaded, by its full path, and leaves its marker.
run_case() {
    PREFIX_NAME=win7
    install_marker_in_system32
    use_edid sample_edid.bin
    run_tool
    remove_driver
    expect_marker
    grep -qi 'system32\\nvapi64.dll' "$MARKER" || fail "loaded from elsewhere: $(cat "$MARKER")"
    expect_stdout init_marker_loaded.txt
    expect_exit 1
}
