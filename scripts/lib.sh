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

# What vorlund-kit needs to build.
KIT_PACKAGES=(cmake g++ make pkg-config libcli11-dev nlohmann-json3-dev libgcab-dev libmspack-dev)
# What a host tree needs to configure (its tests included) and build.
HOST_PACKAGES=("${KIT_PACKAGES[@]}" libgtest-dev libbenchmark-dev python3 cabextract)
# What scripts/package needs for vorlund-kit's .deb: the kit, its manual page (help2man),
# and CPack's stripping and Depends (binutils, dpkg-shlibdeps, file).
PACKAGE_BUILD_PACKAGES=("${KIT_PACKAGES[@]}" help2man dpkg-dev file binutils gzip)

# Configures and builds a host tree (simulated device, tests, tools):
# build_host [DIR] [BUILD_TYPE] [CMAKE_ARGS...]; DIR defaults to build/host.
build_host() {
    local dir="${1:-$VORLUND_ROOT/build/host}" type="${2:-Debug}"
    shift 2 || shift $#
    ensure_packages "${HOST_PACKAGES[@]}"
    cmake -S "$VORLUND_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" >&2
}

# Builds vorlund-kit alone, optimised, in a tree of its own (build/kit, without
# tests, so that the Debug test tree is left as it is); prints where it is.
build_kit() {
    local dir="$VORLUND_ROOT/build/kit"
    ensure_packages "${KIT_PACKAGES[@]}" >&2
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$VORLUND_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVORLUND_KIT_ONLY=ON >&2 ||
            return 1
    fi
    cmake --build "$dir" --target vorlund-kit -j"$(nproc)" >&2 || return 1
    echo "$dir/tools/kit/vorlund-kit"
}

# Builds the Windows programs (scripts/build-windows, which installs mingw-w64) and
# installs Wine, a virtual X server and any further packages named:
# prepare_wine [PACKAGES...].
prepare_wine() {
    ensure_packages wine wine64 xvfb xauth python3 "$@"
    "$VORLUND_ROOT/scripts/build-windows"
}

# Runs a command inside a private X display of 1024x768.
in_display() {
    xvfb-run -a -s "-screen 0 1024x768x24" "$@"
}
