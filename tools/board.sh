#!/usr/bin/env bash
# Boots the board firmware on QEMU's MIPS Malta and gives its serial port a
# stable name: a symbolic link to the pseudo-terminal QEMU makes. Runs until
# interrupted; QEMU stops and the link goes with it.
# Usage: tools/board.sh [BUILD_DIR [LINK]]   (LINK: BUILD_DIR/board/port)
set -euo pipefail

build=${1:-build}
link=${2:-$build/board/port}
firmware=$build/board/monitor.elf

if ! command -v qemu-system-mipsel >/dev/null; then
    echo "board: qemu-system-mipsel is missing (apt-get install qemu-system-mips)" >&2
    exit 1
fi
if [[ ! -f $firmware ]]; then
    echo "board: $firmware is missing; build first (make) with gcc-mipsel-linux-gnu installed" >&2
    exit 1
fi
if [[ -e $link && ! -L $link ]]; then
    echo "board: $link exists and is not a link; not replacing it" >&2
    exit 1
fi

output=$(mktemp "${TMPDIR:-/tmp}/tolvanis-board.XXXXXX")
qemu_pid=
cleanup() {
    if [[ -n $qemu_pid ]]; then
        kill "$qemu_pid" 2>/dev/null || true
        wait "$qemu_pid" 2>/dev/null || true
    fi
    # Only our own link: another run may have taken the name meanwhile.
    if [[ -n ${pty:-} && $(readlink "$link" 2>/dev/null) == "$pty" ]]; then rm -f "$link"; fi
    rm -f "$output"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# QEMU names its pseudo-terminal on standard output, which it buffers when
# that is not a terminal: stdbuf makes it a line at a time.
stdbuf -oL qemu-system-mipsel -M malta -m 64 -display none -vga none -nic none \
    -kernel "$firmware" -serial pty -monitor none >"$output" 2>&1 </dev/null &
qemu_pid=$!

pty=
for _ in $(seq 100); do
    pty=$(grep -o '/dev/pts/[0-9]*' "$output" | head -n 1 || true)
    [[ -n $pty ]] && break
    if ! kill -0 "$qemu_pid" 2>/dev/null; then
        echo "board: QEMU did not start:" >&2
        cat "$output" >&2
        exit 1
    fi
    sleep 0.1
done
if [[ -z $pty ]]; then
    echo "board: QEMU named no pseudo-terminal within 10 s" >&2
    exit 1
fi
# Held open here, without echo: QEMU takes up to a second to notice that its
# port was opened and reads nothing from it meanwhile, so a console opening it
# first would wait that long for its first echo and fail its first transfer.
exec 3<>"$pty"
stty -F "$pty" raw -echo
ln -sfn "$pty" "$link"
echo "board: Malta monitor on $pty, linked as $link (Ctrl+C stops it)"
wait "$qemu_pid"
