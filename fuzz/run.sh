#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a
# bounded time on a scratch copy of its seed corpus, so the committed corpus
# stays as it is. Ends with a table of executions per second; exits non-zero
# when a target found something (its input is kept under <build>/findings).
# Usage: fuzz/run.sh [build-dir] [seconds-per-target]
# FUZZ_SEED=N makes the mutations repeatable (CI uses it, so that a run that
# passed here passes there); without it every run explores anew.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${2:-60}
targets=(${FUZZ_TARGETS:-exe_header ecoff_file elf_file script_line prompt_line key_decoder console_output})

options=(-DTOLVANIS_FUZZ=ON -DTOLVANIS_TESTS=OFF -DSANITIZE=address)
if [ -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" "${options[@]}" >/dev/null
else
    CC=clang CXX=clang++ cmake -S . -B "$build" "${options[@]}" >/dev/null
fi
cmake --build "$build" --target fuzz_targets -j "${JOBS:-2}"

# The targets' own scratch folders go in here too, so that a target that
# stopped on a finding leaves nothing behind.
scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/tmp"
export TMPDIR="$scratch/tmp"
findings="$PWD/$build/findings"
mkdir -p "$findings"

seed_option=()
if [ -n "${FUZZ_SEED:-}" ]; then
    seed_option=(-seed="$FUZZ_SEED")
fi

rows=()
failed=0
for target in "${targets[@]}"; do
    corpus="$scratch/$target"
    mkdir -p "$corpus"
    cp fuzz/corpus/"$target"/* "$corpus"/
    seeds=$(ls "$corpus" | wc -l)
    log="$PWD/$build/fuzz-$target.log"
    echo "fuzz_$target: ${seconds}s (log: $log)"
    result=ok
    if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" "${seed_option[@]}" -print_final_stats=1 \
        -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$findings/$target-" \
        "$corpus" >"$log" 2>&1; then
        result="FOUND (see log)"
        failed=1
    fi
    final() { awk -v name="stat::$1:" '$1 == name { print $2 }' "$log" | tail -n 1; }
    rows+=("$(printf '%-16s %12s %10s %6s -> %-6s %s' "$target" "$(final number_of_executed_units)" \
        "$(final average_exec_per_sec)" "$seeds" "$(ls "$corpus" | wc -l)" "$result")")
done

echo
printf '%-16s %12s %10s %16s %s\n' target runs exec/s "corpus in -> out" result
for row in "${rows[@]}"; do echo "$row"; done
printf '(%s s per target on %s)\n' "$seconds" "$(nproc) cores"
exit "$failed"
