#!/usr/bin/env bash
# Configures (when needed) and builds the given targets with one line of
# progress instead of make's own chatter; the whole output goes to
# BUILD_DIR/build.log and is shown only when something fails. A target
# written NAME? is built only where the build has it (the board firmware
# needs a cross compiler). Usage: tools/build-quietly.sh BUILD_DIR TARGET...
set -uo pipefail

build=$1
shift
log=$build/build.log
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
# A make that calls this one would have its sub-makes name every folder.
unset MAKEFLAGS MFLAGS MAKELEVEL

progress() {
    local percent=0 line
    while IFS= read -r line; do
        printf '%s\n' "$line" >>"$log"
        if [[ $line =~ ^\[\ *([0-9]+)%\] ]]; then
            percent=${BASH_REMATCH[1]}
            # On a terminal the line is redrawn in place; elsewhere the
            # first and last lines are enough.
            [[ -t 1 ]] && printf '\rbuilding %s: %3d%%' "$*" "$percent"
        fi
    done
}

failed() {
    echo "$1 failed; the end of $log:" >&2
    tail -n 40 "$log" >&2
    exit 1
}

mkdir -p "$build"
: >"$log"
if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "configuring $build"
    cmake -S "$(dirname "$0")/.." -B "$build" >>"$log" 2>&1 || failed "configuring"
fi
targets=()
known=
for target in "$@"; do
    if [[ $target == *\? ]]; then
        target=${target%\?}
        [[ -n $known ]] || known=$(cmake --build "$build" --target help 2>/dev/null)
        grep -qw -- "$target" <<<"$known" || continue
    fi
    targets+=("$target")
done
[[ -t 1 ]] || echo "building ${targets[*]}"
cmake --build "$build" -j "$jobs" --target "${targets[@]}" 2>&1 | progress "${targets[@]}"
status=${PIPESTATUS[0]}
if [[ -t 1 ]]; then printf '\r\033[K'; fi
((status == 0)) || failed "the build"
echo "built ${targets[*]}"
