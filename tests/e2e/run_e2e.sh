#!/usr/bin/env bash
# End-to-end tests of the real edidload.exe under Wine.
#
#   run_e2e.sh prefix        create the build tree's Wine prefixes (Windows 10 and 7)
#   run_e2e.sh <case.sh>     run one case: the case file defines run_case, using
#                            the helpers below
#
# Environment (set by CTest): EDIDLOAD_BUILD (the windows build tree),
# EDIDLOAD_SOURCE (the source tree), EDIDLOAD_OBJDUMP.
set -u

BUILD=${EDIDLOAD_BUILD:?}
SOURCE=${EDIDLOAD_SOURCE:?}
FIXTURES=$SOURCE/tests/fixtures
EXPECTED=$SOURCE/tests/e2e/expected
PREFIXES=$BUILD/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

fail() { echo "FAIL: $*" >&2; exit 1; }

# A Linux path as Wine's Z: drive sees it.
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

system32() { echo "$PREFIXES/$1/drive_c/windows/system32"; }

make_prefix() {
    local name=$1 version=$2 prefix=$PREFIXES/$1
    if [ -f "$prefix/.ready" ]; then return 0; fi
    rm -rf "$prefix"
    mkdir -p "$prefix"
    WINEPREFIX=$prefix wine wineboot -i >/dev/null 2>&1 || fail "wineboot for $name"
    WINEPREFIX=$prefix wine winecfg -v "$version" >/dev/null 2>&1 || fail "winecfg -v $version"
    WINEPREFIX=$prefix wineserver -w
    touch "$prefix/.ready"
}

if [ "${1:-}" = prefix ]; then
    command -v wine >/dev/null || fail "wine is not installed"
    make_prefix win10 win10
    make_prefix win7 win7
    echo "prefixes ready in $PREFIXES"
    exit 0
fi

CASE_FILE=${1:?case file}
CASE=$(basename "$CASE_FILE" .sh)
WORK=$BUILD/e2e/$CASE
rm -rf "$WORK"
mkdir -p "$WORK/app" "$WORK/cwd" "$WORK/path"
cp "$BUILD/edidload.exe" "$WORK/app/"
MARKER=$WORK/marker.txt
export EDIDLOAD_MARKER
EDIDLOAD_MARKER=$(winpath "$MARKER")
PREFIX_NAME=win10

# The driver double in the prefix's system32, or none there.
install_driver() { cp "$BUILD/driver_double/nvapi64.dll" "$(system32 "$PREFIX_NAME")/nvapi64.dll"; }
install_marker_in_system32() { cp "$BUILD/marker/nvapi64.dll" "$(system32 "$PREFIX_NAME")/nvapi64.dll"; }
remove_driver() { rm -f "$(system32 "$PREFIX_NAME")/nvapi64.dll"; }
# Marker DLLs where a search path would find them: the tool's directory, the
# current directory, a directory on PATH.
plant_markers() {
    cp "$BUILD/marker/nvapi64.dll" "$WORK/app/nvapi64.dll"
    cp "$BUILD/marker/nvapi64.dll" "$WORK/cwd/nvapi64.dll"
    cp "$BUILD/marker/nvapi64.dll" "$WORK/path/nvapi64.dll"
}
use_scenario() { export EDIDLOAD_DRIVER_SCENARIO; EDIDLOAD_DRIVER_SCENARIO=$(winpath "$FIXTURES/$1"); }
use_edid() { cp "$FIXTURES/$1" "$WORK/cwd/edid.bin"; }

# Runs the tool from the current directory cwd with stdin at end of input.
# Leaves its stdout in $WORK/stdout.txt and its exit code in EXIT_CODE.
run_tool() {
    export EDIDLOAD_DRIVER_TRACE
    EDIDLOAD_DRIVER_TRACE=$(winpath "$WORK/trace.txt")
    (cd "$WORK/cwd" && WINEPREFIX=$PREFIXES/$PREFIX_NAME \
        WINEPATH="$(winpath "$WORK/path")" \
        wine "$(winpath "$WORK/app/edidload.exe")" </dev/null >"$WORK/stdout.txt" 2>"$WORK/stderr.txt")
    EXIT_CODE=$?
    WINEPREFIX=$PREFIXES/$PREFIX_NAME wineserver -w
    # The double writes its trace in text mode: compare lines without the \r.
    if [ -f "$WORK/trace.txt" ]; then
        tr -d '\r' <"$WORK/trace.txt" >"$WORK/trace.lf" && mv "$WORK/trace.lf" "$WORK/trace.txt"
    fi
}

# Runs the tool with standard input held open (a pipe nobody writes to) for at
# most the given seconds: a tool that waits for a key is still waiting then.
# Leaves EXIT_CODE, 124 when the time ran out.
run_tool_holding_input() {
    local seconds=$1 holder
    rm -f "$WORK/input"
    mkfifo "$WORK/input"
    sleep 600 >"$WORK/input" &
    holder=$!
    (cd "$WORK/cwd" && WINEPREFIX=$PREFIXES/$PREFIX_NAME timeout "$seconds" \
        wine "$(winpath "$WORK/app/edidload.exe")" <"$WORK/input" >"$WORK/stdout.txt" 2>"$WORK/stderr.txt")
    EXIT_CODE=$?
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
    WINEPREFIX=$PREFIXES/$PREFIX_NAME wineserver -k >/dev/null 2>&1
    WINEPREFIX=$PREFIXES/$PREFIX_NAME wineserver -w
}

# Runs a Windows-side test program of the build under Wine; its exit code in EXIT_CODE.
run_windows_test() {
    local program=$1
    shift
    (cd "$WORK/cwd" && WINEPREFIX=$PREFIXES/$PREFIX_NAME \
        wine "$(winpath "$BUILD/$program")" "$@" </dev/null >"$WORK/stdout.txt" 2>"$WORK/stderr.txt")
    EXIT_CODE=$?
    WINEPREFIX=$PREFIXES/$PREFIX_NAME wineserver -w
    tr -d '\r' <"$WORK/stdout.txt"
}

# Runs a Windows-side test program of the build as the tool runs: copied into
# the program directory app (beside whatever was planted there), from the
# current directory cwd, with the PATH directory on WINEPATH. Leaves its stdout
# (without \r) in $WORK/stdout.txt and its exit code in EXIT_CODE.
run_windows_test_in_app() {
    local program=$1
    shift
    cp "$BUILD/$program" "$WORK/app/$program"
    (cd "$WORK/cwd" && WINEPREFIX=$PREFIXES/$PREFIX_NAME \
        WINEPATH="$(winpath "$WORK/path")" \
        wine "$(winpath "$WORK/app/$program")" "$@" </dev/null >"$WORK/stdout.raw" 2>"$WORK/stderr.txt")
    EXIT_CODE=$?
    WINEPREFIX=$PREFIXES/$PREFIX_NAME wineserver -w
    tr -d '\r' <"$WORK/stdout.raw" >"$WORK/stdout.txt"
}

# Byte for byte: the expected text (written with \n) with every newline as the
# console's \r\n.
expect_stdout() {
    perl -pe 's/\n/\r\n/' "$EXPECTED/$1" >"$WORK/expected.txt"
    cmp "$WORK/expected.txt" "$WORK/stdout.txt" || {
        diff <(od -c "$WORK/expected.txt") <(od -c "$WORK/stdout.txt") | head -20 >&2
        fail "stdout differs from $1"
    }
}
expect_exit() { [ "$EXIT_CODE" = "$1" ] || fail "exit code $EXIT_CODE, expected $1"; }
expect_no_marker() { [ ! -e "$MARKER" ] || fail "a planted DLL was loaded: $(cat "$MARKER")"; }
expect_marker() { [ -e "$MARKER" ] || fail "the marker DLL did not leave its marker"; }
expect_trace() { grep -qxF "$1" "$WORK/trace.txt" || fail "driver trace lacks: $1"; }
expect_no_trace() { ! grep -qxF "$1" "$WORK/trace.txt" || fail "driver trace has: $1"; }

# The one line of driver_route_check.exe: the module loaded from system32, or
# the request failed (with the given code, if one is given).
expect_route_loaded_from_system32() {
    grep -qiE '^loaded .*\\system32\\nvapi64\.dll$' "$WORK/stdout.txt" ||
        fail "not loaded from system32: $(cat "$WORK/stdout.txt")"
}
expect_route_failed() {
    grep -qE "^failed ${1:-[0-9]+}\$" "$WORK/stdout.txt" ||
        fail "expected failed ${1:-<code>}: $(cat "$WORK/stdout.txt")"
}

# shellcheck source=/dev/null
. "$CASE_FILE"
run_case
echo "PASS $CASE"
