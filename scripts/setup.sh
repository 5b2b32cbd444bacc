#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need.
# Runs apt-get directly as root, through sudo otherwise; says what to do when neither works.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    dpkg-dev file lintian desktop-file-utils appstream man-db groff-base librsvg2-bin
    clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-serialport-dev libgl-dev libudev-dev
    fonts-dejavu-core
    coreutils
    xvfb xdotool python3
    dbus at-spi2-core python3-pyatspi python3-xlib
    nlohmann-json3-dev libtelnet-dev ser2net
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    apt=(apt-get)
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    apt=(sudo apt-get)
else
    echo "setup: these Debian packages are missing: ${missing[*]}" >&2
    echo "setup: run as root, or as a user with sudo, or install them yourself:" >&2
    echo "    sudo apt-get install ${missing[*]}" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# A fresh machine may have no package lists yet: refresh them only when an install fails.
if ! "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; then
    "${apt[@]}" update
    "${apt[@]}" install -y --no-install-recommends "${missing[@]}"
fi
