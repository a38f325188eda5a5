# The Windows cross-build's tools and libraries.
#
# mingw-w64, Wine and NSIS (for the setup program) come from apt. No Debian package carries
# Windows builds of curl, MariaDB Connector/C or GoogleTest, so they are built here with
# mingw-w64 from Debian's own sources (the same versions the Linux build uses) and kept in a
# cache outside the work tree, one folder per library and version, so only the first run on a
# machine pays for them. Qt for Windows has a script of its own (winqt.sh).
#
#   ostrel_win_tools           installs the compilers, Wine, NSIS and what `apt-get source` needs
#   ostrel_win_deps            builds or reuses the libraries; sets OSTREL_WIN_PREFIXES (a ;-list)
#   ostrel_win_toolchain       the CMake toolchain file
#
# OSTREL_WIN_CACHE names the cache (default /var/cache/rdp-ostrel-win, for root).

OSTREL_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 dpkg-dev xz-utils nsis)
if [ -z "${OSTREL_WIN_CACHE:-}" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        OSTREL_WIN_CACHE=/var/cache/rdp-ostrel-win
    else
        OSTREL_WIN_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/rdp-ostrel-win"
    fi
fi
# Raise when a library's build recipe below changes, so cached builds of the old recipe go unused.
OSTREL_WIN_RECIPE=1
OSTREL_WIN_TRIPLE=x86_64-w64-mingw32

ostrel_win_tools() { ostrel_install_package_list "${OSTREL_WINDOWS_PACKAGES[@]}"; }

ostrel_win_toolchain() { echo "$(ostrel_repo_root)/cmake/mingw-w64-x86_64.cmake"; }

ostrel_win_log() { echo "[windows deps] $*"; }

# The version of a source package as the installed Linux library has it ("curl" from
# libcurl4-openssl-dev): the Windows build then matches the Linux one.
ostrel_win_source_version() { # binary package
    dpkg-query -W -f='${source:Version}' "$1"
}

# A private apt configuration that knows the deb-src twins of the machine's Debian sources; the
# machine's own apt configuration and lists stay untouched.
ostrel_win_apt_options() {
    local dir="$OSTREL_WIN_CACHE/apt"
    echo "-o Dir::Etc::SourceList=$dir/sources.list -o Dir::Etc::SourceParts=/dev/null" \
        "-o Dir::State::Lists=$dir/lists -o Dir::Cache=$dir/cache -o APT::Sandbox::User=root"
}

ostrel_win_apt_update() {
    [ -n "${OSTREL_WIN_APT_READY:-}" ] && return 0
    local dir="$OSTREL_WIN_CACHE/apt"
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    ostrel_win_deb_src_lines >"$dir/sources.list"
    if ! [ -s "$dir/sources.list" ]; then
        echo "No Debian package source found in /etc/apt to fetch sources from." >&2
        return 1
    fi
    ostrel_win_log "reading the source lists ($(wc -l <"$dir/sources.list") entries)"
    # shellcheck disable=SC2046
    apt-get $(ostrel_win_apt_options) update -qq >/dev/null
    OSTREL_WIN_APT_READY=1
}

# deb-src lines for every Debian "deb" entry of the machine's apt sources (one-line and deb822).
ostrel_win_deb_src_lines() {
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        sed -n -E 's/^[[:space:]]*deb[[:space:]]+(.*)$/deb-src \1/p' "$file" | grep -i debian || true
    done
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && enabled != "no" && uris ~ /debian/) {
                    n = split(uris, u, " "); m = split(suites, s, " ")
                    opt = signed != "" ? "[signed-by=" signed "] " : ""
                    for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print "deb-src " opt u[i] " " s[j] " " comps
                }
                types = uris = suites = comps = signed = enabled = ""
            }
            /^[[:space:]]*#/ { next }
            /^[[:space:]]*$/ { flush(); next }
            { key = $1; sub(/:$/, "", key); $1 = ""; sub(/^ /, "") }
            key == "Types" { types = $0 } key == "URIs" { uris = $0 } key == "Suites" { suites = $0 }
            key == "Components" { comps = $0 } key == "Signed-By" { signed = $0 } key == "Enabled" { enabled = $0 }
            END { flush() }' "$file"
    done
}

# Fetches and unpacks a source package into DIR (its only subfolder is the source tree): the
# version asked for, or when the mirror no longer serves it, the newest version it does serve.
ostrel_win_fetch_source() { # package version dir
    local package="$1" version="$2" dir="$3"
    ostrel_win_apt_update || return 1
    mkdir -p "$dir"
    local candidates candidate
    # shellcheck disable=SC2046
    candidates="$(apt-cache $(ostrel_win_apt_options) showsrc "$package" 2>/dev/null |
        sed -n 's/^Version: //p' | grep -vxF "$version" | sort -rV)"
    for candidate in "$version" $candidates; do
        [ "$candidate" = "$version" ] || ostrel_win_log "$package $version is not on the mirror; trying $candidate"
        ostrel_win_log "fetching the source of $package $candidate"
        # shellcheck disable=SC2046
        if (cd "$dir" && apt-get $(ostrel_win_apt_options) source -qq "$package=$candidate" >fetch.log 2>&1); then
            echo "$package $candidate" >"$dir/../source-version"
            return 0
        fi
        find "$dir" -mindepth 1 -maxdepth 1 ! -name fetch.log -exec rm -rf {} +
    done
    tail -20 "$dir/fetch.log" >&2
    echo "Could not fetch the source of $package (is the machine's Debian mirror reachable?)" >&2
    return 1
}

# The source tree unpacked by ostrel_win_fetch_source.
ostrel_win_source_tree() { find "$1" -mindepth 1 -maxdepth 1 -type d | head -1; }

# Builds one library with a recipe function into its cache folder, unless it is there already.
# The folder appears only once the build has succeeded, so a run that was cut off leaves no
# half-built library behind.
ostrel_win_cached() { # name version recipe
    local name="$1" version="$2" recipe="$3"
    local prefix="$OSTREL_WIN_CACHE/$name-${version//[:~]/_}-r$OSTREL_WIN_RECIPE"
    if [ -f "$prefix/.complete" ]; then
        local from=""
        [ -f "$prefix/source-version" ] && from=" (built from the source of $(cat "$prefix/source-version"))"
        ostrel_win_log "$name $version: cached in $prefix$from"
    else
        local work
        work="$(mktemp -d "$OSTREL_WIN_CACHE/build-$name.XXXXXX")"
        local start=$SECONDS
        ostrel_win_log "$name $version: building (the first time on this machine)"
        rm -rf "$prefix.partial"
        if ! "$recipe" "$version" "$work" "$prefix.partial" >"$work/build.log" 2>&1; then
            tail -40 "$work/build.log" >&2
            echo "Building $name for Windows failed; the whole log: $work/build.log" >&2
            return 1
        fi
        # Which source the build came from, when the mirror had moved on from the version asked for.
        [ -f "$work/source-version" ] && cp "$work/source-version" "$prefix.partial/"
        touch "$prefix.partial/.complete"
        rm -rf "$prefix"
        mv "$prefix.partial" "$prefix"
        rm -rf "$work"
        ostrel_win_log "$name $version: built in $((SECONDS - start)) s"
    fi
    OSTREL_WIN_PREFIXES="${OSTREL_WIN_PREFIXES:+$OSTREL_WIN_PREFIXES;}$prefix"
}

# CMake for a library: the project's toolchain, static, Release, no tests.
ostrel_win_cmake() { # source build prefix args...
    local source="$1" build="$2" prefix="$3"
    shift 3
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(ostrel_win_toolchain)" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
        -DBUILD_TESTING=OFF "$@" &&
        ninja -C "$build" -j "$(nproc)" &&
        ninja -C "$build" install
}

# curl with Schannel, Windows' own TLS: no OpenSSL to build. Only what the abuse report needs.
ostrel_win_recipe_curl() { # version work prefix
    ostrel_win_fetch_source curl "$1" "$2/src" || return 1
    ostrel_win_cmake "$(ostrel_win_source_tree "$2/src")" "$2/build" "$3" \
        -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF \
        -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
        -DCURL_DISABLE_LDAP=ON -DBUILD_CURL_EXE=OFF -DENABLE_MANUAL=OFF -DCURL_CA_PATH=none \
        -DCURL_CA_BUNDLE=none
}

# MariaDB Connector/C: the libmariadb folder of the server's source package, TLS through Schannel.
ostrel_win_recipe_mariadb() { # version work prefix
    ostrel_win_fetch_source mariadb "$1" "$2/src" || return 1
    ostrel_win_cmake "$(ostrel_win_source_tree "$2/src")/libmariadb" "$2/build" "$3" \
        -DWITH_SSL=SCHANNEL -DWITH_UNIT_TESTS=OFF -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=OFF \
        -DCLIENT_PLUGIN_DIALOG=STATIC -DCLIENT_PLUGIN_CLIENT_ED25519=OFF \
        -DCLIENT_PLUGIN_CACHING_SHA2_PASSWORD=OFF -DCLIENT_PLUGIN_SHA256_PASSWORD=OFF \
        -DCLIENT_PLUGIN_AUTH_GSSAPI_CLIENT=OFF -DCLIENT_PLUGIN_REMOTE_IO=OFF -DCLIENT_PLUGIN_PVIO_NPIPE=STATIC \
        -DCLIENT_PLUGIN_PVIO_SHMEM=STATIC
}

# GoogleTest from the sources Debian ships in /usr/src/googletest.
ostrel_win_recipe_googletest() { # version work prefix
    ostrel_win_cmake /usr/src/googletest "$2/build" "$3" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

# nlohmann-json is headers only: the Linux package's headers and CMake files, in a prefix of
# their own so the Windows build never searches /usr/include.
ostrel_win_recipe_nlohmann() { # version work prefix
    mkdir -p "$3/include" "$3/share/cmake" &&
        cp -r /usr/include/nlohmann "$3/include/" &&
        cp -r /usr/share/cmake/nlohmann_json "$3/share/cmake/"
}

ostrel_win_deps() {
    mkdir -p "$OSTREL_WIN_CACHE"
    # One run at a time builds into the cache; a second waits and then finds the libraries there.
    exec {OSTREL_WIN_LOCK}>"$OSTREL_WIN_CACHE/.lock"
    flock "$OSTREL_WIN_LOCK"
    OSTREL_WIN_PREFIXES=""
    local compiler
    compiler="$("$OSTREL_WIN_TRIPLE-g++-posix" -dumpfullversion)"
    ostrel_win_cached curl "$(ostrel_win_source_version libcurl4-openssl-dev)" ostrel_win_recipe_curl &&
        ostrel_win_cached mariadb-connector-c "$(ostrel_win_source_version libmariadb-dev)" ostrel_win_recipe_mariadb &&
        # C++: its build belongs to one compiler version.
        ostrel_win_cached googletest "$(ostrel_win_source_version googletest)-gcc$compiler" \
            ostrel_win_recipe_googletest &&
        ostrel_win_cached nlohmann-json "$(ostrel_win_source_version nlohmann-json3-dev)" ostrel_win_recipe_nlohmann
    local status=$?
    flock -u "$OSTREL_WIN_LOCK"
    exec {OSTREL_WIN_LOCK}>&-
    export OSTREL_WIN_PREFIXES
    return "$status"
}
