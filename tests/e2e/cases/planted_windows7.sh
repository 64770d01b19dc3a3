# The planting test on Windows 7, where the loader takes its full-path branch.
run_case() {
    PREFIX_NAME=win7
    remove_driver
    plant_markers
    use_edid sample_edid.bin
    run_tool
    expect_stdout init_library_not_found.txt
    expect_exit 1
    expect_no_marker
}
