#!/usr/bin/env bash
# Runs the benchmarks of a build: ./bench/run.sh BUILD_DIR [--quick]
# Builds nothing itself (`make bench` builds first). A full run takes about
# seven minutes, most of it the paced 2 MiB transfers; --quick about one.
set -euo pipefail

if [[ $# -lt 1 || $1 == --help ]]; then
  echo "usage: $0 BUILD_DIR [--quick]" >&2
  exit 2
fi
build=$1
shift
bench_dir=$build/bench

status=0
for name in idle keys output transfer load board usb; do
  program=$bench_dir/tolvanis-bench-$name
  if [[ ! -x $program ]]; then
    echo "$program is missing: build first (make bench)" >&2
    exit 1
  fi
  echo "== $name"
  "$program" "$@" || status=1
  echo
done
exit $status
