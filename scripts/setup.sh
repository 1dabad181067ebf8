#!/usr/bin/env bash
# Installs what building and testing Ventora needs on Debian 12. Run it as root; it is safe to run
# again, and asks apt for nothing when everything is already there.
set -euo pipefail

packages=(
    # The native build: the platform-neutral core, its unit tests, benchmarks and fuzz targets.
    cmake ninja-build g++ python3
    googletest libgtest-dev libbenchmark-dev
    clang libclang-rt-14-dev
    # The cross build of ventora.exe and its tools, and the icon tools.
    g++-mingw-w64-x86-64-posix icoutils
    # Running it: Wine, a virtual X display, fan controllers on pty pairs, screenshots and real
    # mouse clicks.
    wine wine64 xvfb socat imagemagick xdotool
    # The font Wine draws the title-bar buttons with.
    fonts-wine
    # The release: the installer and the portable zip.
    nsis zip
    # The fan controller's firmware (AVR), and the simulated board that runs it (simavr).
    gcc-avr binutils-avr avr-libc libsimavr-dev libsimavrparts1 libelf-dev pkg-config
    # The Arduino bootloaders the simulated board runs (Optiboot is built from this package's
    # source), and avrdude, the flashing tool the board is checked against.
    arduino-core-avr avrdude
    # The stand-in PlayStation's Salsa20, independent of Ventora's own (Debian's python3 only).
    python3-pycryptodome
    # The home network the console suites make for themselves: network namespaces and a veth pair.
    iproute2
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    echo "setup: everything is installed"
    exit 0
fi

if [[ $(id -u) -ne 0 ]]; then
    echo "setup: missing ${missing[*]}; run this script as root to install them" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
