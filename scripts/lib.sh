# Shared helpers for the scripts: the repository root and package installs.
VORLUND_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Installs the Debian packages that are not installed yet (root on a fresh
# Debian machine; apt-get update runs once, only when something is missing).
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    if ((${#missing[@]})); then
        echo "installing: ${missing[*]}" >&2
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq >&2
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
    fi
}

# Configures and builds a host tree (simulated device, tests, tools):
# build_host [DIR] [BUILD_TYPE] [CMAKE_ARGS...]; DIR defaults to build/host.
build_host() {
    local dir="${1:-$VORLUND_ROOT/build/host}" type="${2:-Debug}"
    shift 2 || shift $#
    ensure_packages cmake g++ make libgtest-dev libbenchmark-dev python3
    cmake -S "$VORLUND_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" >&2
}
