# Sourced by scripts/test and scripts/demo: installs the Debian 12 packages
# the build and the tests need, or says how to.
ZYLO_DEPS="g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
libpng-dev zlib1g-dev python3 util-linux procps"

zylo_install_deps() {
    local missing=() pkg
    for pkg in $ZYLO_DEPS; do
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Run as root:" >&2
        echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y "${missing[@]}" >/dev/null || {
        apt-get update >/dev/null && apt-get install -y "${missing[@]}" >/dev/null
    } || { echo "apt-get install failed" >&2; exit 1; }
}
