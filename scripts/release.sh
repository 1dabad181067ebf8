#!/usr/bin/env bash
# A Ventora release in one command: installs what is missing, builds everything in Release and
# writes into build/release/
#   ventora-<version>-win64.zip   the portable program and its board set-up tool, with the README,
#                                 licence and changes, the truck games' plugin and the karts' and
#                                 bikes' three (and the firmware
#                                 and wiring pictures, when the tree has them)
#   ventora-<version>-setup.exe   the installer
#   SHA256SUMS                    the checksum of each
# The version is the one project(Ventora VERSION ...) in CMakeLists.txt sets.
#
#   bash scripts/release.sh       (as root on a fresh Debian 12 machine)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

# The firmware first: ventora-board.exe carries its images, one per output kind.
firmware=()
pictures=()
if grep -q '"name": *"firmware"' CMakePresets.json; then
    cmake --preset firmware >/dev/null
    cmake --build --preset firmware
    for file in build/firmware/ventora-fan*.hex; do
        if [[ -f $file ]]; then firmware+=("$file"); fi
    done
    for file in docs/wiring-*.svg; do
        if [[ -f $file ]]; then pictures+=("$file"); fi
    done
fi

cmake --preset windows >/dev/null
cmake --build --preset windows --target ventora publish_game ventora-board ventora-trucks \
    ventora-krp ventora-mxbikes ventora-gpbikes installer
build=build/windows
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n $version ]] || {
    echo "release: no project version in $build/CMakeCache.txt" >&2
    exit 1
}

out=build/release
rm -rf "$out"
stage=$out/stage
mkdir -p "$stage"
cp "$build/ventora.exe" "$build/publish_game.exe" "$build/ventora-board.exe" "$build/ventora-trucks.dll" \
    "$build/ventora-krp.dlo" "$build/ventora-mxbikes.dlo" "$build/ventora-gpbikes.dlo" \
    "$build/README.txt" LICENSE CHANGELOG.md scripts/ventora-proton.sh "${firmware[@]}" "$stage/"
# Where README.txt points (Linux users, the wiring pictures), as in the source tree.
mkdir "$stage/docs"
cp docs/linux.md "${pictures[@]}" "$stage/docs/"
zip="ventora-$version-win64.zip"
setup="ventora-$version-setup.exe"
# -X and one fixed time stamp: the same tree gives the same zip.
find "$stage" -exec touch -h -d "$(git log -1 --format=%cI 2>/dev/null || date -Iseconds)" {} +
(cd "$stage" && zip -X -q -r "../$zip" .)
rm -rf "$stage"
cp "$build/$setup" "$out/"
(cd "$out" && sha256sum "$zip" "$setup" >SHA256SUMS)

echo
echo "release $version in $out:"
(cd "$out" && ls -l "$zip" "$setup" SHA256SUMS && python3 -m zipfile -l "$zip")
