# What the shell tests share, sourced by each: a skip (exit 77, which ctest counts as skipped,
# not failed), the rights and tools a test needs, the test database server reached through its
# socket under a table prefix of the test's own, and a bounded wait.

skip() {
    echo "SKIPPED: $*"
    exit 77
}

require_root() {
    [ "$(id -u)" -eq 0 ] || skip "$1"
}

require_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed"
    done
}

# The throwaway server of scripts/test or scripts/testdb, through its socket: a network namespace
# of the test's own cannot reach its loopback port.
require_test_socket() {
    [ -n "${OSTREL_TEST_DB_SOCKET:-}" ] && [ -S "$OSTREL_TEST_DB_SOCKET" ] || skip "no test server socket"
}

# One statement on the test server; rows come tab-separated without a heading.
sql() {
    mariadb --no-defaults --socket="$OSTREL_TEST_DB_SOCKET" -u"$OSTREL_TEST_DB_USER" \
        -p"$OSTREL_TEST_DB_PASSWORD" -N -B "$OSTREL_TEST_DB_NAME" -e "$1"
}

test_tables=(merkliste firewall firewall_history lastrecord firewallchanges)

# The schema's tables under PREFIX: create_test_tables PREFIX SCHEMA WORK_FOLDER
create_test_tables() {
    sed -E "s/CREATE TABLE IF NOT EXISTS ([a-z_]+)/CREATE TABLE IF NOT EXISTS $1\1/" "$2" >"$3/schema.sql"
    mariadb --no-defaults --socket="$OSTREL_TEST_DB_SOCKET" -u"$OSTREL_TEST_DB_USER" -p"$OSTREL_TEST_DB_PASSWORD" \
        "$OSTREL_TEST_DB_NAME" <"$3/schema.sql"
}

drop_test_tables() {
    local table
    for table in "${test_tables[@]}"; do
        sql "DROP TABLE IF EXISTS $1${table}" 2>/dev/null || true
    done
}

# Waits up to $1 seconds for the rest of the line, a command, to succeed.
within() {
    local seconds="$1"
    shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.5
    done
}
