#!/usr/bin/env bash
# The Windows stage: the Windows build's unit tests under Wine, and
# tolvanis.exe end to end against the simulated target on a pseudo-terminal
# mapped as COM1 in a throwaway Wine prefix. Run by `make test-windows` after
# `make windows`.
set -euo pipefail
cd "$(dirname "$0")/.."

windows_build=${1:-build-win64}
host_build=${2:-build-wine-host}
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}

for program in wine wineserver; do
  if ! command -v "$program" >/dev/null; then
    echo "wine-test: $program is missing (apt-get install wine wine64)" >&2
    exit 1
  fi
done
exe="$windows_build/tolvanis.exe"
tests="$windows_build/tests/windows/tolvanis_windows_tests.exe"
for file in "$exe" "$tests"; do
  if [ ! -f "$file" ]; then
    echo "wine-test: $file is missing; run make windows first" >&2
    exit 1
  fi
done

# The Linux side: the simulated target and the harness that drives Wine. A
# build folder of its own, with only these tests, so the main build is left
# as it is.
cmake -S . -B "$host_build" -DTOLVANIS_TEST_AREAS=windows >/dev/null
cmake --build "$host_build" -j "$jobs" --target tolvanis_windows_logic_tests tolvanis_wine_e2e

"$host_build/tests/windows/tolvanis_windows_logic_tests"
TOLVANIS_EXE="$(realpath "$exe")" TOLVANIS_WINDOWS_TESTS="$(realpath "$tests")" \
  timeout 1200 "$host_build/tests/windows/tolvanis_wine_e2e"
