#!/usr/bin/env bash
# vorlund-kit's .deb as a vendor gets it: scripts/package builds it, dpkg-deb -x unpacks it
# into a scratch directory, the program runs from there, and lintian reads the package.
# Closes with "N passed, N failed".
set -uo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
ensure_packages lintian dpkg-dev file man-db
root="$VORLUND_ROOT"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

passed=0
failed=0
check() {  # check NAME COMMAND...: one case, its output shown only when it fails
    local name="$1" out
    shift
    if out="$("$@" 2>&1)"; then
        echo "ok      $name"
        passed=$((passed + 1))
    else
        echo "FAILED  $name"
        [ -n "$out" ] && sed 's/^/        /' <<<"$out"
        failed=$((failed + 1))
    fi
}
fail() { echo "$*"; exit 1; }  # ends the case: check runs it in a subshell

version="$(sed -n 's/^project(Vorlund VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
start=$SECONDS
if ! deb="$("$root/scripts/package" 2>"$scratch/package.log")" || [ ! -f "$deb" ]; then
    tail -40 "$scratch/package.log"
    echo "FAILED  scripts/package builds the .deb"
    echo "0 passed, 1 failed"
    exit 1
fi
echo "scripts/package: $deb in $((SECONDS - start)) s"
dpkg-deb -x "$deb" "$scratch/root"
kit="$scratch/root/usr/bin/vorlund-kit"
field() { dpkg-deb -f "$deb" "$1"; }

# The version set once in CMakeLists.txt reaches the control file, the changelog, --version
# and the manual page (lintian judges the other fields).
version_everywhere() {
    [ "$(field Version)" = "$version" ] || fail "Version: $(field Version), not $version"
    zcat "$scratch/root/usr/share/doc/vorlund-kit/changelog.gz" | head -1 |
        grep -qx "vorlund-kit ($version) unstable; urgency=medium" || fail "changelog not for $version"
    [ "$("$kit" --version)" = "vorlund-kit $version" ] || fail "--version: $("$kit" --version)"
    grep -q "^\.TH VORLUND-KIT \"1\" .*\"vorlund-kit $version\"" <<<"$(zcat "$scratch/root/usr/share/man/man1/vorlund-kit.1.gz")" ||
        fail "no .TH line for $version"
}
# Depends comes from dpkg-shlibdeps: the cabinet libraries the program links must be named.
computed_depends() {
    local names lib
    names="$(field Depends | sed 's/ ([^)]*)//g; s/, /\n/g')"
    for lib in libc6 libstdc++6 libgcab-1.0-0 libmspack0 libglib2.0-0; do
        grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib: $(field Depends)"
    done
}
# The kit and its documents, nothing else of the host build; cmake --install lays out the same.
only_the_kit() {
    local doc=./usr/share/doc/vorlund-kit
    diff <(printf '%s\n' ./usr/bin/vorlund-kit $doc/MAIN_PACKAGE.md.gz $doc/README.md.gz $doc/changelog.gz \
        $doc/copyright ./usr/share/man/man1/vorlund-kit.1.gz) <(cd "$scratch/root" && find . -type f | sort) || return 1
    cmake --install "$root/build/package" --prefix "$scratch/prefix" >/dev/null || fail "cmake --install failed"
    diff <(cd "$scratch/root/usr" && find . -type f | sort) <(cd "$scratch/prefix" && find . -type f | sort)
}
# The licence's text in the copyright file is the LICENSE file's (lintian judges its form).
copyright_file() {
    diff <(sed -n '/^License:/,$p' "$scratch/root/usr/share/doc/vorlund-kit/copyright" | tail -n +2 |
        sed 's/^ //; s/^\.$//') "$root/LICENSE"
}
# Every subcommand is listed by --help and has a section in the manual page, which names
# every option of its --help and reads without warnings.
help_and_manual() {
    local page sub option
    page="$(zcat "$scratch/root/usr/share/man/man1/vorlund-kit.1.gz")"
    for sub in pack inspect rehearse; do
        grep -Eq "^  $sub " <<<"$("$kit" --help)" || fail "--help does not list $sub"
        grep -q "^\.SS \"vorlund-kit $sub\"$" <<<"$page" || fail "no section for $sub"
        "$kit" "$sub" --help >/dev/null || fail "$sub --help: status $?"
        for option in $("$kit" "$sub" --help | grep -Eo -- '--[a-z][a-z-]*' | sort -u); do
            grep -qF -- "${option//-/\\-}" <<<"$page" || fail "$sub $option is not in the page"
        done
    done
    ! MANWIDTH=80 man --warnings -l "$scratch/root/usr/share/man/man1/vorlund-kit.1.gz" 2>&1 >/dev/null | grep .
}
# Errors and warnings fail; the pedantic and informational tags are only shown.
lintian_clean() {
    lintian --pedantic --display-info "$deb" 2>&1 | grep -v 'running with root privileges' >"$scratch/lintian.txt"
    ! grep -Eq '^(E|W):' "$scratch/lintian.txt"
}

check "the version: control file, changelog, --version, manual page" version_everywhere
check "Depends computed from the program" computed_depends
check "the kit and its documents only, as cmake --install lays them out" only_the_kit
check "copyright file: the licence" copyright_file
check "--help, each subcommand, the manual page's options" help_and_manual
check "lintian: no error, no warning" lintian_clean
echo "Depends: $(field Depends)"
echo "size: $(stat -c %s "$deb") bytes, installed $(field Installed-Size) KiB"
[ -s "$scratch/lintian.txt" ] && sed 's/^/lintian: /' "$scratch/lintian.txt"
echo "package tier: $((SECONDS - start)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
