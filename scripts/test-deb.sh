#!/usr/bin/env bash
# The Debian package as a machine gets it: autopkgtest installs the packages that the package
# test (ctest --preset default, package.deb) left in build/deb/ and runs the package's own test
# (debian/tests) on the installed program; then the package is removed again. It installs
# system-wide (as root, or through sudo), so it refuses to run where dsphost is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
changes=(build/deb/dsphost_*.changes)
if [ ! -f "${changes[0]}" ]; then
    echo "no package in build/deb/: run scripts/test.sh default first" >&2
    exit 1
fi
if dpkg-query -W -f='${Status}' dsphost 2>/dev/null | grep -q 'install ok installed'; then
    echo "dsphost is installed on this machine; remove it first (dpkg -r dsphost)" >&2
    exit 1
fi
trap '$sudo dpkg -r dsphost >/dev/null' EXIT
timeout -s KILL 600 $sudo autopkgtest --timeout-test=60 "${changes[0]}" -- null
