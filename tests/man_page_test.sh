#!/usr/bin/env bash
# The manual page renders without a single warning, through groff and through man, and
# says what the program prints.
#   man_page_test.sh <page.1> [<page.1.gz>]
set -euo pipefail

page=$1
page_gz=${2:-}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

export LC_ALL=C.UTF-8 MANWIDTH=80

warnings=$(timeout -s KILL 30 groff -man -ww -z "$page" 2>&1) || fail "groff failed: $warnings"
[ -z "$warnings" ] || fail "groff warnings:"$'\n'"$warnings"

for p in "$page" $page_gz; do
    warnings=$(timeout -s KILL 30 man --warnings -l "$p" 2>&1 >/dev/null) ||
        fail "man failed on $p: $warnings"
    [ -z "$warnings" ] || fail "man warnings for $p:"$'\n'"$warnings"
done

text=$(timeout -s KILL 30 man -l "$page" 2>/dev/null | col -b)

for section in NAME SYNOPSIS DESCRIPTION "STATUS LINE" KEYS "EXIT STATUS" SIGNALS ENVIRONMENT \
    FILES "EFFECT LIBRARY" "WITHOUT A SOUND CARD" EXAMPLES; do
    grep -qx "$section" <<<"$text" || fail "section $section missing"
done

# What a user types or sees must come out exactly as the program and the shell know it.
for phrase in "hit ctrl-C or ESC key to exit 12:34:56 123456 8000 3.12%" \
    "void adp_emp(float in_value, float *out_value);" \
    "LD_LIBRARY_PATH=\$HOME/my-effect dsphost" \
    "pkg-config --cflags dsphost-effect"; do
    grep -qF -- "$phrase" <<<"$text" || fail "rendered page lacks: $phrase"
done

echo "manual page: no warnings, ${#text} characters rendered"
