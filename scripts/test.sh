#!/usr/bin/env bash
# Builds everything and runs all tests; exits non-zero on any failure.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vortan_need_packages "${VORTAN_BASE_PACKAGES[@]}"

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTAN_TESTS=ON -DVORTAN_BENCH=ON)
if [ "${1:-}" = "--sanitize" ]; then
    build=build-sanitize
    flags=(-DCMAKE_BUILD_TYPE=Debug -DVORTAN_SANITIZE=ON -DVORTAN_TESTS=ON)
    # Scene objects live until the process ends by design; leak reports
    # would only list them.
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
cd "$build"
ctest --output-on-failure -j "$jobs" </dev/null
