#!/usr/bin/env bash
# Runs the console against the board firmware on QEMU's MIPS Malta, without
# touching the user's stored settings. Usage: tools/demo-board.sh [BUILD_DIR]
set -euo pipefail

build=${1:-build}
console=$build/tolvanis
here=$(dirname "$0")
if [[ ! -x $console ]]; then
    echo "demo-board: $console not found; build first (make)" >&2
    exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvanis-demo-board.XXXXXX")
board_pid=
cleanup() {
    if [[ -n $board_pid ]]; then
        kill "$board_pid" 2>/dev/null || true
        wait "$board_pid" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

port=$scratch/port
"$here/board.sh" "$build" "$port" >"$scratch/board.out" 2>&1 &
board_pid=$!
for _ in $(seq 150); do
    [[ -L $port ]] && break
    if ! kill -0 "$board_pid" 2>/dev/null; then
        cat "$scratch/board.out" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ ! -L $port ]]; then
    echo "demo-board: the board did not come up" >&2
    exit 1
fi

# A settings folder of our own: the demo's port is never stored for real use.
export XDG_CONFIG_HOME=$scratch/config
mkdir -p "$XDG_CONFIG_HOME"
examples=$(realpath "$build/board")
echo "demo-board: $(cat "$scratch/board.out")"
echo "demo-board: press Enter for the prompt; F4 then $examples/hello.elf loads the example, g runs it"
echo "demo-board: also hello.ecoff and hello.exe, sum and fill (see README); F10 then F2 quits"
"$console" "-p$port" -b115200
