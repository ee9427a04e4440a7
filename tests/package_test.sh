#!/usr/bin/env bash
# Installs the build tree the way a user would and runs what was installed.
#
#   package_test.sh install <build dir> <source dir> <libdir> <version> <C compiler>
#       cmake --install into a scratch prefix: the host finds its own library (ldd), also
#       after the tree is moved; the guide's effect builds against the installed header and
#       pkg-config file; a library on LD_LIBRARY_PATH replaces ours and is called; and the
#       host runs (smoke check).
#   package_test.sh deb <build dir> <source dir> <libdir> <version> <C compiler>
#       cpack builds the .deb; dpkg-deb -I and -c show the expected fields and files;
#       dpkg -x into a scratch root, and the host found there runs (smoke check).
#   package_test.sh smoke <binary>
#       the smoke check alone, for any build of the host.
#
# The smoke check: stdin from /dev/null, stdout to a file, ALSA pointed at a configuration
# of our own whose default device does not exist (the machine's own sound set-up is never
# used, and the result is the same with or without a sound card), SIGTERM after two
# seconds. The file must hold status lines and nothing else, one per second, with CR LF;
# standard error must stay empty; the process must end by SIGTERM.
set -uo pipefail

mode=$1
build_dir=${2:-}
source_dir=${3:-}
libdir=${4:-}
version=${5:-}
cc=${6:-cc}

# Scratch space in the build tree: it allows executables, which a noexec /tmp would not.
scratch_base=${TMPDIR:-/tmp}
if [ "$mode" != smoke ]; then scratch_base=$build_dir; fi
scratch=$(mktemp -d "$scratch_base/package-test.XXXXXX")
host_pid=""
cleanup() {
    if [ -n "$host_pid" ]; then kill -KILL "$host_pid" 2>/dev/null; fi
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
note() { echo "$*"; }

# Every external step runs under a watchdog so that a hang fails instead of stalling.
run() { timeout -s KILL 60 "$@"; }

# ---------------------------------------------------------------------------------------
# ALSA configurations of our own.

# A default device on a card that does not exist: opening fails as on a machine without a
# sound card. (An ALSA configuration without any pcm entry makes PortAudio abort.)
no_card_conf=$scratch/alsa-no-card.conf
cat >"$no_card_conf" <<'EOF'
pcm.!default { type hw card "dsphost_test_no_such_card" }
EOF

# The null device: it opens and runs, unpaced, so the first callback comes at once.
null_conf=$scratch/alsa-null.conf
cat >"$null_conf" <<'EOF'
pcm.!default { type null }
EOF

# ---------------------------------------------------------------------------------------
# Checks shared by both modes.

# check_runpath <binary> <expected RUNPATH>: RUNPATH (not RPATH, which would rank above
# LD_LIBRARY_PATH) relative to the binary.
check_runpath() {
    local dyn
    dyn=$(LC_ALL=C readelf -d "$1") || fail "readelf $1"
    grep -q '(RPATH)' <<<"$dyn" && fail "$1 carries an RPATH:"$'\n'"$dyn"
    grep -qF "(RUNPATH)            Library runpath: [$2]" <<<"$dyn" ||
        fail "$1: RUNPATH is not $2:"$'\n'"$(grep -i path <<<"$dyn")"
}

# check_finds_library <binary> <expected libmix_c.so> [LD_LIBRARY_PATH]
check_finds_library() {
    local out resolved expected
    if [ -n "${3:-}" ]; then
        out=$(LD_LIBRARY_PATH=$3 run ldd "$1") || fail "ldd $1"
    else
        out=$(env -u LD_LIBRARY_PATH timeout -s KILL 60 ldd "$1") || fail "ldd $1"
    fi
    grep -q 'not found' <<<"$out" && fail "ldd $1: a library is missing:"$'\n'"$out"
    resolved=$(awk '$1 == "libmix_c.so" { print $3 }' <<<"$out")
    [ -n "$resolved" ] || fail "ldd $1 shows no libmix_c.so:"$'\n'"$out"
    resolved=$(readlink -f "$resolved")
    expected=$(readlink -f "$2")
    [ "$resolved" = "$expected" ] || fail "$1 loads $resolved, expected $expected"
    note "ok: $1 loads libmix_c.so from $resolved"
}

# smoke <binary> <name>: the non-interactive run described at the top.
smoke() {
    local bin=$1 out=$scratch/$2.out err=$scratch/$2.err
    local waited=0 ns rest rc lines bad times
    env -u LD_LIBRARY_PATH ALSA_CONFIG_PATH="$no_card_conf" JACK_NO_START_SERVER=1 \
        timeout -s KILL 30 "$bin" </dev/null >"$out" 2>"$err" &
    host_pid=$!
    # The first line comes as soon as the stream has been tried; count the two seconds
    # from there.
    while ! grep -q $'\n' "$out" 2>/dev/null; do
        if [ "$waited" -ge 200 ] || ! kill -0 "$host_pid" 2>/dev/null ||
            [ "$(cut -d' ' -f3 "/proc/$host_pid/stat" 2>/dev/null)" = Z ]; then
            break
        fi
        sleep 0.05
        waited=$((waited + 1))
    done
    sleep 2
    # Signal halfway through a second, well away from the moment a line is written.
    ns=$(date +%N)
    rest=$(((1500000000 - 10#$ns) % 1000000000))
    sleep "$(printf '0.%09d' "$rest")"
    kill -TERM "$host_pid" 2>/dev/null
    wait "$host_pid"
    rc=$?
    host_pid=""

    [ "$rc" -eq 143 ] || fail "$2: exit status $rc, expected 143 (SIGTERM)."$'\n'"stderr: $(head -c 2000 "$err")"$'\n'"stdout: $(head -c 2000 "$out" | od -c | head -20)"
    [ -s "$err" ] && fail "$2: standard error is not empty:"$'\n'"$(head -c 2000 "$err")"
    [ "$(tail -c 2 "$out" | od -An -c | tr -d ' ')" = '\r\n' ] ||
        fail "$2: output does not end with CR LF:"$'\n'"$(tail -c 200 "$out" | od -c)"
    lines=$(grep -c '' "$out")
    [ "$lines" -ge 2 ] || fail "$2: $lines status line(s) in about 2.5 s, expected at least 2"
    # Every line, whole: message, time, the two counts (0: no device), the CPU field.
    bad=$(LC_ALL=C grep -avE "^hit ctrl-C or ESC key to exit [0-9]{2}:[0-5][0-9]:[0-6][0-9] 0 0( [0-9]\.[0-9]{2}|[0-9]{2}\.[0-9]{2}|%[-0-9. E+%]+)%"$'\r$' "$out")
    [ -z "$bad" ] || fail "$2: lines that are not status lines:"$'\n'"$(od -c <<<"$bad" | head -20)"
    # One line per second: no time of day twice.
    times=$(cut -d' ' -f8 "$out" | sort | uniq -d)
    [ -z "$times" ] || fail "$2: more than one line for $times"
    note "ok: $2: $lines status lines, CR LF, stderr empty, ended by SIGTERM (143)"
    note "    first: $(head -n1 "$out" | tr -d '\r')"
}

# A block of code from the effect guide: the n-th fenced block of the given language (c 1
# is the declaration, c 2 the pre-emphasis effect, c 3 the test driver).
doc_block() {
    awk -v lang="$1" -v want="$2" '
        /^```/ { if (inside) { inside = 0; next } if ($0 == "```" lang) { n++; inside = (n == want); next } }
        inside { print }' "$source_dir/doc/effects.md"
}

# ---------------------------------------------------------------------------------------

check_install_tree() {
    local prefix=$scratch/prefix
    run cmake --install "$build_dir" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
        fail "cmake --install:"$'\n'"$(cat "$scratch/install.log")"

    local f
    for f in bin/dsphost "$libdir/libmix_c.so" include/dsphost/dsp_library.h \
        share/pkgconfig/dsphost-effect.pc share/man/man1/dsphost.1.gz \
        share/doc/dsphost/README.md share/doc/dsphost/effects.md; do
        [ -f "$prefix/$f" ] || fail "not installed: $f"
    done
    [ -x "$prefix/bin/dsphost" ] || fail "bin/dsphost is not executable"
    note "ok: installed tree complete"

    check_runpath "$prefix/bin/dsphost" "\$ORIGIN/../$libdir"
    check_finds_library "$prefix/bin/dsphost" "$prefix/$libdir/libmix_c.so"

    # man finds the page in the tree's man directory.
    local page
    page=$(MANPATH=$prefix/share/man run man -w dsphost) || fail "man -w dsphost"
    [ "$page" = "$prefix/share/man/man1/dsphost.1.gz" ] || fail "man -w finds $page"
    note "ok: man -w finds $page"

    # An effect built as the guide says: its filter from the guide, compiled against the
    # installed header with the flags of the installed pkg-config file.
    local cflags effect=$scratch/effect
    cflags=$(PKG_CONFIG_PATH=$prefix/share/pkgconfig run pkg-config --cflags dsphost-effect) ||
        fail "pkg-config does not find dsphost-effect"
    cflags=${cflags%% }
    [ "$cflags" = "-I$prefix/include" ] || fail "pkg-config --cflags gives '$cflags'"
    mkdir -p "$effect"
    doc_block c 2 >"$effect/preemphasis.c"
    grep -q 'adp_emp' "$effect/preemphasis.c" || fail "no effect source found in effects.md"
    # shellcheck disable=SC2086
    run "$cc" -std=c11 -O2 -Wall -Wextra -Werror -fPIC -shared -Wl,-soname,libmix_c.so \
        $cflags -o "$effect/libmix_c.so" "$effect/preemphasis.c" ||
        fail "the guide's effect does not build against the installed header"
    nm -D --defined-only "$effect/libmix_c.so" | grep -qw adp_emp || fail "adp_emp not exported"

    # The guide's test driver, linked with the effect, on its known samples.
    doc_block c 3 >"$effect/try.c"
    # shellcheck disable=SC2086
    run "$cc" -std=c11 -Wall -Wextra -Werror $cflags -o "$effect/try" "$effect/try.c" \
        -L "$effect" -Wl,-rpath,"$effect" -lmix_c || fail "the guide's driver does not build"
    local expected actual
    expected=$'+0.00000 -> +0.00000\n+0.50000 -> +0.50000\n+0.50000 -> +0.02500\n-0.50000 -> -0.97500\n+0.99000 -> +0.99997'
    actual=$(run "$effect/try") || fail "the guide's driver failed"
    [ "$actual" = "$expected" ] ||
        fail "the guide's effect gives"$'\n'"$actual"$'\n'"expected"$'\n'"$expected"
    note "ok: the guide's effect builds against the installed header and filters as stated"

    # A marker effect that ends the process with status 42 on its first sample.
    local marker=$scratch/marker rc
    mkdir -p "$marker"
    printf '%s\n' '#include <dsphost/dsp_library.h>' '#include <unistd.h>' \
        'void adp_emp(float in_value, float *out_value) { (void)in_value; *out_value = 0.0f; _exit(42); }' \
        >"$marker/marker.c"
    # shellcheck disable=SC2086
    run "$cc" -std=c11 -Wall -Wextra -Werror -fPIC -shared $cflags -o "$marker/libmix_c.so" \
        "$marker/marker.c" || fail "marker effect does not build"

    # The host and its library do not depend on where they were installed: move the tree.
    local moved=$scratch/elsewhere/tree
    mkdir -p "$(dirname "$moved")"
    mv "$prefix" "$moved"
    prefix=$moved
    check_finds_library "$prefix/bin/dsphost" "$prefix/$libdir/libmix_c.so"

    # LD_LIBRARY_PATH puts the user's effect in front of the installed library ...
    check_finds_library "$prefix/bin/dsphost" "$effect/libmix_c.so" "$effect"
    # ... and the host really calls it (the null device opens, so samples flow at once).
    LD_LIBRARY_PATH=$marker ALSA_CONFIG_PATH=$null_conf JACK_NO_START_SERVER=1 \
        timeout -s KILL 30 "$prefix/bin/dsphost" </dev/null >/dev/null 2>"$scratch/marker.err"
    rc=$?
    [ "$rc" -eq 42 ] ||
        fail "the host did not call the effect on LD_LIBRARY_PATH (status $rc, expected 42)"
    note "ok: the host calls adp_emp of the library on LD_LIBRARY_PATH"

    smoke "$prefix/bin/dsphost" installed
}

check_deb() {
    local out=$scratch/cpack deb info arch files expected
    run cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$out" >"$scratch/cpack.log" 2>&1 ||
        fail "cpack:"$'\n'"$(cat "$scratch/cpack.log")"
    arch=$(dpkg --print-architecture)
    deb=$out/dsphost_${version}_${arch}.deb
    [ -f "$deb" ] || fail "no $deb:"$'\n'"$(ls "$out")"$'\n'"$(cat "$scratch/cpack.log")"
    note "ok: built $(basename "$deb") ($(stat -c %s "$deb") bytes)"

    info=$(run dpkg-deb -I "$deb") || fail "dpkg-deb -I"
    # One-line control fields as dpkg-deb -I shows them (the description's first line).
    field() { sed -n "s/^ $1: //p" <<<"$info"; }
    [ "$(field Package)" = dsphost ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
    [ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
    [ "$(field Section)" = sound ] || fail "Section: $(field Section)"
    [[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
    [[ "$(field Description)" == "real-time audio effect host for the terminal"* ]] ||
        fail "Description: $(field Description)"
    local depends dep
    depends=$(field Depends)
    for dep in libportaudio2 libasound2 libc6; do
        grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
    done
    # Our own library is in the package; nothing may depend on it from outside.
    grep -q mix_c <<<"$depends" && fail "Depends names our own library: $depends"
    note "ok: control fields; Depends: $depends"

    # The files, exactly: nothing missing, nothing from the tests or the build.
    files=$(run dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort)
    expected=$(sort <<EOF
-rw-r--r-- root/root ./usr/$libdir/libmix_c.so
-rw-r--r-- root/root ./usr/include/dsphost/dsp_library.h
-rw-r--r-- root/root ./usr/share/doc/dsphost/README.md
-rw-r--r-- root/root ./usr/share/doc/dsphost/effects.md
-rw-r--r-- root/root ./usr/share/man/man1/dsphost.1.gz
-rw-r--r-- root/root ./usr/share/pkgconfig/dsphost-effect.pc
-rwxr-xr-x root/root ./usr/bin/dsphost
EOF
    )
    [ "$files" = "$expected" ] || fail "package contents differ:"$'\n'"$(diff <(echo "$expected") <(echo "$files"))"
    note "ok: package holds the $(wc -l <<<"$files") expected files"

    local root=$scratch/root
    run dpkg -x "$deb" "$root" || fail "dpkg -x"
    check_runpath "$root/usr/bin/dsphost" "\$ORIGIN/../$libdir"
    check_finds_library "$root/usr/bin/dsphost" "$root/usr/$libdir/libmix_c.so"
    grep -qx 'prefix=/usr' "$root/usr/share/pkgconfig/dsphost-effect.pc" ||
        fail "pkg-config file: $(grep prefix= "$root/usr/share/pkgconfig/dsphost-effect.pc")"
    gzip -t "$root/usr/share/man/man1/dsphost.1.gz" || fail "man page archive is damaged"
    cmp -s "$root/usr/include/dsphost/dsp_library.h" "$source_dir/audio/dsp_library.h" ||
        fail "installed header differs from audio/dsp_library.h"

    smoke "$root/usr/bin/dsphost" deb
}

case $mode in
install) check_install_tree ;;
deb) check_deb ;;
smoke) smoke "$2" smoke ;; # any binary, by hand: package_test.sh smoke build/dsphost
*) fail "unknown mode $mode" ;;
esac
note "PASS"
