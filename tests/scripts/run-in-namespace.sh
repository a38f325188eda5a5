#!/usr/bin/env bash
# scripts/run's default path as CI can take it, without a display: the window (offscreen) in a
# network namespace of its own against the local database reached through its socket. It puts
# back an active block at start-up in the namespace's firewall, never in the machine's, and
# `scripts/run --ctl unblock` releases it there.
#   run-in-namespace.sh BUILD_DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/tests/support/script-support.sh"
fail() {
    echo "FAIL: $*" >&2
    [ -f "${work:-/nonexistent}/window.log" ] && sed 's/^/window: /' "$work/window.log" >&2
    exit 1
}
require_root "network namespaces need root"
probe="ostrel-probe-$$"
ip netns add "$probe" 2>/dev/null || skip "the machine forbids network namespaces"
ip netns del "$probe"

work="$(mktemp -d)"
ns="ostrel-run-$$"
pid=""
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    ip netns del "$ns" 2>/dev/null || true
    (cd "$root" && source scripts/lib/mariadb.sh && source scripts/lib/local.sh && ostrel_local_db_stop) >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

export OSTREL_LOCAL_DB_DIR="$work/db"
export OSTREL_RUN_EXE="$work/bin/rdp-ostrel"
export OSTREL_RUN_CTL="$build/src/ctl/rdp-ostrel-ctl"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$work/bin"
cp "$build/src/main/rdp-ostrel" "$OSTREL_RUN_EXE"

# The server first, with an active block the window's start-up must put back.
(
    cd "$root"
    source scripts/lib/mariadb.sh
    source scripts/lib/local.sh
    ostrel_local_db >/dev/null
    mariadb --no-defaults --socket="$OSTREL_LOCAL_DB_SOCKET" -uroot ostrel -e \
        "INSERT INTO firewall (\`Timestamp\`, \`revoke\`, IP, Reason, Command, RQ)
         VALUES (NOW(), DATE_ADD(NOW(), INTERVAL 1 HOUR), '203.0.113.77', ' - Counter: 1 - RDP-Block', 'netsh', 'RDP-Block')"
) || fail "the local database did not start"

host_before="$(nft list table inet rdp_ostrel 2>&1 || true)"
"$root/scripts/run" --netns "$ns" >"$work/window.log" 2>&1 &
pid=$!

in_trial_set() { ip netns exec "$ns" nft list set inet rdp_ostrel blocked_v4 2>/dev/null | grep -q "$1"; }
for _ in $(seq 1 120); do
    in_trial_set 203.0.113.77 && break
    kill -0 "$pid" 2>/dev/null || fail "the window ended"
    sleep 0.5
done
in_trial_set 203.0.113.77 || fail "the active block never reached the namespace's firewall"

[ "$(readlink /proc/$pid/ns/net)" != "$(readlink /proc/self/ns/net)" ] || fail "the window runs in the machine's namespace"
[ "$(nft list table inet rdp_ostrel 2>&1 || true)" = "$host_before" ] || fail "the machine's firewall changed"
grep -q "Config.ini for the local database" "$work/window.log" || fail "no Config.ini written"
tr -d '\r' <"$work/bin/Config.ini" | grep -qx "SQLServer=localhost" || fail "the database is not reached through its socket"

listed="$("$root/scripts/run" --netns "$ns" --ctl list)" || fail "--ctl list failed"
echo "$listed" | grep -q "^203.0.113.77 .* yes$" || fail "list does not show the held block: $listed"
"$root/scripts/run" --netns "$ns" --ctl unblock 203.0.113.77 || fail "--ctl unblock failed"
in_trial_set 203.0.113.77 && fail "the released address is still blocked"
echo "scripts/run: window in namespace $ns, block put back there and released, machine's firewall untouched"
