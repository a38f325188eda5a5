#!/usr/bin/env bash
# The Debian package of scripts/package-deb, made from this build tree: lintian finds no error in
# it, it installs on this machine with its unit and programs in place, and it removes cleanly.
#   package-deb.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/tests/support/script-support.sh"
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
require_root "installing a package needs root"
command -v dpkg >/dev/null || skip "no dpkg here"
dpkg-query -W -f='${Status}' rdp-ostrel 2>/dev/null | grep -q "install ok installed" &&
    skip "rdp-ostrel is installed on this machine already; it is left alone"

work="$(mktemp -d)"
installed=0
cleanup() {
    [ "$installed" = 1 ] && dpkg --purge rdp-ostrel >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

"$root/scripts/package-deb" --build-dir "$build" --output "$work" || fail "the package was not built or lintian found errors"
deb="$(ls "$work"/rdp-ostrel_*.deb)"
dpkg-deb --field "$deb" Depends | grep -q "libmariadb3" || fail "the database client library is not declared"
dpkg-deb --field "$deb" Depends | grep -q "nftables" || fail "nftables is not declared"

dpkg -i "$deb" >/dev/null || fail "dpkg could not install it"
installed=1
[ -f /lib/systemd/system/rdp-ostrel.service ] || fail "no unit after install"
grep -qx "ExecStart=/usr/sbin/rdp-ostrel-service --config %E/rdp-ostrel/Config.ini --eventlog %S/rdp-ostrel/Eventlog" \
    /lib/systemd/system/rdp-ostrel.service || fail "the unit does not start the installed service"
for program in /usr/sbin/rdp-ostrel-service /usr/sbin/rdp-ostrel-ctl /usr/bin/rdp-ostrel /usr/bin/ostrel-eventlog-append; do
    [ -x "$program" ] || fail "$program missing"
done
/usr/sbin/rdp-ostrel-ctl --version | grep -qx "rdp-ostrel-ctl [0-9.]*" || fail "the installed tool does not run"
[ -f /usr/share/rdp-ostrel/schema.sql ] || fail "no schema"

dpkg -r rdp-ostrel >/dev/null || fail "dpkg could not remove it"
installed=0
dpkg --purge rdp-ostrel >/dev/null
[ ! -e /lib/systemd/system/rdp-ostrel.service ] || fail "the unit stayed after removal"
[ ! -e /usr/sbin/rdp-ostrel-ctl ] || fail "the tool stayed after removal"
echo "package-deb: lintian clean, installed with its unit, removed"
