# The local set-up that scripts/run and scripts/screenshot share: the release build and a
# MariaDB server of the project's own in data/mariadb, reused while it runs.
#
#   ostrel_build_release          builds the operator window, rdp-ostrel-ctl and the appender into build/release
#   ostrel_local_db               starts the server in data/mariadb, or reuses the running one,
#                                 and exports OSTREL_LOCAL_DB_PORT and OSTREL_LOCAL_DB_SOCKET;
#                                 OSTREL_LOCAL_DB_STARTED is 1 when it had to start it
#   ostrel_local_db_stop          stops that server
#   ostrel_write_run_config       writes the Config.ini that scripts/run creates

# OSTREL_LOCAL_DB_DIR puts the server elsewhere (a test's own folder).
ostrel_local_db_dir() { echo "${OSTREL_LOCAL_DB_DIR:-$(ostrel_repo_root)/data/mariadb}"; }

ostrel_build_release() {
    local root
    root="$(ostrel_repo_root)"
    cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DOSTREL_BUILD_TESTS=OFF -DOSTREL_BUILD_BENCH=OFF >/dev/null
    ninja -C "$root/build/release" -j "$(nproc)" rdp-ostrel rdp-ostrel-ctl ostrel-eventlog-append
}

ostrel_local_db() {
    local dir
    dir="$(ostrel_local_db_dir)"
    local socket="$dir/mysqld.sock"
    if [ -S "$socket" ] && mariadb --no-defaults --socket="$socket" -uroot -e "SELECT 1" >/dev/null 2>&1; then
        OSTREL_LOCAL_DB_PORT="$(mariadb --no-defaults --socket="$socket" -uroot -N -B -e "SELECT @@port")"
        echo "Reusing the local database server (port $OSTREL_LOCAL_DB_PORT)."
        # Tables the schema gained since the server was set up (it creates only what is missing).
        mariadb --no-defaults --socket="$socket" -uroot ostrel <"$(ostrel_repo_root)/sql/schema.sql"
        OSTREL_LOCAL_DB_STARTED=0
    else
        echo "Starting the local database server in $dir ..."
        ostrel_db_start "$dir"
        OSTREL_LOCAL_DB_PORT="$OSTREL_TEST_DB_PORT"
        OSTREL_LOCAL_DB_STARTED=1
    fi
    OSTREL_LOCAL_DB_SOCKET="$socket"
    export OSTREL_LOCAL_DB_PORT OSTREL_LOCAL_DB_SOCKET OSTREL_LOCAL_DB_STARTED
}

ostrel_local_db_stop() { ostrel_db_stop "$(ostrel_local_db_dir)"; }

# Writes a Config.ini (CR LF lines, readable by its owner only) for the local database.
#   ostrel_write_local_config FILE HOST PORT [EXTRA KEY=VALUE LINES...]
ostrel_write_local_config() {
    local file="$1" host="$2" port="$3"
    shift 3
    (
        umask 077
        {
            printf '[RDPOstrel]\r\n'
            printf 'SQLServer=%s\r\nSQLPort=%s\r\nSQLDatabase=ostrel\r\n' "$host" "$port"
            printf 'SQLUsername=ostrel\r\nSQLPasswort=ostrel\r\n'
            local line
            for line in "$@"; do
                printf '%s\r\n' "$line"
            done
        } >"$file"
    )
}

# Writes the Config.ini that scripts/run creates when there is none: the local database through
# its socket (host "localhost" with MYSQL_UNIX_PORT, which reaches it from a network namespace of
# its own too), and the abuse report off, as its address stays empty until the operator sets one
# (a report to an empty address fails, and every block of a first trial would add two error lines).
#   ostrel_write_run_config FILE PORT
ostrel_write_run_config() {
    ostrel_write_local_config "$1" localhost "$2" "Report=0"
}
