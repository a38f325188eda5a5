# A MariaDB server of our own: started from a data folder we name, on loopback and a
# unix socket inside that folder, never as a system service.
#
#   ostrel_db_start DIR   initialises DIR when empty, starts the server, creates the user
#                         "ostrel" and the database "ostrel", loads sql/schema.sql into it,
#                         and exports OSTREL_TEST_DB_{HOST,PORT,USER,PASSWORD,SOCKET,NAME}.
#   ostrel_db_stop DIR    stops the server started from DIR and waits for it to end.

ostrel_repo_root() { cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd; }

ostrel_free_port() {
    local port
    for _ in $(seq 1 200); do
        port=$((20000 + RANDOM % 20000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return 0
        fi
    done
    return 1
}

ostrel_db_start() {
    local dir="$1"
    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd)"
    local user
    user="$(id -un)"
    if [ ! -d "$dir/data/mysql" ]; then
        mariadb-install-db --no-defaults --datadir="$dir/data" --user="$user" \
            --auth-root-authentication-method=normal --skip-test-db >"$dir/install.log" 2>&1 ||
            { cat "$dir/install.log"; return 1; }
    fi
    local port
    port="$(ostrel_free_port)" || { echo "no free port" >&2; return 1; }
    mariadbd --no-defaults --datadir="$dir/data" --socket="$dir/mysqld.sock" --port="$port" \
        --bind-address=127.0.0.1 --pid-file="$dir/mysqld.pid" --log-error="$dir/mysqld.err" \
        --user="$user" --skip-log-bin --innodb-buffer-pool-size=128M --innodb-flush-log-at-trx-commit=2 \
        --max-connections=500 --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
        >/dev/null 2>&1 &
    local i
    for i in $(seq 1 120); do
        mariadb --no-defaults --socket="$dir/mysqld.sock" -uroot -e "SELECT 1" >/dev/null 2>&1 && break
        if [ "$i" -eq 120 ]; then
            echo "MariaDB did not start:" >&2
            tail -20 "$dir/mysqld.err" >&2
            return 1
        fi
        sleep 0.5
    done
    mariadb --no-defaults --socket="$dir/mysqld.sock" -uroot <<SQL || return 1
CREATE DATABASE IF NOT EXISTS ostrel;
CREATE USER IF NOT EXISTS 'ostrel'@'localhost' IDENTIFIED BY 'ostrel';
CREATE USER IF NOT EXISTS 'ostrel'@'127.0.0.1' IDENTIFIED BY 'ostrel';
GRANT ALL ON *.* TO 'ostrel'@'localhost' WITH GRANT OPTION;
GRANT ALL ON *.* TO 'ostrel'@'127.0.0.1' WITH GRANT OPTION;
SQL
    mariadb --no-defaults --socket="$dir/mysqld.sock" -uroot ostrel <"$(ostrel_repo_root)/sql/schema.sql" || return 1
    export OSTREL_TEST_DB_HOST=127.0.0.1
    export OSTREL_TEST_DB_PORT="$port"
    export OSTREL_TEST_DB_USER=ostrel
    export OSTREL_TEST_DB_PASSWORD=ostrel
    export OSTREL_TEST_DB_SOCKET="$dir/mysqld.sock"
    export OSTREL_TEST_DB_NAME=ostrel
}

ostrel_db_stop() {
    local dir="$1"
    [ -f "$dir/mysqld.pid" ] || return 0
    local pid
    pid="$(cat "$dir/mysqld.pid" 2>/dev/null)" || return 0
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    local i
    for i in $(seq 1 120); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.25
    done
    kill -9 "$pid" 2>/dev/null
    return 0
}
