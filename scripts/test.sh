#!/usr/bin/env bash
# Sets up, builds and runs every test through CTest, offscreen. Exits non-zero on any failure.
#   scripts/test.sh              the normal build, then the fuzz targets for a bounded time
#   scripts/test.sh --sanitize   the same tests built with AddressSanitizer + UBSan
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

sanitize=OFF
build=build
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=ON
    build=build-asan
fi

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANTIS_SANITIZE=$sanitize -DCORVANTIS_WERROR=ON >/dev/null
cmake --build "$build" -j "$jobs"
if [ "$sanitize" = ON ]; then
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
ctest --test-dir "$build" --output-on-failure -j "$jobs"

# The fuzz targets need clang's libFuzzer; run each for a bounded time when it is present.
if [ "$sanitize" = OFF ] && command -v clang++ >/dev/null 2>&1; then
    CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCORVANTIS_FUZZ=ON -DCORVANTIS_WERROR=ON -DCORVANTIS_BUILD_TESTS=OFF -DCORVANTIS_BUILD_BENCH=OFF >/dev/null
    cmake --build build-fuzz -j "$jobs" --target fuzz_all
    fuzz/run.sh build-fuzz "${CORVANTIS_FUZZ_SECONDS:-60}"
fi
