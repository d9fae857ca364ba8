#!/usr/bin/env bash
# `cmake --install` into a fresh prefix, and the installed program runs from
# there. Usage: install_test.sh BUILD_DIR VERSION
set -euo pipefail

build=$1
version=$2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvanis-install-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" ||
    { cat "$scratch/install.log"; exit 1; }

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for program in tolvanis tolvanis-sim; do
    [[ -x $prefix/bin/$program ]] || fail "bin/$program is not installed"
    if [[ -f $prefix/share/man/man1/$program.1.gz ]]; then
        gzip -t "$prefix/share/man/man1/$program.1.gz" || fail "$program.1.gz is no gzip file"
    elif [[ ! -f $prefix/share/man/man1/$program.1 ]]; then
        fail "share/man/man1/$program.1 is not installed"
    fi
done
[[ -f $prefix/share/bash-completion/completions/tolvanis ]] ||
    fail "the bash completion is not installed"

# bin holds the two programs and nothing else: no tests, no benches.
extra=$(find "$prefix/bin" -mindepth 1 ! -name tolvanis ! -name tolvanis-sim)
[[ -z $extra ]] || fail "bin holds more than the two programs: $extra"
stray=$(find "$prefix" -type f \( -name '*test*' -o -name '*bench*' \))
[[ -z $stray ]] || fail "test or bench files installed: $stray"

# The installed copy runs, with a settings folder that is not the user's.
if [[ -x $prefix/bin/tolvanis ]]; then
    mkdir -p "$scratch/config"
    printed=$(cd "$scratch" && XDG_CONFIG_HOME=$scratch/config timeout 10 "$prefix/bin/tolvanis" --version) ||
        fail "the installed tolvanis --version failed"
    [[ $printed == "tolvanis $version "* ]] ||
        fail "the installed tolvanis --version printed '$printed', not version $version"
fi
if [[ -x $prefix/bin/tolvanis-sim ]]; then
    usage=$(timeout 10 "$prefix/bin/tolvanis-sim" --help) || fail "the installed tolvanis-sim --help failed"
    [[ $usage == "usage: tolvanis-sim"* ]] ||
        fail "the installed tolvanis-sim --help printed no usage"
fi

[[ $failures -eq 0 ]] || exit 1
echo "install: $(find "$prefix" -type f | wc -l) files under the prefix, tolvanis $version runs"
