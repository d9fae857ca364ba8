#!/usr/bin/env bash
# Runs the console against the simulated target, without touching the user's
# stored settings. Usage: tools/demo.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}

find_binary() {
    local name=$1 folder=$2
    for candidate in "$build/$name" "$build/$folder/$name"; do
        if [[ -x $candidate ]]; then
            echo "$candidate"
            return 0
        fi
    done
    echo "demo: $name not found in $build; build first (make)" >&2
    return 1
}

console=$(find_binary tolvanis app)
simulator=$(find_binary tolvanis-sim sim)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvanis-demo.XXXXXX")
sim_pid=
cleanup() {
    if [[ -n $sim_pid ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

port="$scratch/port"
# Unpaced: over a pseudo-terminal a line paced at 115200 could not confirm a
# block within the console's reply time-out.
"$simulator" --quiet --link "$port" >"$scratch/sim.out" &
sim_pid=$!

# Wait (at most 5 s) for the simulator to make its link.
for _ in $(seq 50); do
    [[ -L $port ]] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: the simulator did not start" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ ! -L $port ]]; then
    echo "demo: the simulator made no link" >&2
    exit 1
fi

# A settings folder of our own: the demo's port is never stored for real use.
export XDG_CONFIG_HOME="$scratch/config"
mkdir -p "$XDG_CONFIG_HOME"

echo "demo: simulated monitor on $(cat "$scratch/sim.out") (try: help, dr, sr epc 80010000, dw 80010000)"
echo "demo: F1 (or Alt+1) for help; F10 then F2 (or Alt+0 then Alt+2) quits"
"$console" "-p$port" -b115200
