#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs fuzz_path_helpers
# for a bounded time.
#
#   scripts/fuzz.sh [seconds]      (default 60)
#
# Starts from the seed corpus in tests/fuzz/corpus/path_helpers (never written);
# new inputs go to build/fuzz/corpus/path_helpers, findings to build/fuzz/artifacts/.
# Exits non-zero on any finding (crash, sanitizer report, leak, broken invariant,
# timeout) and on any build failure.
set -euo pipefail

seconds="${1:-60}"
case "$seconds" in
  ''|*[!0-9]*) echo "fuzz.sh: the time must be a whole number of seconds, not '$seconds'" >&2; exit 2 ;;
esac

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
seeds="$root/tests/fuzz/corpus/path_helpers"
corpus="$build/corpus/path_helpers"
artifacts="$build/artifacts"

export CC="${CC:-clang}" CXX="${CXX:-clang++}"

# Installs packages with apt-get when we may (root, or sudo without a password).
install_packages() {
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then sudo="sudo -n"; else
      echo "fuzz.sh: missing packages ($*), and no permission to install them" >&2; return 1
    fi
  fi
  command -v apt-get >/dev/null 2>&1 || { echo "fuzz.sh: missing packages ($*), no apt-get" >&2; return 1; }
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@"
}

# The tools: cmake, clang and its libFuzzer runtime, and GoogleTest (the native
# build configures its test programs too, even when only the fuzz target is built).
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v "$CXX" >/dev/null 2>&1 || missing+=(clang)
[ -e /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
if [ ${#missing[@]} -gt 0 ]; then install_packages "${missing[@]}"; fi

probe_dir="$(mktemp -d)"
trap 'rm -rf "$probe_dir"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  > "$probe_dir/probe.cpp"
if ! "$CXX" -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cpp" -o "$probe_dir/probe" 2>/dev/null; then
  major="$("$CXX" -dumpversion | cut -d. -f1)"
  install_packages "libclang-rt-$major-dev" || install_packages "libclang-rt-dev" || true
  "$CXX" -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cpp" -o "$probe_dir/probe" || {
    echo "fuzz.sh: $CXX cannot link a libFuzzer target (install libclang-rt-<version>-dev)" >&2; exit 1; }
fi

# A build tree configured with another compiler cannot be reused.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q "^CMAKE_CXX_COMPILER:.*$(basename "$CXX")" "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DEDIDLOAD_FUZZ=ON >/dev/null
cmake --build "$build" --target fuzz_path_helpers -j2

mkdir -p "$corpus" "$artifacts"
echo "fuzz.sh: running fuzz_path_helpers for ${seconds}s"
status=0
"$build/tests/fuzz/fuzz_path_helpers" "$corpus" "$seeds" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
  -artifact_prefix="$artifacts/" -print_final_stats=1 || status=$?
if [ "$status" -ne 0 ]; then
  echo "fuzz.sh: fuzz_path_helpers found a problem (exit $status); inputs in $artifacts/" >&2
  exit "$status"
fi
echo "fuzz.sh: no findings"
