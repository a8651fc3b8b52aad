#!/usr/bin/env bash
# Benchmark against the peer tools (not part of the tests): whole-process
# wall time and peak memory of vortan and POV-Ray on the reference scene,
# scene loading throughput, and the Embree ray-casting limit.
#
#   scripts/bench.sh [--sizes "1k 10k 100k 1M"] [--reps 3] [--threads "1 2"]
#
# Builds a Release renderer in build-bench/, keeps scenes, logs and timings
# in bench-out/ and prints Markdown tables. The peer tools live in
# ../shared/bench/ relative to the repository root. Reported times are the
# median of the repetitions; the two programs run alternately, run by run,
# so that drift of the machine's speed hits both alike.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

sizes="1k 10k 100k 1M"
reps=3
threads="1 2"
usage() {
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
}
while [ $# -gt 0 ]; do
    case "$1" in
        --sizes) sizes=${2:?--sizes needs a value}; shift 2 ;;
        --reps) reps=${2:?--reps needs a value}; shift 2 ;;
        --threads) threads=${2:?--threads needs a value}; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done
case "$reps" in ''|*[!0-9]*|0) echo "--reps must be a positive integer" >&2; exit 2 ;; esac
for t in $threads; do
    case "$t" in ''|*[!0-9]*|0) echo "--threads must list positive integers" >&2; exit 2 ;; esac
done

peers=../shared/bench
out=bench-out
cores=$(nproc 2>/dev/null || echo 2)
notes=()
note() { notes+=("$*"); echo "note: $*" >&2; }

# ---- dependencies -------------------------------------------------------
. scripts/deps.sh
# The peers are optional: without them their columns are skipped.
vortan_need_packages "${VORTAN_BASE_PACKAGES[@]}" povray libembree-dev time ||
    vortan_need_packages cmake g++ make libgoogle-glog-dev
have_pov=0
command -v povray >/dev/null 2>&1 && have_pov=1
[ "$have_pov" = 1 ] || note "povray is not installed: POV-Ray columns skipped"
have_embree=0
[ -f /usr/include/embree3/rtcore.h ] && [ -f "$peers/embree_limit.cpp" ] && have_embree=1
[ "$have_embree" = 1 ] || note "Embree 3 headers or $peers/embree_limit.cpp missing: Embree skipped"
have_gnu_time=0
[ -x /usr/bin/time ] && have_gnu_time=1
for t in $threads; do
    [ "$t" -le "$cores" ] || note "$t threads asked for on a machine with $cores cores"
done

# ---- builds -------------------------------------------------------------
mkdir -p "$out"
echo "== building vortan (Release) in build-bench/" >&2
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORTAN_TESTS=OFF -DVORTAN_BENCH=OFF >/dev/null
cmake --build build-bench -j "$cores" --target vortan rendering >/dev/null
vortan="$root/build-bench/vortan"

embree="$root/$out/embree_limit"
if [ "$have_embree" = 1 ] && ! [ "$embree" -nt "$peers/embree_limit.cpp" ]; then
    echo "== compiling $out/embree_limit" >&2
    g++ -O3 -march=native -std=c++17 "$peers/embree_limit.cpp" -lembree3 -pthread -o "$embree" ||
        { have_embree=0; note "embree_limit did not compile: Embree skipped"; }
fi

# ---- timing -------------------------------------------------------------
# timed FILE CMD...: runs CMD with stdin from /dev/null, writes "wall_s
# peak_rss_kb" to FILE; returns CMD's status. Output redirection is up to
# the caller.
timed() {
    local file=$1
    shift
    local rc=0
    if [ "$have_gnu_time" = 1 ]; then
        # On failure GNU time puts a status line before the figures.
        /usr/bin/time -f '%e %M' -o "$file.raw" "$@" </dev/null || rc=$?
        tail -n 1 "$file.raw" >"$file"
        rm -f "$file.raw"
        return "$rc"
    fi
    python3 -c '
import os, sys, time
f, cmd = sys.argv[1], sys.argv[2:]
t = time.monotonic()
pid = os.fork()
if pid == 0:
    os.execvp(cmd[0], cmd)
_, status, ru = os.wait4(pid, 0)
open(f, "w").write("%.2f %d\n" % (time.monotonic() - t, ru.ru_maxrss))
sys.exit(os.waitstatus_to_exitcode(status) & 255)
' "$file" "$@" </dev/null
}

# median of the numbers on stdin; "FAIL" when there are none.
median() {
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "FAIL"; exit }
        if (NR % 2) m = v[(NR + 1) / 2]; else m = (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.2f\n", m }'
}
# div A B [FORMAT]: A / B, or "-" when either is missing.
div() {
    awk -v a="$1" -v b="$2" -v f="${3:-%.2f}" 'BEGIN {
        if (a !~ /^[0-9.eE+-]+$/ || b !~ /^[0-9.eE+-]+$/ || b + 0 == 0) print "-"
        else printf f "\n", a / b }'
}

vortan_run() { # DIR LOG TIMEFILE [ENV=VALUE...]
    local dir=$1 log=$2 tf=$3 scene=$4
    shift 4
    (cd "$dir" && timed "$tf" env "$@" "$vortan" "$scene" >"$log" 2>&1) ||
        { note "vortan failed in $dir (see $log)"; rm -f "$tf"; }
}
pov_run() { # DIR THREADS LOG TIMEFILE
    local dir=$1 t=$2 log=$3 tf=$4
    (cd "$dir" && timed "$tf" povray +Ibench.pov +Obench_pov.png +W640 +H480 -A "+WT$t" -D -P +FN \
        File_Gamma=2.3 >"$log" 2>&1) ||
        { note "povray failed in $dir (see $log)"; rm -f "$tf"; }
}

render_rows=()
load_rows=()
stat_rows=()
embree_text=""

for n in $sizes; do
    dir="$out/$n"
    logs="$dir/logs"
    mkdir -p "$logs"
    rm -f "$logs"/*.time
    if ! [ -f "$dir/bench.ass" ] || ! [ -f "$dir/bench.pov" ] || ! [ -f "$dir/bench.tri" ]; then
        echo "== generating the $n scene" >&2
        python3 "$peers/gen_scene.py" --tris "$n" --out "$dir/bench" >&2
    fi
    # The ray report is written next to the image; it needs its template.
    mkdir -p "$dir/resources"
    cp resources/empty.ma "$dir/resources/empty.ma"
    # The same scene at one pixel: loading, tree build and writing, no render.
    if ! [ "$dir/bench_load.ass" -nt "$dir/bench.ass" ]; then
        sed -E 's/^([[:space:]]*xres)[[:space:]]+[0-9]+/\1 1/; s/^([[:space:]]*yres)[[:space:]]+[0-9]+/\1 1/' \
            "$dir/bench.ass" >"$dir/bench_load.ass"
    fi

    # -- whole renders, alternating
    for t in $threads; do
        for r in $(seq 1 "$reps"); do
            echo "== $n, $t thread(s), run $r/$reps: vortan" >&2
            vortan_run "$dir" "$root/$logs/vortan_t${t}_r$r.log" "$root/$logs/vortan_t${t}_r$r.time" bench.ass \
                "VORTAN_THREADS=$t"
            if [ "$have_pov" = 1 ]; then
                echo "== $n, $t thread(s), run $r/$reps: povray" >&2
                pov_run "$dir" "$t" "$root/$logs/pov_t${t}_r$r.log" "$root/$logs/pov_t${t}_r$r.time"
            fi
        done
        vw=$(cat "$logs"/vortan_t"$t"_r*.time 2>/dev/null | awk '{ print $1 }' | median)
        vm=$(cat "$logs"/vortan_t"$t"_r*.time 2>/dev/null | awk '{ print $2 / 1024 }' | median)
        if [ "$have_pov" = 1 ]; then
            pw=$(cat "$logs"/pov_t"$t"_r*.time 2>/dev/null | awk '{ print $1 }' | median)
            pm=$(cat "$logs"/pov_t"$t"_r*.time 2>/dev/null | awk '{ print $2 / 1024 }' | median)
            ratio=$(div "$vw" "$pw")
        else
            pw=- pm=- ratio=-
        fi
        render_rows+=("| $n | $t | $vw | $pw | $ratio | $vm | $pm |")
        # Counters of the first run, to derive time per ray.
        first="$logs/vortan_t${t}_r1.log"
        taken=$(sed -n 's/.*Time taken: \([0-9.eE+-]*\)s.*/\1/p' "$first" | tail -n 1)
        tris=$(sed -n 's/.*Triangles intersected: \([0-9]*\).*/\1/p' "$first" | tail -n 1)
        w1=$(awk '{ print $1 }' "$logs/vortan_t${t}_r1.time" 2>/dev/null || true)
        rest=$(awk -v w="$w1" -v k="$taken" 'BEGIN {
            if (w == "" || k == "") print "-"; else printf "%.2f\n", w - k }')
        stat_rows+=("| $n | $t | ${w1:--} | ${taken:--} | $rest | ${tris:--} |")
    done

    # -- loading alone, INFO silenced and default logging, alternating
    for r in $(seq 1 "$reps"); do
        echo "== $n, load run $r/$reps" >&2
        vortan_run "$dir" "$root/$logs/load_quiet_r$r.log" "$root/$logs/load_quiet_r$r.time" bench_load.ass \
            GLOG_minloglevel=1
        vortan_run "$dir" "$root/$logs/load_info_r$r.log" "$root/$logs/load_info_r$r.time" bench_load.ass
    done
    bytes=$(wc -c <"$dir/bench.ass")
    mb=$(awk -v b="$bytes" 'BEGIN { printf "%.6f\n", b / 1e6 }')
    lq=$(cat "$logs"/load_quiet_r*.time 2>/dev/null | awk '{ print $1 }' | median)
    li=$(cat "$logs"/load_info_r*.time 2>/dev/null | awk '{ print $1 }' | median)
    load_rows+=("| $n | $(div "$mb" 1 %.2f) | $lq | $(div "$mb" "$lq" %.1f) | $li | $(div "$mb" "$li" %.1f) |")

    # -- Embree limit
    if [ "$have_embree" = 1 ]; then
        echo "== $n: embree_limit" >&2
        if "$embree" "$dir/bench.tri" "$dir/bench.view" --reps 3 --whitted >"$logs/embree.txt" 2>&1; then
            embree_text+="### $n"$'\n'$(cat "$logs/embree.txt")$'\n'
        else
            note "embree_limit failed on $n (see $logs/embree.txt)"
        fi
    fi
done

# ---- report -------------------------------------------------------------
echo
echo "## Whole process, 640x480 (median of $reps runs, alternating; machine: $cores cores)"
echo
echo "| size | threads | vortan wall s | POV-Ray wall s | vortan/POV | vortan peak MB | POV peak MB |"
echo "|---:|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${render_rows[@]}"
echo
echo "## Loading (the scene at 1x1 pixel: load, tree build, one pixel, writing; median of $reps runs)"
echo
echo "| size | MB (10^6 bytes) | load s (INFO silenced) | MB/s | load s (default logging to file) | MB/s |"
echo "|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${load_rows[@]}"
echo
echo "## vortan's own counters (first run of each size and thread count)"
echo
echo "\"Time taken\" is the frame loop's time as the renderer logs it; wall minus it"
echo "approximates start-up, loading, tree build and writing."
echo
echo "| size | threads | wall s | Time taken s | wall - Time taken s | Triangles intersected |"
echo "|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${stat_rows[@]}"
if [ "$have_embree" = 1 ]; then
    echo
    echo "## Embree limit (embree_limit --reps 3 --whitted)"
    echo
    echo '```'
    printf '%s' "$embree_text"
    echo '```'
fi
if [ ${#notes[@]} -gt 0 ]; then
    echo
    echo "## Notes"
    echo
    printf -- '- %s\n' "${notes[@]}"
fi
echo
echo "Logs and timings: $out/<size>/logs/"
