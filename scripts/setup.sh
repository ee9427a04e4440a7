#!/usr/bin/env bash
# Installs what building, running and testing dsphost needs on Debian 12, if missing.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev pkg-config clang-tidy clang-format
    portaudio19-dev libasound2-dev libasound2-plugins
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

# The Windows build compiles PortAudio 19.6.0 from source: the release tarball as Debian's
# portaudio19 source package ships it, fetched once into the cache with a private apt
# configuration (the system's own stays untouched), from the archive this machine uses.
cache="$HOME/.cache/dsphost"
if [ ! -f "$cache/portaudio19_19.6.0.orig.tar.gz" ]; then
    d="$cache/apt"
    mkdir -p "$d/lists/partial" "$d/cache/archives/partial"
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    if [ -z "$uri" ]; then
        uri=$(awk '$1 == "deb" && $2 ~ /^http/ {print $2; exit}' /etc/apt/sources.list)
    fi
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm\nComponents: main\nSigned-By: %s\n' \
        "$uri" /usr/share/keyrings/debian-archive-keyring.gpg >"$d/src.sources"
    apt_private=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$d"
        -o "Dir::State::Lists=$d/lists" -o "Dir::Cache=$d/cache")
    if [ "$(id -u)" -eq 0 ]; then apt_private+=(-o APT::Sandbox::User=root); fi
    apt-get "${apt_private[@]}" update -qq
    (cd "$cache" && apt-get "${apt_private[@]}" source --download-only -qq portaudio19)
fi
