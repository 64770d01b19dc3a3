# The driver route on Windows 10 (build 18362: the route is taken) with the
# genuine module in system32 and nvapi64.dll planted beside the program, in the
# current directory and on PATH. Wine has no vendor-0x10DE adapter, so the
# directory probe's candidate is the bare name, which the planted copy in the
# current directory answers: the search ends there and the route loads the name
# by full path from system32. No planted copy is ever loaded.
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
