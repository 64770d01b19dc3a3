#!/usr/bin/env bash
# Runs every test: installs what a fresh machine lacks, builds both builds and
# runs the native tests, the native tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets for a bounded time, and the
# windows build's tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}
PACKAGES="cmake g++ clang libclang-rt-14-dev libgtest-dev libbenchmark-dev perl
          g++-mingw-w64-x86-64-posix wine64 edid-decode"

missing=""
for package in $PACKAGES; do
    dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
if [ -n "$missing" ]; then
    echo "== installing:$missing"
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing >/dev/null
fi

echo "== native build and tests"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j "$JOBS"
ctest --test-dir build/native -j "$JOBS" --output-on-failure

echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/native-asan -DCMAKE_BUILD_TYPE=Debug -DEDIDLOAD_SANITIZE=ON >/dev/null
cmake --build build/native-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/native-asan -j "$JOBS" --output-on-failure

if [ -x scripts/fuzz.sh ]; then
    echo "== fuzzing"
    scripts/fuzz.sh 60
fi

echo "== windows build and tests under Wine"
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/windows -j "$JOBS"
ctest --test-dir build/windows --output-on-failure

echo "== all tests passed"
