#!/usr/bin/env bash
# The manual pages render without a warning and name every option that the
# programs' own --help names. Usage: man_pages_test.sh BUILD_DIR
set -euo pipefail

build=$1
if ! command -v groff >/dev/null; then
    echo "SKIP: groff is not installed"
    exit 77
fi

# The options a --help text names: -x of -xVALUE, and --long-names.
options_in_help() {
    "$1" --help | grep -oE '(^|[][ (,])--?[a-z][a-z-]*' | sed -E 's/^[][ (,]//' |
        sed -E 's/^(-[a-z]).*/\1/; t; s/^(--[a-z-]*[a-z]).*/\1/' | sort -u
}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvanis-man-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

for program in tolvanis tolvanis-sim; do
    page=$build/man/$program.1
    if [[ ! -f $page ]]; then
        fail "$page was not built"
        continue
    fi
    if grep -q '@[A-Z_]*@' "$page"; then
        fail "$page still holds a placeholder: $(grep -o '@[A-Z_]*@' "$page" | head -1)"
    fi
    groff -man -Tutf8 -ww -z "$page" 2>"$scratch/warnings" || fail "groff failed on $page"
    if [[ -s $scratch/warnings ]]; then
        fail "groff warns about $page:"
        cat "$scratch/warnings"
    fi
    # Plain text: no overstriking, no escape sequences.
    groff -man -Tascii -P-cbou "$page" 2>/dev/null >"$scratch/$program.txt"
    grep -q "^NAME" "$scratch/$program.txt" || fail "$page renders without a NAME section"

    binary=$build/$program
    if [[ ! -x $binary ]]; then
        fail "$binary was not built"
        continue
    fi
    options=$(options_in_help "$binary")
    [[ -n $options ]] || fail "no options found in $program --help"
    for option in $options; do
        # -p stands glued to its value (-pPORT); a long option stands alone.
        if [[ $option == --* ]]; then
            pattern="(^|[^a-z-])$option([^a-z-]|$)"
        else
            pattern="(^|[^a-z-])$option([A-Z/ ]|$)"
        fi
        grep -qE -- "$pattern" "$scratch/$program.txt" ||
            fail "$program.1 does not name $option, which $program --help names"
    done
done

[[ $failures -eq 0 ]] || exit 1
echo "man pages: rendered cleanly, every --help option named"
