#!/usr/bin/env bash
# The installed tree and the Debian package, as a user meets them.
#   package_test.sh install|deb <build dir> <source dir> <libdir> <version> <C compiler>
# install: cmake --install into a scratch prefix; the manual page renders without a warning;
#   the effect guide's example builds against
#   the installed header and pkg-config file and filters as the guide says; the host finds
#   its own library wherever the tree is moved, and the user's library first on
#   LD_LIBRARY_PATH before it.
# deb: dpkg-buildpackage builds the source and binary packages from a copy of the source
#   files as they are; lintian reports no error and no warning on them; the copyright file carries the
#   licence; the unpacked host finds its library. The packages are kept in <build dir>/deb
#   (scripts/test-deb.sh installs and tests them).
set -euo pipefail
mode=$1 build=$2 source=$3 libdir=$4 version=$5 cc=$6
scratch=$(mktemp -d "$build/package-test.XXXXXX") # the build tree allows executables
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2 && exit 1; }
run() { timeout -s KILL 180 "$@"; }

# loads <host> <libmix_c.so> [LD_LIBRARY_PATH]: every library found, ours where expected.
loads() {
    local out
    out=$(LD_LIBRARY_PATH=${3:-} run ldd "$1") || fail "ldd $1"
    ! grep -q 'not found' <<<"$out" || fail "ldd: $out"
    out=$(awk '$1 == "libmix_c.so" { print $3 }' <<<"$out")
    [ "$(readlink -f "$out")" = "$(readlink -f "$2")" ] || fail "$1 loads '$out', not $2"
}
# The n-th block of C code in the effect guide (2: the pre-emphasis, 3: its test driver).
guide_c() { awk -v n="$1" '/^```c$/ { i++; on = i == n; next } /^```/ { on = 0 } on' "$source/doc/effects.md"; }

if [ "$mode" = install ]; then
    prefix=$scratch/prefix effect=$scratch/effect
    run cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install"
    cflags=$(PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig run pkg-config --cflags dsphost-effect)
    mkdir "$effect" && guide_c 2 >"$effect/effect.c" && guide_c 3 >"$effect/try.c"
    # shellcheck disable=SC2086
    run "$cc" -std=c11 -Wall -Wextra -Werror -fPIC -shared -Wl,-soname,libmix_c.so $cflags \
        -o "$effect/libmix_c.so" "$effect/effect.c" || fail "the guide's effect does not build"
    # shellcheck disable=SC2086
    run "$cc" -std=c11 -Wall -Wextra -Werror $cflags -o "$effect/try" "$effect/try.c" \
        -L "$effect" -Wl,-rpath,"$effect" -lmix_c || fail "the guide's driver does not build"
    [ "$(run "$effect/try")" = "$(printf '%s\n' '+0.00000 -> +0.00000' '+0.50000 -> +0.50000' \
        '+0.50000 -> +0.02500' '-0.50000 -> -0.97500' '+0.99000 -> +0.99997')" ] ||
        fail "the guide's effect gives $(run "$effect/try")"
    mv "$prefix" "$scratch/moved"
    loads "$scratch/moved/bin/dsphost" "$scratch/moved/$libdir/dsphost/libmix_c.so"
    warnings=$(MANWIDTH=80 run man --warnings -l "$scratch/moved/share/man/man1/dsphost.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "the manual page: $warnings"
    loads "$scratch/moved/bin/dsphost" "$effect/libmix_c.so" "$effect"
else
    # The source files as they are, in a checkout or any other copy of the tree (no git
    # needed): every file but version control's and those .gitignore names (build folders,
    # debhelper's leftovers, try.sh's output); no stale packages meanwhile.
    skip=(-name .git)
    while read -r p; do
        case "${p%/}" in "" | "#"*) ;; /*) skip+=(-o -path ".${p%/}") ;; *) skip+=(-o -name "${p%/}") ;; esac
    done <"$source/.gitignore"
    rm -rf "$build/deb" && mkdir "$scratch/dsphost" && (cd "$source" && find . \( "${skip[@]}" \) -prune -o ! -type d -print0) |
        tar -C "$source" --null -T - -c | tar -C "$scratch/dsphost" -x
    (cd "$scratch/dsphost" && run nice dpkg-buildpackage -us -uc --check-command=lintian \
        --check-option=--fail-on=error,warning) >"$scratch/log" 2>&1 || fail "$(tail -30 "$scratch/log")"
    run dpkg -x "$scratch/dsphost_${version}"_*.deb "$scratch/root"
    loads "$scratch/root/usr/bin/dsphost" "$scratch/root/usr/$libdir/dsphost/libmix_c.so"
    grep -qx 'prefix=/usr' "$scratch/root/usr/$libdir/pkgconfig/dsphost-effect.pc" || fail "prefix"
    # The copyright file's licence is LICENSE's text, in the machine-readable layout.
    diff <(sed -n '/^Permission/,$p' "$source/LICENSE") \
        <(sed -n 's/^ \.$//; s/^ //; /^Permission/,$p' "$scratch/root/usr/share/doc/dsphost/copyright") ||
        fail "the copyright file's licence differs from LICENSE"
    mkdir "$build/deb" && mv "$scratch"/dsphost*_* "$build/deb"
fi
echo "PASS: $mode"
