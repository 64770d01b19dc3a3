# Positive control of the planting tests: the marker DLL in system32 is loaded
# and leaves its marker (it offers no query interface, so initialisation fails
# with NVAPI_ERROR).
run_case() {
    PREFIX_NAME=win10
    install_marker_in_system32
    use_edid sample_edid.bin
    run_tool
    remove_driver
    expect_marker
    expect_stdout init_marker_loaded.txt
    expect_exit 1
}
