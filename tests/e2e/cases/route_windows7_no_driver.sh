# Windows 7 without the genuine module, nvapi64.dll planted beside the program,
# in the current directory and on PATH: the system-directory route finds
# nothing (ERROR_MOD_NOT_FOUND) and no planted copy is loaded.
run_case() {
    PREFIX_NAME=win7
    remove_driver
    plant_markers
    run_windows_test_in_app driver_route_check.exe
    expect_exit 0
    expect_route_failed 126
    expect_no_marker
}
