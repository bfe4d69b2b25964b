# Shared helpers for the scripts: the repository root, package installs, builds, the X
# display and the tally of "N passed, N failed" lines.
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

# Configures and builds a host tree (simulated device, tests, tools, benchmarks):
# build_host [DIR] [BUILD_TYPE] [CMAKE_ARGS...]; DIR defaults to build/host.
# With HOST_TARGETS set (an array), only those targets are built.
build_host() {
    local dir="${1:-$VORLUND_ROOT/build/host}" type="${2:-Debug}"
    shift 2 || shift $#
    ensure_packages "${HOST_PACKAGES[@]}"
    cmake -S "$VORLUND_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
    local targets=()
    [ -z "${HOST_TARGETS+set}" ] || targets=(--target "${HOST_TARGETS[@]}")
    cmake --build "$dir" "${targets[@]}" -j"$(nproc)" >&2
}
# What the host tree's ctest runs: the two test programs (the kit's tests run vorlund-kit,
# which they depend on).
HOST_TEST_TARGETS=(vorlund_tests vorlund_kit_tests)

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

# Adds a tier's counts to the globals passed and failed: tally NAME LOG STATUS. The counts
# come from the log's last "N passed, N failed" line; a log without one, or a STATUS that is
# not 0 while the line counts no failure, is one failure more.
tally() {
    local counts
    counts=$(grep -Eo '^[0-9]+ passed, [0-9]+ failed' "$2" | tail -1)
    if [ -z "$counts" ]; then
        echo "$1: no result line" >&2
        failed=$((failed + 1))
        return
    fi
    passed=$((passed + $(echo "$counts" | awk '{print $1}')))
    failed=$((failed + $(echo "$counts" | awk '{print $3}')))
    if [ "$3" -ne 0 ] && [ "$(echo "$counts" | awk '{print $3}')" -eq 0 ]; then
        failed=$((failed + 1))
    fi
}
