#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# fixed time on a scratch copy of its seed inputs; exits non-zero when a
# target reports a crash, a leak, a timeout or undefined behaviour.
#   scripts/fuzz.sh [--seconds N] [--target image|scene|all]
# N is the time per target (default 60). The seeds: scenes/ and
# fuzz/corpus/scene/ for the scene loader, fuzz/corpus/image/ for the image
# files. New inputs stay in the scratch directory, which is removed unless a
# target failed; then its path is printed, with the failing inputs in it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh

usage() { echo "Usage: $0 [--seconds N] [--target image|scene|all]" >&2; exit 2; }
seconds=60
target=all
while [ $# -gt 0 ]; do
    case "$1" in
    --seconds) [ $# -ge 2 ] || usage; seconds="$2"; shift 2 ;;
    --target) [ $# -ge 2 ] || usage; target="$2"; shift 2 ;;
    *) usage ;;
    esac
done
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage
case "$target" in
all) targets=(scene image) ;;
scene | image) targets=("$target") ;;
*) usage ;;
esac

vortan_need_packages "${VORTAN_BASE_PACKAGES[@]}" clang libomp-dev libclang-rt-14-dev
export CXX=clang++
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTAN_FUZZ=ON \
    -DVORTAN_TESTS=OFF -DVORTAN_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/%/_fuzz}"

work=$(mktemp -d "${TMPDIR:-/tmp}/vortan-fuzz.XXXXXX")
keep=0
trap '[ "$keep" = 1 ] || rm -rf "$work"' EXIT

# Leaks count as failures whatever a target or the caller's environment says
# (the last setting wins); undefined behaviour stops the target.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}halt_on_error=1:print_stacktrace=1"
options=(-max_len=8192 -rss_limit_mb=3072 -timeout=30)

failed=()
for t in "${targets[@]}"; do
    dir="$work/$t"
    mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
    case "$t" in
    scene)
        for f in scenes/*; do cp "$f" "$dir/corpus/scenes-$(basename "$f")"; done
        cp fuzz/corpus/scene/* "$dir/corpus/"
        ;;
    image) cp fuzz/corpus/image/* "$dir/corpus/" ;;
    esac
    extra=()
    # WriteImg describes every refused frame on standard error, and the image
    # target asks for many; the fuzzer's own reports still appear.
    [ "$t" = image ] && extra=(-close_fd_mask=2)

    echo "Fuzzing $t for $seconds s"
    fuzzer="build-fuzz/fuzz/${t}_fuzz"
    rc=0
    TMPDIR="$dir/tmp" "$fuzzer" "${options[@]}" "${extra[@]}" -max_total_time="$seconds" \
        -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "$dir/corpus" \
        >"$dir/log" 2>&1 </dev/null || rc=$?
    grep -E '^(#[0-9]+[[:space:]]+DONE|Done |stat::(number_of_executed_units|peak_rss_mb))' \
        "$dir/log" | sed 's/^/  /' || true
    if [ "$rc" -ne 0 ] || [ -n "$(ls -A "$dir/artifacts")" ]; then
        failed+=("$t")
        echo "$t: the fuzzer failed (exit status $rc); the end of its log:"
        tail -n 60 "$dir/log"
        for input in "$dir"/artifacts/*; do
            [ -f "$input" ] || continue
            echo "$t: $input once more, with everything the target writes:"
            TMPDIR="$dir/tmp" "$fuzzer" "${options[@]}" "$input" 2>&1 </dev/null |
                tail -n 60 || true
        done
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    keep=1
    echo "Failed: ${failed[*]}; the inputs and logs are in $work" >&2
    exit 1
fi
echo "No failures: ${targets[*]}"
