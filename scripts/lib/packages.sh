# The Debian packages the build, the tests and the local run need.
OSTREL_PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev libgl-dev
    libmariadb-dev mariadb-server mariadb-client galera-4 rsync
    libcurl4-openssl-dev libssl-dev openssl ca-certificates
    nlohmann-json3-dev
    googletest libgmock-dev libgtest-dev libbenchmark-dev
    nftables iproute2 iputils-ping socat
    dpkg-dev lintian file
    xvfb xauth x11-apps x11-utils imagemagick
    xrdp freerdp2-x11 zlib1g-dev logrotate
    gdb
)

# Installs whatever of OSTREL_PACKAGES is missing (as root, or through sudo).
ostrel_install_packages() { ostrel_install_package_list "${OSTREL_PACKAGES[@]}"; }

# Installs whatever of the named packages is missing.
ostrel_install_package_list() {
    local missing=()
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    # A package's post-install may start its service (xrdp does): where no service should start
    # (a container, a CI machine) policy-rc.d says no for the time of the install. One that the
    # machine has already stays as it is.
    local policy=/usr/sbin/policy-rc.d own_policy=""
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee "$policy" >/dev/null
        "${sudo[@]}" chmod 755 "$policy"
        own_policy=1
    fi
    local status=0
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || status=$?
    [ -n "$own_policy" ] && "${sudo[@]}" rm -f "$policy"
    return "$status"
}
