#!/usr/bin/env bash
# Builds the Debian package of Corvantis with CPack.
#   scripts/package.sh [OUTPUT_FOLDER]     the .deb goes to OUTPUT_FOLDER (default: out/)
# The package is built from a Release tree in build-package/; CORVANTIS_PACKAGE_BUILD names
# another build folder, which is used as it is configured when it already exists.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-out}")
build=${CORVANTIS_PACKAGE_BUILD:-build-package}

if [ ! -f "$build/CMakeCache.txt" ]; then
    scripts/setup.sh
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCORVANTIS_BUILD_TESTS=OFF -DCORVANTIS_BUILD_BENCH=OFF >/dev/null
fi
# Only what the package holds: the program and its drawn icons.
cmake --build "$build" --target Corvantis corvantis_icons
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out"
rm -rf "$out/_CPack_Packages"
ls "$out"/*.deb
