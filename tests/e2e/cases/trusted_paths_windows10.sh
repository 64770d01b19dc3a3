# The trusted full-path loader against the real API: copies of a DLL under the
# Windows and Program Files folders load, a copy under a temporary folder and a
# ".." escape are refused with ERROR_BAD_PATHNAME, mixed case and slashes pass.
run_case() {
    PREFIX_NAME=win10
    run_windows_test trusted_path_check.exe
    [ "$EXIT_CODE" = 0 ] || fail "trusted_path_check exit code $EXIT_CODE"
}
