#!/usr/bin/env bash
# Builds everything and runs all tests; exits non-zero on any failure.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UBSan build in build-sanitize/
#   scripts/test.sh --tsan       ThreadSanitizer build in build-tsan/ (clang and its
#                                OpenMP runtime), running the tests that render on
#                                several threads
#   scripts/test.sh --no-embree  build without Embree in build-noembree/ (the
#                                kd-tree is then the default), all tests
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
vortan_need_packages "${VORTAN_BASE_PACKAGES[@]}"

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTAN_TESTS=ON -DVORTAN_BENCH=ON)
filter=()
case "${1:-}" in
--sanitize)
    build=build-sanitize
    flags=(-DCMAKE_BUILD_TYPE=Debug -DVORTAN_SANITIZE=ON -DVORTAN_TESTS=ON)
    export ASAN_OPTIONS="abort_on_error=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    ;;
--tsan)
    vortan_need_packages clang libomp-dev libclang-rt-14-dev
    build=build-tsan
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTAN_TSAN=ON -DVORTAN_TESTS=ON -DVORTAN_BENCH=OFF)
    export CC=clang CXX=clang++
    # The OpenMP runtime is not instrumented: its tool library tells the
    # sanitizer about the runtime's own synchronisation, and accesses inside
    # the runtime itself are not reported.
    llvm_lib="$(dirname "$(readlink -f "$(command -v clang++)")")/../lib"
    export OMP_TOOL_LIBRARIES="$llvm_lib/libarcher.so"
    export TSAN_OPTIONS="halt_on_error=1:ignore_noninstrumented_modules=1:second_deadlock_stack=1"
    # The tests that run more than one thread: the frame loop, renders
    # through the library and the launcher, and the kd-tree build.
    # Embree's own threads (its task library) are not instrumented either
    # and are ignored with the other such modules; the one call of ours
    # that runs on them says so itself.
    filter=(-R 'FrameLoop|ReferenceTrace|RenderScene|Launcher|KdTree|Accelerat|EmbreeAccel|Trace|InfoRecords')
    ;;
--no-embree)
    build=build-noembree
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTAN_EMBREE=OFF -DVORTAN_TESTS=ON -DVORTAN_BENCH=OFF)
    ;;
esac
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" "${flags[@]}" | { grep -i embree || true; }
cmake --build "$build" -j "$jobs"
cd "$build"
ctest --output-on-failure -j "$jobs" "${filter[@]}" </dev/null
