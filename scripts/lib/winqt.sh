# Qt for Windows, for the operator window's Windows build and the setup program.
#
# Debian ships no mingw build of Qt, so Qt's base module is cross-built here from Debian's own
# qt6-base source, the version the Linux build uses. Debian's qt6-base-dev-tools of that version
# serve as the host tools (moc, rcc, uic), so only the Windows libraries are compiled, and only
# what the window needs: Core, Gui, Widgets, Test (the window's tests), the windows and offscreen
# platform plugins and the Windows styles. Static libraries with the C and C++ runtimes linked
# in, like the project's own executables: the window is one .exe, with no Qt or compiler DLLs
# beside it (the windows platform plugin and the style are linked into it).
#
# It takes most of an hour on two cores, so it is a step of its own, not part of ostrel_win_deps:
#
#   ostrel_win_qt              builds or reuses Qt; sets OSTREL_WIN_QT (the prefix)
#   ostrel_win_qt_cached       sets OSTREL_WIN_QT when the cache holds Qt already; builds nothing
#
# Needs scripts/lib/packages.sh and scripts/lib/windeps.sh sourced first.

OSTREL_WIN_QT_PACKAGES=(qt6-base-dev-tools perl)
# Raise when the configuration below changes.
OSTREL_WIN_QT_RECIPE=2

ostrel_win_qt_prefix() {
    local compiler version
    compiler="$("$OSTREL_WIN_TRIPLE-g++-posix" -dumpfullversion)"
    version="$(ostrel_win_source_version qt6-base-dev)"
    echo "$OSTREL_WIN_CACHE/qt6-base-${version//[:~]/_}-gcc$compiler-q$OSTREL_WIN_QT_RECIPE"
}

ostrel_win_qt_cached() {
    local prefix
    prefix="$(ostrel_win_qt_prefix)"
    [ -f "$prefix/.complete" ] || return 1
    OSTREL_WIN_QT="$prefix"
    export OSTREL_WIN_QT
}

ostrel_win_recipe_qt() { # version work prefix
    # An interrupted build goes on where it stopped: the hour is not paid twice.
    if [ -f "$2/build/build.ninja" ]; then
        ninja -C "$2/build" -j "$(nproc)" && ninja -C "$2/build" install
        return
    fi
    ostrel_win_fetch_source qt6-base "$1" "$2/src" || return 1
    local host_cmake
    host_cmake="/usr/lib/$(gcc -print-multiarch)/cmake"
    local features=(
        # What the window uses.
        -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_testlib=ON -DFEATURE_png=ON
        # Everything else stays out of the build.
        -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF
        -DINPUT_opengl=no -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF
        -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF
        # Without Direct2D, Qt 6.4 leaves the DirectWrite font database out of QtGui while its
        # windows platform plugin still calls it: the window would not link. GDI's fonts serve.
        -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF -DFEATURE_icu=OFF -DFEATURE_zstd=OFF
        -DFEATURE_jpeg=OFF -DFEATURE_glib=OFF -DFEATURE_openssl=OFF -DFEATURE_sql_sqlite=OFF
        -DFEATURE_fontconfig=OFF -DFEATURE_harfbuzz=OFF
        # The offscreen platform plugin of the window's tests draws its text with FreeType.
        -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF
        -DFEATURE_pkg_config=OFF
        # The bundled copies of the small libraries: there are no Windows builds of Debian's.
        -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
        -DFEATURE_system_doubleconversion=OFF
        # mingw-w64's headers lack part of the pointer API the tablet support is written against.
        -DFEATURE_tabletevent=OFF
        -DFEATURE_static_runtime=ON
    )
    local source
    source="$(ostrel_win_source_tree "$2/src")"
    cmake -S "$source" -B "$2/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(ostrel_win_toolchain)" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$3" -DBUILD_SHARED_LIBS=OFF \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        "${features[@]}" &&
        ninja -C "$2/build" -j "$(nproc)" &&
        ninja -C "$2/build" install
}

ostrel_win_qt() {
    ostrel_install_package_list "${OSTREL_WIN_QT_PACKAGES[@]}"
    mkdir -p "$OSTREL_WIN_CACHE"
    # A lock of its own: the hour of Qt never holds up the other libraries.
    exec {OSTREL_WIN_QT_LOCK}>"$OSTREL_WIN_CACHE/.lock-qt"
    flock "$OSTREL_WIN_QT_LOCK"
    local prefix status=0
    prefix="$(ostrel_win_qt_prefix)"
    if ostrel_win_qt_cached; then
        ostrel_win_log "Qt: cached in $prefix"
    else
        local work start=$SECONDS
        # The work folder is named after the prefix, so a build cut short is resumed, not redone.
        work="$prefix.work"
        mkdir -p "$work"
        ostrel_win_log "Qt $(ostrel_win_source_version qt6-base-dev): building (the first time on this machine; most of an hour; log: $work/build.log)"
        if ostrel_win_recipe_qt "$(ostrel_win_source_version qt6-base-dev)" "$work" "$prefix.partial" >>"$work/build.log" 2>&1; then
            [ -f "$work/source-version" ] && cp "$work/source-version" "$prefix.partial/"
            touch "$prefix.partial/.complete"
            rm -rf "$prefix"
            mv "$prefix.partial" "$prefix"
            rm -rf "$work"
            ostrel_win_log "Qt: built in $((SECONDS - start)) s"
            ostrel_win_qt_cached
        else
            tail -40 "$work/build.log" >&2
            echo "Building Qt for Windows failed; the whole log: $work/build.log" >&2
            status=1
        fi
    fi
    flock -u "$OSTREL_WIN_QT_LOCK"
    exec {OSTREL_WIN_QT_LOCK}>&-
    return "$status"
}
