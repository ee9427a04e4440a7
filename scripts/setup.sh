#!/usr/bin/env bash
# Installs what building, running and testing dsphost needs on Debian 12, if missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev pkg-config clang-tidy clang-format
    portaudio19-dev libasound2-dev libasound2-plugins
    libgtest-dev libgmock-dev libbenchmark-dev
    pulseaudio pulseaudio-utils faketime valgrind sox
    python3
    dpkg-dev groff-base man-db lintian
    locales-all
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
