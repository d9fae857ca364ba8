#!/usr/bin/env bash
# Runs the console unit tests, the transfer tests and the fault tests under
# valgrind's memcheck, then the console program itself on the simulated
# target running two scripts (transfers that go through, and one the target
# refuses): any memory error or definite leak fails the run.
# Usage: tools/memcheck.sh [BUILD_DIR]   (a plain build, not a sanitizer one)
#
# The subset: under valgrind every thread runs many times slower, while the
# protocol gives up after 110 ms of silence. So the cases that race a
# simulated target paced at a baud rate, time a keypress against a transfer
# in flight, or move megabytes are left out here; the sanitizer builds run
# them. Left out:
#   transfer_sim_tests: Dload.TheLargestFileGoesThroughWhole (2 MiB),
#     Cancel.* and Stars.* (paced line, timed ESC)
#   fault_tests: Noise.AByteRightAfterBinary* and Cancel.EscBefore* (the test
#     answers for the target within a read time-out), Cancel.EscBetweenBlocks*
#     (paced), Resources.AThousandTransfers* (minutes under valgrind)
# The end-to-end tests run the console binary from the test process, outside
# valgrind; the two program runs at the end stand in for them.
#
# valgrind warns about terminal ioctls it has no wrapper for (TIOCEXCL,
# TIOCNXCL, TIOCGPTPEER); they pass no memory, and the warnings are dropped.
set -euo pipefail

build=${1:-build}
targets=(console_tests transfer_tests transfer_sim_tests fault_tests tolvanis tolvanis-sim)
cmake --build "$build" --target "${targets[@]}" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null

valgrind_args=(--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect --quiet)
failed=0

without_ioctl_warnings() {
    grep -v -e "unhandled ioctl" -e "spurious value errors" -e "README_MISSING_SYSCALL" || true
}

run() {
    local binary=$1 filter=$2
    echo "== memcheck: ${binary##*/} $filter"
    if ! valgrind "${valgrind_args[@]}" "$binary" --gtest_filter="$filter" --gtest_brief=1 \
        2> >(without_ioctl_warnings >&2); then
        echo "== memcheck FAILED: ${binary##*/}"
        failed=1
    fi
}

run "$build/tests/console/console_tests" '*'
run "$build/tests/transfer/transfer_tests" '*'
run "$build/tests/transfer/transfer_sim_tests" \
    '*:-Dload.TheLargestFileGoesThroughWhole:Cancel.*:Stars.*'
run "$build/tests/faults/fault_tests" \
    '*:-Noise.AByteRightAfterBinary*:Cancel.EscBefore*:Cancel.EscBetweenBlocks*:Resources.AThousandTransfers*'

# The program itself. Its keyboard is a FIFO that never speaks and never
# ends; it is stopped with SIGTERM, which it takes as a request to quit.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tolvanis-memcheck.XXXXXX")
sim_pid=
console_pid=
cleanup() {
    for pid in $console_pid $sim_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$scratch"
}
trap cleanup EXIT
mkfifo "$scratch/keys"
exec 3<>"$scratch/keys"
head -c 5000 /dev/urandom >"$scratch/in.bin"

# console_run NAME TEXT_THAT_ENDS_THE_RUN [SIMULATOR OPTIONS...], on run.txt.
console_run() {
    local name=$1 wait_for=$2
    shift 2
    echo "== memcheck: tolvanis, $name"
    rm -f "$scratch/port" "$scratch/screen.txt"
    "$build/tolvanis-sim" --quiet --link "$scratch/port" "$@" >/dev/null &
    sim_pid=$!
    for _ in $(seq 50); do
        [[ -L $scratch/port ]] && break
        sleep 0.1
    done
    XDG_CONFIG_HOME="$scratch/config" valgrind "${valgrind_args[@]}" --log-file="$scratch/valgrind.txt" \
        "$build/tolvanis" "-p$scratch/port" -b115200 "$scratch/run.txt" <&3 >"$scratch/screen.txt" &
    console_pid=$!
    local seen=0
    for _ in $(seq 600); do
        if grep -q "$wait_for" "$scratch/screen.txt" 2>/dev/null; then
            seen=1
            break
        fi
        sleep 0.1
    done
    kill -TERM "$console_pid" 2>/dev/null || true
    local status=0
    wait "$console_pid" || status=$?
    console_pid=
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
    without_ioctl_warnings <"$scratch/valgrind.txt"
    if [[ $seen -ne 1 || $status -ne 0 ]]; then
        echo "== memcheck FAILED: tolvanis, $name (reached the end: $seen, exit status $status)"
        failed=1
    fi
}

cat >"$scratch/run.txt" <<SCRIPT
local dload $scratch/in.bin 80010000
local dsave $scratch/out.bin 80010000 1388
dr
local echo script-done
SCRIPT
console_run "dload, dsave and a monitor command" script-done
if ! cmp -s "$scratch/in.bin" "$scratch/out.bin"; then
    echo "== memcheck FAILED: the saved file differs from the loaded one"
    failed=1
fi

cat >"$scratch/run.txt" <<SCRIPT
local dload $scratch/in.bin 80010000
local echo never-reached
SCRIPT
console_run "a dload the target refuses" "transfer failed" --nak-first 3

if [[ $failed -ne 0 ]]; then
    echo "memcheck: errors found"
    exit 1
fi
echo "memcheck: clean"
