#!/usr/bin/env bash
# Builds dsphost's Debian source and binary packages from this tree as it is (files that
# .gitignore names left out) into OUTDIR, without the network: format 3.0 (quilt), the upstream tarball
# made from the tree and PortAudio's release, unchanged, as its portaudio component; lintian
# checks both and fails the build on any error or warning. Needs the build dependencies
# (debian/control), dpkg-dev, debhelper, lintian, and the release in ~/.cache/dsphost
# (scripts/setup.sh fetches it; DSPHOST_PORTAUDIO_SOURCE names another copy).
#   scripts/build-deb.sh [OUTDIR]      (default: the folder above the tree)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:-$src/..}" && out=$(cd "${1:-$src/..}" && pwd)
version=$(sed -n '1s/^dsphost (\([^-]*\)-.*/\1/p' "$src/debian/changelog")
portaudio=${DSPHOST_PORTAUDIO_SOURCE:-$HOME/.cache/dsphost/portaudio19_19.7.0.orig.tar.gz}
work=$(mktemp -d "$out/build-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The tree's files, in a checkout or any other copy of it (no git needed): every file but
# version control's and those .gitignore names (build folders, debhelper's leftovers, try.sh's
# output).
skip=(-name .git)
while read -r p; do
    case "${p%/}" in "" | "#"*) ;; /*) skip+=(-o -path ".${p%/}") ;; *) skip+=(-o -name "${p%/}") ;; esac
done <"$src/.gitignore"
mkdir "$work/dsphost"
(cd "$src" && find . \( "${skip[@]}" \) -prune -o ! -type d -print0) |
    tar -C "$src" --null -T - -c | tar -C "$work/dsphost" -x

tar -C "$work" --exclude=dsphost/debian --sort=name --owner=0 --group=0 --mtime=@0 \
    -czf "$work/dsphost_$version.orig.tar.gz" dsphost
cp "$portaudio" "$work/dsphost_$version.orig-portaudio.tar.gz"
mkdir "$work/dsphost/portaudio"
tar -C "$work/dsphost/portaudio" --strip-components=1 -xzf "$portaudio"

(cd "$work/dsphost" && dpkg-buildpackage -us -uc --check-command=lintian \
    --check-option=--fail-on=error,warning)
mv "$work"/dsphost*_* "$out"
