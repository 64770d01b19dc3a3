#!/usr/bin/env bash
# The main job: builds edidload.exe and runs it under Wine on the simulated GPU
# driver (two GPUs) with the project's sample EDID, showing the whole console run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build/windows
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$BUILD/wine/run

cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" --target edidload nvapi64 -j 2 >/dev/null
if [ ! -f "$WINEPREFIX/.ready" ]; then
    echo "(creating a Wine prefix, once: $WINEPREFIX)"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1
    wine winecfg -v win10 >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.ready"
fi
cp "$BUILD/driver_double/nvapi64.dll" "$WINEPREFIX/drive_c/windows/system32/nvapi64.dll"

RUN=$BUILD/run
mkdir -p "$RUN"
cp tests/fixtures/sample_edid.bin "$RUN/edid.bin"
export EDIDLOAD_DRIVER_SCENARIO
EDIDLOAD_DRIVER_SCENARIO=$(printf 'Z:%s' "$ROOT/tests/fixtures/two_gpus.txt" | tr '/' '\\')
cd "$RUN"
set +e
echo | wine "$BUILD/edidload.exe"
code=$?
echo
echo "(exit code $code)"
