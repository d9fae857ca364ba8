#!/usr/bin/env bash
# The Windows stage: the Windows build's unit tests under Wine, and
# tolvanis.exe end to end against the simulated target on a pseudo-terminal
# mapped as COM1 in a throwaway Wine prefix; the 32-bit tolvanis.exe end to
# end as well where Wine can run 32-bit programs (Debian's wine32). Run by
# `make test-windows` after `make windows`.
set -euo pipefail
cd "$(dirname "$0")/.."

windows_build=${1:-build-win64}
host_build=${2:-build-wine-host}
win32_build=${3:-build-win32}
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

# wine32 brings the 32-bit loader; without it a 32-bit program does not start.
if dpkg-query -W -f='${Status}' 'wine32:i386' 2>/dev/null | grep -q 'ok installed' &&
  [ -f "$win32_build/tolvanis.exe" ]; then
  TOLVANIS_EXE="$(realpath "$win32_build/tolvanis.exe")" \
    timeout 1200 "$host_build/tests/windows/tolvanis_wine_e2e" --gtest_filter='Wine.*-Wine.WindowsUnitTestsPass'
else
  echo "wine-test: no 32-bit Wine (wine32); $win32_build/tolvanis.exe was built, not run"
fi
