# Windows 7 (build 7601: the driver route is not taken) with the genuine module
# in system32 and nvapi64.dll planted beside the program, in the current
# directory and on PATH: the system-directory route loads system32's module.
run_case() {
    PREFIX_NAME=win7
    install_driver
    plant_markers
    run_windows_test_in_app driver_route_check.exe
    remove_driver
    expect_exit 0
    expect_route_loaded_from_system32
    expect_no_marker
}
