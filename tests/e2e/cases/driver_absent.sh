# No driver module in system32: the initialisation fails with
# NVAPI_LIBRARY_NOT_FOUND, exit code 1, no wait.
run_case() {
    PREFIX_NAME=win10
    remove_driver
    use_edid sample_edid.bin
    run_tool
    expect_stdout init_library_not_found.txt
    expect_exit 1
    # No wait for a key: it ends with its input still open.
    run_tool_holding_input 30
    expect_exit 1
}
