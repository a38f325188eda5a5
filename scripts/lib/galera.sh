# A three-node MariaDB Galera cluster of our own, on loopback ports and unix sockets inside a
# folder we name, started and stopped here, never as system services. Source mariadb.sh first.
#
#   ostrel_cluster_start DIR     makes DIR/node1..3 (one data folder each), starts node 1 as a new
#                                cluster, loads the users and sql/schema.sql once, then starts the
#                                other two from a copy of its data (they join without a state
#                                transfer); exports OSTREL_CLUSTER_SOCKET_{1,2,3} and
#                                OSTREL_CLUSTER_PORT_{1,2,3}.
#   ostrel_cluster_stop DIR      stops every node started from DIR (and waits for each to end).
#   ostrel_node_kill DIR N       kills node N outright (SIGKILL), as a crash would.
#   ostrel_node_restart DIR N    starts node N again after a kill: recovers its position from its
#                                own data, then rejoins (by incremental state transfer when the
#                                others still hold the writes it missed, else by rsync).
#   ostrel_node_isolate DIR N 1|0  cuts node N off from the others (it becomes non-primary) or
#                                lets it back.
#   ostrel_node_sql DIR N SQL    runs SQL as root on node N; prints tab-separated rows.
#   ostrel_node_wait_synced DIR N SECONDS   waits until node N is primary and synced.

OSTREL_GALERA_PROVIDER="${OSTREL_GALERA_PROVIDER:-/usr/lib/galera/libgalera_smm.so}"

ostrel_node_sql() {
    local dir="$1" n="$2"
    shift 2
    timeout 30 mariadb --no-defaults --socket="$dir/node$n/mysqld.sock" -uroot -N -B -e "$*"
}

# The node's server options, from the ports that ostrel_cluster_start chose and stored.
ostrel_node_options() {
    local dir="$1" n="$2"
    # shellcheck disable=SC1091
    source "$dir/ports"
    local node="$dir/node$n" members=() i
    for i in 1 2 3; do
        local gport="GCOMM_$i"
        members+=("127.0.0.1:${!gport}")
    done
    local port="SQL_$n" gcomm="GCOMM_$n" ist="IST_$n" sst="SST_$n"
    local joined
    joined="$(IFS=,; echo "${members[*]}")"
    printf '%s\n' --no-defaults --datadir="$node/data" --socket="$node/mysqld.sock" --port="${!port}" \
        --bind-address=127.0.0.1 --pid-file="$node/mysqld.pid" --log-error="$node/mysqld.err" \
        --user="$(id -un)" --innodb-buffer-pool-size=128M --innodb-flush-log-at-trx-commit=2 \
        --max-connections=500 --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
        --binlog-format=ROW --default-storage-engine=InnoDB --innodb-autoinc-lock-mode=2 \
        --wsrep-on=ON --wsrep-provider="$OSTREL_GALERA_PROVIDER" --wsrep-cluster-name=ostrel_test \
        --wsrep-cluster-address="gcomm://$joined" --wsrep-node-name="node$n" \
        --wsrep-node-address="127.0.0.1:${!gcomm}" --wsrep-sst-method=rsync \
        --wsrep-sst-receive-address="127.0.0.1:${!sst}" \
        --wsrep-provider-options="gmcast.listen_addr=tcp://127.0.0.1:${!gcomm};ist.recv_addr=127.0.0.1:${!ist};gcache.size=256M;evs.suspect_timeout=PT5S;evs.inactive_timeout=PT10S;pc.wait_prim_timeout=PT30S"
}

ostrel_node_launch() { # dir n extra-options...
    local dir="$1" n="$2"
    shift 2
    local options=()
    mapfile -t options < <(ostrel_node_options "$dir" "$n")
    # The rsync state transfer's receiving daemon runs as nobody: it must reach and write the
    # joining node's data folder.
    chmod a+rx "$dir"
    mkdir -p "$dir/node$n/data"
    chmod -R a+rwX "$dir/node$n"
    mariadbd "${options[@]}" "$@" >>"$dir/node$n/stdout.log" 2>&1 &
    # the server writes its pid file only once it runs; a stop during the start needs it sooner
    echo $! >"$dir/node$n/launched.pid"
    disown # its end (a kill, too) is the script's business, not a job for the shell to announce
}

ostrel_node_wait_synced() {
    local dir="$1" n="$2" seconds="${3:-120}" deadline state
    deadline=$((SECONDS + seconds))
    while [ "$SECONDS" -lt "$deadline" ]; do
        state="$(ostrel_node_sql "$dir" "$n" "SELECT VARIABLE_VALUE FROM information_schema.GLOBAL_STATUS
            WHERE VARIABLE_NAME IN ('wsrep_cluster_status','wsrep_local_state_comment') ORDER BY VARIABLE_NAME" \
            2>/dev/null | tr '\n' ' ')" || state=""
        [ "$state" = "Primary Synced " ] && return 0
        sleep 0.5
    done
    echo "Galera node $n is not primary and synced after ${seconds}s (state: ${state:-no answer}):" >&2
    tail -20 "$dir/node$n/mysqld.err" >&2
    return 1
}

ostrel_cluster_start() {
    local dir="$1"
    mkdir -p "$dir"
    dir="$(cd "$dir" && pwd)"
    [ -r "$OSTREL_GALERA_PROVIDER" ] || { echo "Galera provider $OSTREL_GALERA_PROVIDER missing (package galera-4)" >&2; return 1; }
    : >"$dir/ports"
    local n kind port used=" "
    for n in 1 2 3; do
        for kind in SQL GCOMM IST SST; do
            # distinct from each other as well as free
            while port="$(ostrel_free_port)" && [[ "$used" == *" $port "* ]]; do :; done
            [ -n "$port" ] || { echo "no free port" >&2; return 1; }
            used+="$port "
            echo "${kind}_$n=$port" >>"$dir/ports"
        done
        mkdir -p "$dir/node$n"
    done
    mariadb-install-db --no-defaults --datadir="$dir/node1/data" --user="$(id -un)" \
        --auth-root-authentication-method=normal --skip-test-db >"$dir/node1/install.log" 2>&1 ||
        { cat "$dir/node1/install.log" >&2; return 1; }
    ostrel_node_launch "$dir" 1 --wsrep-new-cluster
    ostrel_node_wait_synced "$dir" 1 120 || return 1
    ostrel_node_sql "$dir" 1 "
        CREATE DATABASE IF NOT EXISTS ostrel;
        CREATE USER IF NOT EXISTS 'ostrel'@'localhost' IDENTIFIED BY 'ostrel';
        CREATE USER IF NOT EXISTS 'ostrel'@'127.0.0.1' IDENTIFIED BY 'ostrel';
        GRANT ALL ON *.* TO 'ostrel'@'localhost' WITH GRANT OPTION;
        GRANT ALL ON *.* TO 'ostrel'@'127.0.0.1' WITH GRANT OPTION;" || return 1
    timeout 60 mariadb --no-defaults --socket="$dir/node1/mysqld.sock" -uroot ostrel \
        <"$(ostrel_repo_root)/sql/schema.sql" || return 1
    # Node 1 stopped cleanly records its position; copies of its data then join at that
    # position, so no node needs a full state transfer to start.
    ostrel_node_stop "$dir" 1 || return 1
    for n in 2 3; do
        cp -a "$dir/node1/data" "$dir/node$n/data"
        rm -f "$dir/node$n/data/gvwstate.dat"
    done
    ostrel_node_launch "$dir" 1 --wsrep-new-cluster
    ostrel_node_wait_synced "$dir" 1 120 || return 1
    for n in 2 3; do
        ostrel_node_launch "$dir" "$n"
        ostrel_node_wait_synced "$dir" "$n" 120 || return 1
    done
    # shellcheck disable=SC1091
    source "$dir/ports"
    for n in 1 2 3; do
        local sql="SQL_$n"
        export "OSTREL_CLUSTER_SOCKET_$n=$dir/node$n/mysqld.sock"
        export "OSTREL_CLUSTER_PORT_$n=${!sql}"
    done
}

ostrel_node_pid() {
    local pid
    pid="$(cat "$1/node$2/launched.pid" 2>/dev/null)" || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

ostrel_node_stop() {
    local dir="$1" n="$2" pid i
    pid="$(ostrel_node_pid "$dir" "$n")" || return 0
    kill "$pid" 2>/dev/null || return 0
    for i in $(seq 1 240); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.25
    done
    kill -9 "$pid" 2>/dev/null
    return 0
}

ostrel_cluster_stop() {
    local dir="$1" n
    [ -d "$dir" ] || return 0
    # the last to stop keeps the cluster's newest state; order does not matter for a test run
    for n in 3 2 1; do
        ostrel_node_stop "$dir" "$n" || true
    done
}

ostrel_node_kill() {
    local dir="$1" n="$2" pid
    pid="$(ostrel_node_pid "$dir" "$n")" || return 0
    kill -9 "$pid"
    while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    rm -f "$dir/node$n/mysqld.pid" "$dir/node$n/mysqld.sock" "$dir/node$n/launched.pid"
}

ostrel_node_restart() {
    local dir="$1" n="$2" options=() position
    mapfile -t options < <(ostrel_node_options "$dir" "$n")
    # What the crashed node has committed, read from its own data (what galera_recovery does
    # for the system service).
    timeout 120 mariadbd "${options[@]}" --wsrep-recover --log-error="$dir/node$n/recover.err" >/dev/null 2>&1 || true
    position="$(sed -n 's/.*WSREP: Recovered position: *//p' "$dir/node$n/recover.err" | tail -1)"
    if [ -n "$position" ]; then
        ostrel_node_launch "$dir" "$n" --wsrep-start-position="$position"
    else
        ostrel_node_launch "$dir" "$n"
    fi
}

ostrel_node_isolate() {
    local dir="$1" n="$2" on="$3"
    ostrel_node_sql "$dir" "$n" "SET GLOBAL wsrep_provider_options='gmcast.isolate=$on'"
}
