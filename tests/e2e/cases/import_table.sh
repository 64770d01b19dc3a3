# edidload.exe imports only from KERNEL32.dll and msvcrt.dll.
run_case() {
    "${EDIDLOAD_OBJDUMP:-x86_64-w64-mingw32-objdump}" -p "$BUILD/edidload.exe" |
        sed -n 's/^\s*DLL Name: //p' | sort -f >"$WORK/imports.txt"
    printf 'KERNEL32.dll\nmsvcrt.dll\n' >"$WORK/expected-imports.txt"
    diff "$WORK/expected-imports.txt" "$WORK/imports.txt" || fail "unexpected imports"
}
