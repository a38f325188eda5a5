#!/usr/bin/env bash
# A real xrdp server guarded by the service, attacked by FreeRDP's real client.
#
# Server namespace: xrdp and xrdp-sesman (--nodaemon, configuration and log in this test's folder)
# and rdp-ostrel-service following the session manager's log, its firewall the namespace's own.
# Attacker namespace on the other end of a veth pair, with three addresses; the route's source
# address says which of them a client uses. The second failed logon of the first attacker blocks
# it: its next connection gets no answer while the second attacker still connects; one
# connection of the third to the honeypot blocks that one; after the one-minute block the first
# attacker connects again. The database is the test server, reached through its socket.
#
#   xrdp-end-to-end.sh SERVICE_PROGRAM SCHEMA
# Exits 77 (skipped) where root, network namespaces, xrdp, FreeRDP, Xvfb or the test server are missing.
set -euo pipefail

service_program="$1"
schema="$2"

source "$(dirname "$0")/../support/script-support.sh"
require_root "needs root for namespaces and nftables"
require_tools ip nft unshare mariadb xrdp xrdp-sesman xfreerdp Xvfb timeout
require_test_socket

work="$(mktemp -d /tmp/ostrel-xrdp.XXXXXX)"
server="ostrel-xrdp-s$$"
attacker="ostrel-xrdp-a$$"
prefix="xrdp$$_"
server_ip=203.0.113.1
first=203.0.113.10
second=203.0.113.11
third=203.0.113.12
honeypot_port=3390
pids=()

cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    ip netns delete "$server" 2>/dev/null || true
    ip netns delete "$attacker" 2>/dev/null || true
    drop_test_tables "$prefix"
    # The guard's lock on the log it followed, and its shared numbering, lie in the machine's lock folder.
    rm -f "/run/lock/rdp-ostrel-xrdp${work//\//%4}%4xrdp-sesman.log."*
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    echo "--- the guard's output"
    cat "$work/guard.out" 2>/dev/null || true
    echo "--- xrdp-sesman.log"
    cat "$work/xrdp-sesman.log" 2>/dev/null || true
    echo "--- xrdp.log (end)"
    tail -n 30 "$work/xrdp.log" 2>/dev/null || true
    echo "--- the client's output (end)"
    tail -n 30 "$work/client.out" 2>/dev/null || true
    echo "--- firewall"
    ip netns exec "$server" nft list ruleset 2>&1 || true
    exit 1
}

ip netns add "$server" 2>/dev/null || skip "network namespaces cannot be made here"
ip netns add "$attacker"
ip link add "s$$" type veth peer name "a$$"
ip link set "s$$" netns "$server"
ip link set "a$$" netns "$attacker"
ip -n "$server" addr add "$server_ip/24" dev "s$$"
ip -n "$attacker" addr add "$first/24" dev "a$$"
ip -n "$attacker" addr add "$second/24" dev "a$$"
ip -n "$attacker" addr add "$third/24" dev "a$$"
for ns in "$server" "$attacker"; do
    ip -n "$ns" link set lo up
done
ip -n "$server" link set "s$$" up
ip -n "$attacker" link set "a$$" up

# The attacker's connections leave from the address given.
from() { ip -n "$attacker" route replace "$server_ip/32" dev "a$$" src "$1"; }
# True when a TCP connection to the port is answered (within 3 seconds).
connects() { ip netns exec "$attacker" timeout 3 bash -c "exec 3<>/dev/tcp/$server_ip/$1" 2>/dev/null; }

# xrdp with this test's configuration, log and pid files.
mkdir -p "$work/run" "$work/home" "$work/Eventlog" /run/xrdp /run/mysqld
cp /etc/xrdp/xrdp.ini /etc/xrdp/sesman.ini "$work/"
sed -i "s#^LogFile=.*#LogFile=$work/xrdp.log#; s#^EnableSyslog=.*#EnableSyslog=false#" "$work/xrdp.ini"
sed -i "s#^LogFile=.*#LogFile=$work/xrdp-sesman.log#; s#^EnableSyslog=.*#EnableSyslog=false#" "$work/sesman.ini"
cat >"$work/server.sh" <<EOF
#!/bin/sh
mount --bind "$work/run" /run/xrdp
xrdp-sesman --nodaemon --config "$work/sesman.ini" >"$work/sesman.out" 2>&1 &
exec xrdp --nodaemon --config "$work/xrdp.ini" >"$work/xrdp.out" 2>&1
EOF
chmod +x "$work/server.sh"
setsid ip netns exec "$server" unshare --mount --propagation private "$work/server.sh" &
pids+=($!)
within 20 ip netns exec "$server" bash -c "exec 3<>/dev/tcp/127.0.0.1/3389" 2>/dev/null || fail "xrdp does not listen"
within 20 test -s "$work/xrdp-sesman.log" || fail "xrdp-sesman wrote no log"

# The guard's tables under a prefix of this test's own; one-minute blocks.
create_test_tables "$prefix" "$schema" "$work"
printf '[RDPOstrel]\r\nSQLServer=localhost\r\nSQLPort=3306\r\nSQLDatabase=%s\r\nSQLUsername=%s\r\nSQLPasswort=%s\r\nSQLTBLPrefix=%s\r\nSQLTBLPrefixHistory=%s\r\nReport=FALSE\r\nBlockInvalidUserCount=1\r\nBlockInvalidUserInterval=1\r\nBlockHoneypotInterval=1\r\n' \
    "$OSTREL_TEST_DB_NAME" "$OSTREL_TEST_DB_USER" "$OSTREL_TEST_DB_PASSWORD" "$prefix" "$prefix" >"$work/Config.ini"
cat >"$work/guard.sh" <<EOF
#!/bin/sh
mount -t tmpfs tmpfs /run/mysqld
touch /run/mysqld/mysqld.sock
mount --bind "$OSTREL_TEST_DB_SOCKET" /run/mysqld/mysqld.sock
exec "$service_program" --config "$work/Config.ini" --eventlog "$work/Eventlog" \
    --source "xrdp:$work/xrdp-sesman.log" --honeypot $honeypot_port
EOF
chmod +x "$work/guard.sh"
setsid ip netns exec "$server" unshare --mount --propagation private "$work/guard.sh" >"$work/guard.out" 2>&1 &
pids+=($!)
within 20 grep -q "Failed logons are read from the xrdp log $work/xrdp-sesman.log" "$work/guard.out" ||
    fail "the start-up lines do not name the xrdp log"
# The first pass learns where the log stands; the attack comes after it.
within 30 grep -q "First run" "$work/guard.out" || fail "no first pass"

# The client under a display of its own in the attacker's namespace.
ip netns exec "$attacker" setsid Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
within 20 test -s "$work/display" || fail "Xvfb did not start"
display=":$(head -n1 "$work/display")"

authfails() { grep -c "AUTHFAIL: user=bob ip=::ffff:$1 " "$work/xrdp-sesman.log" || true; }
more_authfails() { [ "$(authfails "$1")" -gt "$2" ]; }
# One failed logon with a wrong password; the client does not end by itself after it.
failed_logon() {
    local before
    before="$(authfails "$1")"
    from "$1"
    DISPLAY="$display" HOME="$work/home" setsid ip netns exec "$attacker" timeout 30 \
        xfreerdp "/v:$server_ip" /u:bob /p:wrong /cert:ignore >>"$work/client.out" 2>&1 &
    local client=$!
    within 30 more_authfails "$1" "$before" || fail "no AUTHFAIL for $1"
    kill -- "-$client" 2>/dev/null || true
    wait "$client" 2>/dev/null || true
}
in_set() { ip netns exec "$server" nft list set inet rdp_ostrel blocked_v4 2>/dev/null | grep -qw "$1"; }

failed_logon "$first"
failed_logon "$first"
within 10 in_set "$first" || fail "the attacker was not blocked after threshold + 1 failed logons"
from "$first"
connects 3389 && fail "the blocked attacker still gets an answer"
from "$second"
connects 3389 || fail "the second attacker no longer connects"

# The honeypot: one RDP connection to it blocks the third address.
from "$third"
DISPLAY="$display" HOME="$work/home" setsid ip netns exec "$attacker" timeout 10 \
    xfreerdp "/v:$server_ip:$honeypot_port" /u:bob /p:wrong /cert:ignore >>"$work/client.out" 2>&1 || true
within 10 in_set "$third" || fail "the honeypot's visitor was not blocked"
connects 3389 && fail "the honeypot's visitor still gets an answer"
from "$second"
connects 3389 || fail "the second attacker no longer connects after the honeypot block"

# The one-minute block ends and the first attacker connects again.
from "$first"
within 120 connects 3389 || fail "the first attacker is still blocked after its block ended"
grep -q " - Firewallentry $first deleted." "$work/guard.out" || fail "no release line"
echo "PASSED"
