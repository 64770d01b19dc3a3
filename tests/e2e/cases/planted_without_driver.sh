# Planted copies and no driver in system32: the planted copies are still never
# loaded; the initialisation fails as for an absent driver.
run_case() {
    PREFIX_NAME=win10
    remove_driver
    plant_markers
    use_edid sample_edid.bin
    run_tool
    expect_stdout init_library_not_found.txt
    expect_exit 1
    expect_no_marker
}
