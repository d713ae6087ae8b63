#!/usr/bin/env bash
# Installs the Debian packages the program needs (and, with --test, the ones
# the tests and benchmarks need), skipping what is already present.
set -euo pipefail

RUNTIME_PKGS=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools libicu-dev
              libgl-dev zlib1g-dev libdeflate-dev libbz2-dev liblzma-dev libzstd-dev libssl-dev fonts-noto-cjk qt6-qpa-plugins qt6-wayland qt6-translations-l10n)
TEST_PKGS=(libgtest-dev libgmock-dev openssl zip unzip p7zip-full
           libarchive-tools python3 xvfb xauth xdotool imagemagick x11-utils
           clang libclang-rt-dev rename findutils dpkg-dev file xclip
           lintian appstream desktop-file-utils pigz openbox wmctrl weston)

pkgs=("${RUNTIME_PKGS[@]}")
if [[ "${1:-}" == "--test" ]]; then
    pkgs+=("${TEST_PKGS[@]}")
fi

missing=()
for p in "${pkgs[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    SUDO=""
    if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
