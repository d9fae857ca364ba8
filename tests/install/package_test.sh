#!/usr/bin/env bash
# The Debian package: built with CPack into a temporary folder, unpacked into
# a temporary root, and the program and its man page used from there.
# Usage: package_test.sh BUILD_DIR VERSION [CPACK]
set -euo pipefail

build=$1
version=$2
cpack=${3:-cpack}

for tool in dpkg-deb "$cpack"; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvanis-package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# CPack first brings the build up to date (its preinstall step), as
# `make package` would.
if ! "$cpack" -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    find "$scratch/out" -name PreinstallOutput.log -exec tail -n 20 {} \;
    exit 1
fi
packages=("$scratch"/out/tolvanis_*.deb)
if [[ ${#packages[@]} -ne 1 || ! -f ${packages[0]} ]]; then
    echo "FAIL: cpack made no single tolvanis_*.deb:"
    ls -l "$scratch/out"
    exit 1
fi
package=${packages[0]}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

field() { dpkg-deb -f "$package" "$1"; }
[[ $(field Package) == tolvanis ]] || fail "Package is '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "Version is '$(field Version)', not $version"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] ||
    fail "Architecture is '$(field Architecture)'"
# Without these the package would install on a machine that cannot run it.
depends=$(field Depends)
for library in libc6 libstdc++6; do
    [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
        fail "Depends ('$depends') lacks $library"
done

# The contents: the two programs, man pages, completion, docs; no tests or
# benches, nothing outside /usr.
dpkg-deb -c "$package" | awk '{print $NF}' | sed 's|^\./|/|' >"$scratch/contents"
for path in /usr/bin/tolvanis /usr/bin/tolvanis-sim /usr/share/man/man1/tolvanis.1.gz \
    /usr/share/man/man1/tolvanis-sim.1.gz /usr/share/bash-completion/completions/tolvanis; do
    grep -qx -- "$path" "$scratch/contents" || fail "the package lacks $path"
done
outside=$(grep -v '^/usr/' "$scratch/contents" | grep -vx '/' || true)
[[ -z $outside ]] || fail "the package holds files outside /usr: $outside"
programs=$(grep '^/usr/bin/.' "$scratch/contents" | sort | tr '\n' ' ')
[[ $programs == "/usr/bin/tolvanis /usr/bin/tolvanis-sim " ]] ||
    fail "/usr/bin holds more or less than the two programs: $programs"
stray=$(grep -iE 'test|bench|gtest|fuzz' "$scratch/contents" || true)
[[ -z $stray ]] || fail "test, bench or fuzz files in the package: $stray"

# Unpacked into a root of its own, the program runs and its page reads.
root=$scratch/root
dpkg-deb -x "$package" "$root"
mkdir -p "$scratch/config"
printed=$(cd "$scratch" && XDG_CONFIG_HOME=$scratch/config timeout 10 "$root/usr/bin/tolvanis" --version) ||
    fail "the packaged tolvanis --version failed"
[[ $printed == "tolvanis $version "* ]] || fail "the packaged tolvanis --version printed '$printed'"
[[ ! -e $scratch/config/kembri ]] || fail "tolvanis --version wrote settings"

page=$root/usr/share/man/man1/tolvanis.1.gz
if command -v man >/dev/null; then
    if MANPAGER=cat MANWIDTH=80 man --warnings -l "$page" >"$scratch/page.txt" 2>"$scratch/page.err"; then
        [[ ! -s $scratch/page.err ]] || { fail "man warns:"; cat "$scratch/page.err"; }
        grep -q 'local dload' "$scratch/page.txt" || fail "the rendered page lacks the script commands"
        grep -q 'tolvanis-sim(1)' "$scratch/page.txt" || fail "the rendered page lacks SEE ALSO"
    else
        fail "man cannot show $page:"
        cat "$scratch/page.err"
    fi
else
    echo "note: man is not installed; the page was only unpacked"
    gzip -t "$page" || fail "$page is no gzip file"
fi

[[ $failures -eq 0 ]] || exit 1
echo "package: $(basename "$package"), $(wc -l <"$scratch/contents") entries, runs from a private root"
