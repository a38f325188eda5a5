#!/usr/bin/env bash
# The installed unit under a real systemd, as an administrator follows the README: install,
# Config.ini, `systemctl enable --now`; then the guard blocks a repeat offender with no window
# open, puts its rule back after `nft flush ruleset` and a restart, releases it when it ends, and
# stops in order.
#
# The systemd is a second one, booted as the first process of namespaces of this test's own
# (mount, pid, network, uts, ipc): its firewall is a network namespace's, /run, /usr/local and
# /var/lib are empty file systems, /etc is an overlay whose changes vanish with it, and it knows
# only the unit under test and empty stand-ins for the targets a service depends on, so nothing of
# the machine's own boot runs. The database is the test server, reached through its socket.
#
#   unit-under-systemd.sh BUILD_DIR SCHEMA
# Exits 77 (skipped) where root, systemd, overlayfs or the test server's socket are missing.
set -euo pipefail

build_dir="$1"
schema="$2"

source "$(dirname "$0")/../support/script-support.sh"
require_root "needs root for namespaces and nftables"
[ -x /lib/systemd/systemd ] || skip "systemd is not installed"
require_tools unshare nsenter ip nft mariadb
grep -qw overlay /proc/filesystems || skip "the kernel offers no overlayfs"
require_test_socket

work="$(mktemp -d /tmp/ostrel-systemd.XXXXXX)"
ns="ostrel-systemd-$$"
prefix="unit$$_"
boot_pid=""

cleanup() {
    if [ -n "$boot_pid" ]; then
        local first
        first="$(systemd_pid || true)"
        if [ -n "$first" ]; then
            # Stopped by systemd, the service leaves no private /tmp folder behind.
            timeout 60 nsenter -t "$first" -m -p -n -u -i systemctl stop rdp-ostrel 2>/dev/null || true
            # The namespace's first process gone takes every process of the namespace with it.
            kill -9 "$first" 2>/dev/null || true
        fi
        wait "$boot_pid" 2>/dev/null || true
    fi
    ip netns delete "$ns" 2>/dev/null || true
    drop_test_tables "$prefix"
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    echo "--- the guard's output"
    inside cat /run/rdp-ostrel.log 2>/dev/null || true
    echo "--- systemctl status"
    inside systemctl status rdp-ostrel --no-pager 2>&1 || true
    echo "--- Config.ini"
    inside cat /etc/rdp-ostrel/Config.ini 2>/dev/null || true
    exit 1
}

# The tables under a prefix of this test's own.
create_test_tables "$prefix" "$schema" "$work"

mkdir -p "$work/units"
for target in sysinit basic shutdown network network-online multi-user sockets timers paths local-fs ostrel-boot; do
    printf '[Unit]\nDescription=%s, empty for the test\n' "$target" >"$work/units/$target.target"
done
cat >"$work/boot" <<EOF
#!/bin/bash
set -e
mount -t tmpfs tmpfs /run
mkdir -p /run/mysqld /run/etc-upper /run/etc-work
touch /run/mysqld/mysqld.sock
mount --bind "$OSTREL_TEST_DB_SOCKET" /run/mysqld/mysqld.sock
mount -t overlay overlay -o lowerdir=/etc,upperdir=/run/etc-upper,workdir=/run/etc-work /etc
rm -rf /etc/systemd/system/*
mount -t tmpfs tmpfs /usr/local
mount -t tmpfs tmpfs /var/lib
mount --bind "$work/units" /lib/systemd/system
exec /lib/systemd/systemd --system --unit=ostrel-boot.target
EOF
chmod +x "$work/boot"

ip netns add "$ns"
ip netns exec "$ns" unshare --pid --fork --mount-proc --mount --uts --ipc "$work/boot" >"$work/boot.log" 2>&1 &
boot_pid=$!

systemd_pid() { pgrep -P "$boot_pid" -x systemd; }
inside() { nsenter -t "$(systemd_pid)" -m -p -n -u -i "$@"; }
running() { [ -n "$(systemd_pid)" ] && [ "$(inside systemctl is-system-running 2>/dev/null)" = running ]; }
# A machine that cannot boot a second systemd (no writable control groups, say) says nothing
# about the unit.
within 30 running || { cat "$work/boot.log"; skip "systemd did not come up in the namespaces"; }

inside cmake --install "$build_dir" --prefix /usr/local >/dev/null || fail "cmake --install"
inside install -d -m 700 /etc/rdp-ostrel
printf '[RDPOstrel]\r\nSQLServer=localhost\r\nSQLPort=%s\r\nSQLDatabase=%s\r\nSQLUsername=%s\r\nSQLPasswort=%s\r\nSQLTBLPrefix=%s\r\nSQLTBLPrefixHistory=%s\r\nReport=FALSE\r\n' \
    "$OSTREL_TEST_DB_PORT" "$OSTREL_TEST_DB_NAME" "$OSTREL_TEST_DB_USER" "$OSTREL_TEST_DB_PASSWORD" "$prefix" "$prefix" |
    inside sh -c 'cat > /etc/rdp-ostrel/Config.ini && chmod 600 /etc/rdp-ostrel/Config.ini'
# Only for this test: no journal runs here, so the guard's lines go to a file.
inside mkdir -p /etc/systemd/system/rdp-ostrel.service.d
printf '[Service]\nStandardOutput=file:/run/rdp-ostrel.log\nStandardError=inherit\n' |
    inside sh -c 'cat > /etc/systemd/system/rdp-ostrel.service.d/output.conf'
inside systemctl daemon-reload
inside systemctl enable --now rdp-ostrel >/dev/null 2>&1 || fail "systemctl enable --now"
inside systemctl is-active --quiet rdp-ostrel || fail "the unit is not active"

append() { inside /usr/local/bin/ostrel-eventlog-append --folder /var/lib/rdp-ostrel/Eventlog "$@" >/dev/null; }
last_record() { inside cat /etc/rdp-ostrel/Config.ini | tr -d '\r' | grep -qx "LastRecord=$1"; }
in_set() { inside nft list set inet rdp_ostrel blocked_v4 2>/dev/null | grep -q "$1"; }
not_in_set() { ! in_set "$1"; }
released() { [ "$(sql "SELECT COUNT(*) FROM ${prefix}firewall_history WHERE IP = '$1'")" = 1 ]; }

# The first record seen is the start mark; the repeat offender comes after it.
append 198.51.100.1
within 30 last_record 1 || fail "the first pass did not take its start mark"
append --count 6 203.0.113.50
within 30 in_set 203.0.113.50 || fail "the repeat offender was not blocked"
[ "$(sql "SELECT COUNT(*) FROM ${prefix}firewall WHERE IP = '203.0.113.50'")" = 1 ] || fail "no block row"
inside grep -q " - \[RDP-Block\] IP 203.0.113.50 is blocked for" /run/rdp-ostrel.log || fail "no block line"

# A flushed ruleset loses every rule; the restarted service puts the active block back.
inside nft flush ruleset
inside systemctl restart rdp-ostrel || fail "systemctl restart"
within 30 in_set 203.0.113.50 || fail "the restart did not restore the block"

# The block ends: the guard releases it and its rule goes.
sql "UPDATE ${prefix}firewall SET \`revoke\` = DATE_SUB(NOW(), INTERVAL 1 MINUTE)"
within 30 released 203.0.113.50 || fail "the ended block was not released"
within 30 not_in_set 203.0.113.50 || fail "the released block kept its rule"

inside systemctl stop rdp-ostrel || fail "systemctl stop"
result="$(inside systemctl show rdp-ostrel -p Result --value)"
[ "$result" = success ] || fail "the service ended with $result"

# The same unit following an xrdp log, as the README's xrdp set-up has it: the sandboxed service
# reads the log, and takes its lock and shares its numbering in the machine's /run/lock (a booted
# Debian has it; this namespace's empty /run gets it as systemd-tmpfiles would make it).
inside install -d -m 1777 /run/lock
inside install -d /var/lib/xrdp-test
xrdp_log=/var/lib/xrdp-test/xrdp-sesman.log
inside touch "$xrdp_log"
inside sed -i '/^EventSource=/d' /etc/rdp-ostrel/Config.ini
printf 'EventSource=xrdp:%s\r\n' "$xrdp_log" | inside sh -c 'cat >> /etc/rdp-ostrel/Config.ini'
inside systemctl start rdp-ostrel || fail "systemctl start (xrdp log)"
within 30 inside grep -q "Failed logons are read from the xrdp log $xrdp_log" /run/rdp-ostrel.log ||
    fail "the service does not say it follows the xrdp log"
inside test -e "/run/lock/rdp-ostrel-xrdp${xrdp_log//\//%4}.guard" || fail "no lock on the xrdp log in /run/lock"
authfail() { inside sh -c "echo '[20261211-10:00:00] [INFO ] AUTHFAIL: user=bob ip=::ffff:$1 time=1796983200' >> $xrdp_log"; }
for _ in 1 2 3 4 5 6; do authfail 203.0.113.60; done
within 30 in_set 203.0.113.60 || fail "the xrdp log's repeat offender was not blocked"
inside sh -c "ls /run/lock/rdp-ostrel-xrdp${xrdp_log//\//%4}.*.position" >/dev/null ||
    fail "no numbering of the xrdp log shared in /run/lock"
inside systemctl stop rdp-ostrel || fail "systemctl stop (xrdp log)"
result="$(inside systemctl show rdp-ostrel -p Result --value)"
[ "$result" = success ] || fail "the service following the xrdp log ended with $result"
echo "the unit blocked, restored, released and stopped in order, and followed an xrdp log"
