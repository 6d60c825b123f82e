#!/usr/bin/env bash
# Builds both targets and runs every test: natively against libcommon.so and
# under Wine against common.dll.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install_deps.sh

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
jobs=$(nproc)

# The layout first: it takes seconds and names every file that strays.
bash scripts/check_format.sh > /dev/null || bash scripts/check_format.sh

cmake --preset native > /dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset sanitize > /dev/null
cmake --build --preset sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --preset sanitize -j "$jobs"

# Each libFuzzer target for a minute (clang build of its own, in out/fuzz).
bash fuzz/run.sh 60

cmake --preset win32 > /dev/null
cmake --build --preset win32 -j "$jobs"
# The first Wine start makes its prefix; do it once before the timed tests.
wineboot -i > /dev/null 2>&1 || true
ctest --preset win32

# The library as its users take it: installed, as a package, as a subproject.
bash scripts/test_packaging.sh

echo "all tests passed: native, sanitized, Windows (Wine) and packaging"
