# The driver route on Windows 10 (build 18362: the route is taken) with the
# genuine module in system32 and nvapi64.dll planted beside the program, in the
# current directory and on PATH: the module loaded is system32's, and no
# planted copy is ever loaded.
run_case() {
    PREFIX_NAME=win10
    install_driver
    plant_markers
    run_windows_test_in_app driver_route_check.exe
    remove_driver
    expect_exit 0
    expect_route_loaded_from_system32
    expect_no_marker
}
