# Positive control of the driver route's planting cases on Windows 10: the
# marker DLL in system32 is loaded and leaves its marker, naming system32.
# Nothing is planted elsewhere and Wine has no vendor-0x10DE adapter, so the
# route finds nothing (ERROR_MOD_NOT_FOUND) and goes on to the system directory.
run_case() {
    PREFIX_NAME=win10
    install_marker_in_system32
    run_windows_test_in_app driver_route_check.exe
    remove_driver
    expect_exit 0
    expect_route_loaded_from_system32
    expect_marker
    grep -qiE '\\system32\\nvapi64\.dll' "$MARKER" || fail "marker names $(cat "$MARKER")"
}
