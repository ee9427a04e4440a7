#!/usr/bin/env bash
# Installs what building, running and testing dsphost needs on Debian 12, if missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev pkg-config clang-tidy clang-format
    libasound2-dev libasound2-plugins patch
    libgtest-dev libgmock-dev libbenchmark-dev
    pulseaudio pulseaudio-utils faketime valgrind sox
    python3
    dpkg-dev debhelper lintian autopkgtest groff-base man-db
    locales-all
    g++-mingw-w64-x86-64 mingw-w64-tools wine64 wine googletest
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

# Every build compiles PortAudio 19.7.0 from its release tarball (cmake/portaudio.cmake), as
# Debian's portaudio19 source package ships it unchanged, fetched once into the cache from the
# archive this machine's apt already uses, and checked by its SHA-256.
fetch_portaudio() {
    local cache="$HOME/.cache/dsphost" name=portaudio19_19.7.0.orig.tar.gz uri
    local sha256=5af29ba58bbdbb7bbcefaaecc77ec8fc413f0db6f4c4e286c40c3e1b83174fa0
    [ -f "$cache/$name" ] && return 0
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    if [ -z "$uri" ]; then
        uri=$(awk '$1 == "deb" && $2 ~ /^http/ {print $2; exit}' /etc/apt/sources.list)
    fi
    mkdir -p "$cache"
    local as_root=()
    if [ "$(id -u)" -eq 0 ]; then as_root=(-o APT::Sandbox::User=root); fi
    /usr/lib/apt/apt-helper "${as_root[@]}" -qq download-file "${uri%/}/pool/main/p/portaudio19/$name" \
        "$cache/$name.part" "SHA256:$sha256" && mv "$cache/$name.part" "$cache/$name"
}
fetch_portaudio
