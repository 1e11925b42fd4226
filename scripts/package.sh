#!/usr/bin/env bash
# Builds the Debian package of Corvantis with CPack, and its debug symbols package.
#   scripts/package.sh [OUTPUT_FOLDER]     corvantis_VERSION_ARCH.deb and its debug symbols,
#                                          corvantis-dbgsym_VERSION_ARCH.deb, go to OUTPUT_FOLDER
#                                          (default: out/)
# The package is built from a tree of its own, configured here whatever it was before:
# RelWithDebInfo, without the tests and benchmarks, the source and build folders mapped out of
# the program (CORVANTIS_MAP_PATHS). It is build-package/, or the folder CORVANTIS_PACKAGE_BUILD
# names (a folder for this build alone: it is configured so).
# Every file in the package carries the time of SOURCE_DATE_EPOCH, by default the date of the
# latest entry of docs/changelog, so two builds of the same sources give the same bytes, in any
# folder.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-out}")
build=${CORVANTIS_PACKAGE_BUILD:-build-package}

if [ ! -f "$build/CMakeCache.txt" ]; then
    scripts/setup.sh
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANTIS_SANITIZE=OFF \
    -DCORVANTIS_FUZZ=OFF -DCORVANTIS_BUILD_TESTS=OFF -DCORVANTIS_BUILD_BENCH=OFF \
    -DCORVANTIS_MAP_PATHS=ON >/dev/null
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l docs/changelog -STimestamp)
fi
export SOURCE_DATE_EPOCH
# Only what the package holds: the program, its drawn icons and its compressed documents.
cmake --build "$build" --target Corvantis corvantis_icons corvantis_docs
mkdir -p "$out"
rm -f "$out"/corvantis*.deb "$out"/corvantis*.ddeb
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out"
rm -rf "$out/_CPack_Packages"

# CPack's debug symbols package (.ddeb) lists its file under the staging folder's path in its
# md5sums and leaves the file executable. It is packed again as Debian packs its own: md5sums of
# the paths in the package, the file read-only, the documents those of the program's package,
# named .deb.
ddeb=$(ls "$out"/corvantis-dbgsym_*.ddeb)
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
chmod 0755 "$tree"
dpkg-deb --raw-extract "$ddeb" "$tree"
find "$tree/usr/lib/debug" -type f -name '*.debug' -exec chmod 0644 {} +
mkdir -p "$tree/usr/share/doc"
ln -s corvantis "$tree/usr/share/doc/corvantis-dbgsym"
(cd "$tree" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum >DEBIAN/md5sums)
sed -i -e '/^Package-Type:/d' -e '/^Package:/a Source: corvantis' "$tree/DEBIAN/control"
dpkg-deb --root-owner-group --build "$tree" "${ddeb%.ddeb}.deb" >/dev/null
rm "$ddeb"
ls "$out"/*.deb
