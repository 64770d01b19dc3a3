# The driver route on Windows 10 without the genuine module, nvapi64.dll planted
# beside the program, in the current directory and on PATH: the planted copy in
# the current directory ends the search as a bare name, the full-path load from
# system32 fails with ERROR_MOD_NOT_FOUND, and nothing falls back to a search
# path. No planted copy is loaded.
run_case() {
    PREFIX_NAME=win10
    remove_driver
    plant_markers
    run_windows_test_in_app driver_route_check.exe
    expect_exit 0
    expect_route_failed 126
    expect_no_marker
}
