#!/usr/bin/env bash
# Builds the Debian package and tries it on this machine for real: installs
# it with dpkg, runs tolvanis from PATH, reads its man page and completion,
# removes it, and checks that none of its files remain. Needs root; meant for
# a throw-away machine such as CI. Usage: tools/package-check.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}
package_name=tolvanis

if [[ $(id -u) -ne 0 ]]; then
    echo "package-check: needs root (dpkg -i, dpkg -r)" >&2
    exit 1
fi
for tool in dpkg dpkg-deb cpack man; do
    if ! command -v "$tool" >/dev/null; then
        echo "package-check: $tool is not installed" >&2
        exit 1
    fi
done
status=$(dpkg-query -W -f='${db:Status-Status}' "$package_name" 2>/dev/null || true)
if [[ -n $status && $status != not-installed ]]; then
    echo "package-check: a $package_name package is installed already; remove it first" >&2
    exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvanis-package-check.XXXXXX")
installed=no
cleanup() {
    if [[ $installed == yes ]]; then
        echo "package-check: removing the package after a failure" >&2
        dpkg -r "$package_name" >/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

step() { printf -- '--- %s\n' "$*"; }
fail() {
    echo "package-check: FAIL: $*" >&2
    exit 1
}

step "building the package"
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" >"$scratch/build.log" ||
    { tail -n 30 "$scratch/build.log"; fail "the build failed"; }
cpack -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; }
package=$(find "$scratch/out" -maxdepth 1 -name "${package_name}_*.deb" | head -n 1)
[[ -n $package ]] || fail "cpack made no ${package_name}_*.deb"
version=$(dpkg-deb -f "$package" Version)
echo "$(basename "$package")"

# Files that exist before the install would be taken over and then deleted
# by the removal: better to stop.
dpkg-deb -c "$package" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./|/|' >"$scratch/files"
while IFS= read -r path; do
    [[ ! -e $path ]] || fail "$path exists already; it would be replaced and then removed"
done <"$scratch/files"

step "dpkg -i"
installed=yes
# Minimal images tell dpkg to leave out man pages and docs; this package's
# own are wanted here.
dpkg --path-include="/usr/share/man/man1/${package_name}*" \
    --path-include="/usr/share/doc/${package_name}/*" -i "$package"
dpkg -L "$package_name" >"$scratch/listed"

step "tolvanis from PATH"
[[ $(command -v tolvanis) == /usr/bin/tolvanis ]] ||
    fail "PATH finds $(command -v tolvanis || echo nothing), not /usr/bin/tolvanis"
printed=$(cd "$scratch" && HOME=$scratch XDG_CONFIG_HOME=$scratch/config tolvanis --version)
echo "$printed"
[[ $printed == "tolvanis $version "* ]] || fail "tolvanis --version does not print $version"
tolvanis-sim --help >/dev/null || fail "tolvanis-sim --help failed"

step "man tolvanis"
page=$(man -w tolvanis) || fail "man finds no page for tolvanis"
echo "$page"
[[ $page == /usr/share/man/man1/tolvanis.1* ]] || fail "man finds $page, not the package's page"
MANPAGER=cat MANWIDTH=80 man tolvanis >"$scratch/page.txt" 2>"$scratch/page.err" ||
    { cat "$scratch/page.err"; fail "man tolvanis failed"; }
head -n 12 "$scratch/page.txt"
grep -q 'local dload' "$scratch/page.txt" || fail "the page lacks the script commands"
man -w tolvanis-sim >/dev/null || fail "man finds no page for tolvanis-sim"

step "bash completion"
registered=$(bash -c "source /usr/share/bash-completion/completions/$package_name && complete -p tolvanis")
echo "$registered"
[[ $registered == *"-F _tolvanis"* ]] || fail "the completion does not register itself"

step "dpkg -r"
dpkg -r "$package_name"
installed=no
status=$(dpkg-query -W -f='${db:Status-Status}' "$package_name" 2>/dev/null || echo not-installed)
[[ $status == not-installed ]] || fail "after dpkg -r the package's state is $status"
left=0
while IFS= read -r path; do
    # Folders such as /usr/bin belong to others too; files and folders of
    # the package's own must go.
    if [[ -e $path && ! -d $path ]] || [[ -d $path && $path == */"$package_name" ]]; then
        echo "left behind: $path" >&2
        left=$((left + 1))
    fi
done <"$scratch/listed"
[[ $left -eq 0 ]] || fail "$left paths remain after dpkg -r"
hash -r
! command -v tolvanis >/dev/null || fail "tolvanis is still found on PATH"

echo "package-check: $(basename "$package") installs, runs, shows its man page and removes cleanly"
