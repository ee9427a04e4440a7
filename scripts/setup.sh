#!/usr/bin/env bash
# Installs what dsphost needs on Debian 12, if missing, for the purposes named:
#   scripts/setup.sh run       building and running the program (scripts/run.sh; the Install
#                              commands of doc/hacking.md need no more)
#   scripts/setup.sh try       that, and a private sound server and sox (scripts/try.sh)
#   scripts/setup.sh test      that, and the test kit: GoogleTest, Google Benchmark, clang and
#                              its tools, the Debian packaging tools (scripts/test.sh's Linux steps)
#   scripts/setup.sh windows   the Windows cross-build kit (mingw-w64, wine, GoogleTest's
#                              sources) and PortAudio's source (scripts/test-windows.sh)
#   scripts/setup.sh all       every purpose
# It says in one line what it installs before it asks for root (sudo, unless run as root).
set -euo pipefail

run=(cmake ninja-build g++ pkg-config libasound2-dev libasound2-plugins patch)
try=("${run[@]}" pulseaudio pulseaudio-utils sox python3)
test=("${try[@]}"
    clang libclang-rt-14-dev clang-tidy clang-format portaudio19-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    faketime valgrind
    build-essential dpkg-dev debhelper lintian autopkgtest groff-base man-db
    locales-all)
windows=(cmake ninja-build patch python3 pulseaudio pulseaudio-utils libasound2-plugins
    g++-mingw-w64-x86-64 mingw-w64-tools wine64 wine googletest)

# PortAudio 19.7.0's release tarball, which every build compiles (cmake/portaudio.cmake), as
# Debian's portaudio19 source package ships it unchanged: fetched once into the cache from the
# archive this machine's apt already uses, and checked by its SHA-256.
fetch_portaudio_source() {
    local cache="$HOME/.cache/dsphost" name=portaudio19_19.7.0.orig.tar.gz uri
    local sha256=5af29ba58bbdbb7bbcefaaecc77ec8fc413f0db6f4c4e286c40c3e1b83174fa0
    if [ -f "$cache/$name" ]; then return; fi
    echo "setup.sh: fetching PortAudio's release into $cache"
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
    if [ -z "$uri" ]; then
        uri=$(awk '$1 == "deb" && $2 ~ /^http/ {print $2; exit}' /etc/apt/sources.list)
    fi
    mkdir -p "$cache"
    local as_root=()
    if [ "$(id -u)" -eq 0 ]; then as_root=(-o APT::Sandbox::User=root); fi
    /usr/lib/apt/apt-helper "${as_root[@]}" -qq download-file \
        "${uri%/}/pool/main/p/portaudio19/$name" "$cache/$name.part" "SHA256:$sha256"
    mv "$cache/$name.part" "$cache/$name"
}

purposes=("$@")
if ((${#purposes[@]} == 0)); then
    echo "usage: scripts/setup.sh run|try|test|windows|all ..." >&2
    exit 2
fi
packages=()
for purpose in "${purposes[@]}"; do
    case "$purpose" in
        run) packages+=("${run[@]}") ;;
        try) packages+=("${try[@]}") ;;
        test) packages+=("${test[@]}") ;;
        windows) packages+=("${windows[@]}") ;;
        all) packages+=("${test[@]}" "${windows[@]}") ;;
        *)
            echo "setup.sh: unknown purpose: $purpose (run, try, test, windows, all)" >&2
            exit 2
            ;;
    esac
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "setup.sh ${purposes[*]}: installing with apt-get${sudo:+ (through sudo)}: ${missing[*]} (and what they depend on)"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Every purpose includes a build of dsphost (run, or windows), and PortAudio's release with it.
fetch_portaudio_source
