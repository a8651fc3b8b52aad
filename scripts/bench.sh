#!/usr/bin/env bash
# Benchmark against the peer tools (not part of the tests): whole-process
# wall time and peak memory of vortan and POV-Ray on the reference scene,
# scene loading throughput, and the Embree ray-casting limit.
#
#   scripts/bench.sh [--sizes "1k 10k 100k 1M"] [--reps 3] [--threads "1 2"]
#                    [--accel "embree kdtree"]
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
accels="embree kdtree"
usage() {
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
}
while [ $# -gt 0 ]; do
    case "$1" in
        --sizes) sizes=${2:?--sizes needs a value}; shift 2 ;;
        --reps) reps=${2:?--reps needs a value}; shift 2 ;;
        --threads) threads=${2:?--threads needs a value}; shift 2 ;;
        --accel) accels=${2:?--accel needs a value}; shift 2 ;;
        -h|--help) usage; exit 0 ;;
        *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done
case "$reps" in ''|*[!0-9]*|0) echo "--reps must be a positive integer" >&2; exit 2 ;; esac
for t in $threads; do
    case "$t" in ''|*[!0-9]*|0) echo "--threads must list positive integers" >&2; exit 2 ;; esac
done
for a in $accels; do
    case "$a" in embree|kdtree|none) ;; *) echo "--accel must list embree, kdtree or none" >&2; exit 2 ;; esac
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
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORTAN_TESTS=OFF -DVORTAN_BENCH=ON >/dev/null
cmake --build build-bench -j "$cores" --target vortan rendering >/dev/null
vortan="$root/build-bench/vortan"
# The ray-query benchmark times the harness's primary and shadow rays
# through the renderer's own queries (when Google Benchmark is installed).
queries_bench="$root/build-bench/bench/rendering_bench"
cmake --build build-bench -j "$cores" --target rendering_bench >/dev/null 2>&1 || queries_bench=""
[ -x "$queries_bench" ] || { queries_bench=""; note "rendering_bench not built: ray query rows skipped"; }

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
rate_rows=()
embree_text=""
# the embree harness's whole ray tree on one thread, Mrays/s, by size
declare -A limit_rate

# field NAME FILE: the value of "NAME value" in an embree_limit output.
field() { awk -v k="$1" '$1 == k { print $2 }' "$2" 2>/dev/null | tail -n 1; }

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

    # -- Embree limit first: its ray rate is the yardstick of the rows below
    if [ "$have_embree" = 1 ]; then
        echo "== $n: embree_limit" >&2
        if "$embree" "$dir/bench.tri" "$dir/bench.view" --reps 3 --whitted >"$logs/embree.txt" 2>&1; then
            embree_text+="### $n"$'\n'$(cat "$logs/embree.txt")$'\n'
            limit_rate[$n]=$(field whitted_1t_mrays "$logs/embree.txt")
        else
            note "embree_limit failed on $n (see $logs/embree.txt)"
        fi
    fi

    # -- whole renders, alternating: each accelerator with default logging
    # and with -q, then POV-Ray
    for t in $threads; do
        for r in $(seq 1 "$reps"); do
            for a in $accels; do
                echo "== $n, $t thread(s), run $r/$reps: vortan ($a)" >&2
                vortan_run "$dir" "$root/$logs/vortan_${a}_t${t}_r$r.log" \
                    "$root/$logs/vortan_${a}_t${t}_r$r.time" bench.ass "VORTAN_THREADS=$t" "VORTAN_ACCEL=$a"
                vortan_run "$dir" "$root/$logs/vortanq_${a}_t${t}_r$r.log" \
                    "$root/$logs/vortanq_${a}_t${t}_r$r.time" bench.ass "VORTAN_THREADS=$t" "VORTAN_ACCEL=$a" \
                    GLOG_minloglevel=1
            done
            if [ "$have_pov" = 1 ]; then
                echo "== $n, $t thread(s), run $r/$reps: povray" >&2
                pov_run "$dir" "$t" "$root/$logs/pov_t${t}_r$r.log" "$root/$logs/pov_t${t}_r$r.time"
            fi
        done
        if [ "$have_pov" = 1 ]; then
            pw=$(cat "$logs"/pov_t"$t"_r*.time 2>/dev/null | awk '{ print $1 }' | median)
            pm=$(cat "$logs"/pov_t"$t"_r*.time 2>/dev/null | awk '{ print $2 / 1024 }' | median)
        else
            pw=- pm=-
        fi
        for a in $accels; do
            vw=$(cat "$logs"/vortan_"$a"_t"$t"_r*.time 2>/dev/null | awk '{ print $1 }' | median)
            vq=$(cat "$logs"/vortanq_"$a"_t"$t"_r*.time 2>/dev/null | awk '{ print $1 }' | median)
            vm=$(cat "$logs"/vortan_"$a"_t"$t"_r*.time 2>/dev/null | awk '{ print $2 / 1024 }' | median)
            render_rows+=("| $n | $t | $a | $vw | $vq | $pw | $(div "$vw" "$pw") | $(div "$vq" "$pw") | $vm | $pm |")
            # Counters of the first run, to derive time per ray.
            first="$logs/vortan_${a}_t${t}_r1.log"
            taken=$(sed -n 's/.*Time taken: \([0-9.eE+-]*\)s.*/\1/p' "$first" | tail -n 1)
            tris=$(sed -n 's/.*Triangles intersected: \([0-9]*\).*/\1/p' "$first" | tail -n 1)
            queries=$(sed -n 's/.*Ray queries answered by Embree: \([0-9]*\).*/\1/p' "$first" | tail -n 1)
            w1=$(awk '{ print $1 }' "$logs/vortan_${a}_t${t}_r1.time" 2>/dev/null || true)
            rest=$(awk -v w="$w1" -v k="$taken" 'BEGIN {
                if (w == "" || k == "") print "-"; else printf "%.2f\n", w - k }')
            stat_rows+=("| $n | $t | $a | ${w1:--} | ${taken:--} | $rest | ${tris:--} | ${queries:--} |")
            if [ -n "$queries" ] && [ -n "$taken" ]; then
                rate=$(div "$queries" "$(div "$taken" 1e-6 %.6f)" %.3f)
                ns=$(div "$(div "$taken" 1e-9 %.3f)" "$queries" %.1f)
                lim=${limit_rate[$n]:-}
                rate_rows+=("| $n | $t | $a | $queries | $taken | $rate | $ns | ${lim:--} | $( [ "$t" = 1 ] && div "$rate" "${lim:--}" || echo -) |")
            fi
        done
    done

    # -- loading alone, INFO silenced and default logging, alternating
    for a in $accels; do
        for r in $(seq 1 "$reps"); do
            echo "== $n, load run $r/$reps ($a)" >&2
            vortan_run "$dir" "$root/$logs/load_quiet_${a}_r$r.log" "$root/$logs/load_quiet_${a}_r$r.time" \
                bench_load.ass GLOG_minloglevel=1 "VORTAN_ACCEL=$a"
            vortan_run "$dir" "$root/$logs/load_info_${a}_r$r.log" "$root/$logs/load_info_${a}_r$r.time" \
                bench_load.ass "VORTAN_ACCEL=$a"
        done
        bytes=$(wc -c <"$dir/bench.ass")
        mb=$(awk -v b="$bytes" 'BEGIN { printf "%.6f\n", b / 1e6 }')
        lq=$(cat "$logs"/load_quiet_"$a"_r*.time 2>/dev/null | awk '{ print $1 }' | median)
        li=$(cat "$logs"/load_info_"$a"_r*.time 2>/dev/null | awk '{ print $1 }' | median)
        load_rows+=("| $n | $a | $(div "$mb" 1 %.2f) | $lq | $(div "$mb" "$lq" %.1f) | $li | $(div "$mb" "$li" %.1f) |")
    done
done

# ---- ray queries on the harness's rays -------------------------------
# One thread, the primary ray of every pixel and the shadow rays of every
# primary hit, through World::intersect and World::occluded.
query_rows=()
if [ -n "$queries_bench" ]; then
    scenes=""
    for n in $sizes; do scenes+="$root/$out/$n/bench.ass:"; done
    for a in $accels; do
        [ "$a" = none ] && continue
        echo "== ray queries ($a)" >&2
        json="$out/queries_$a.json"
        if VORTAN_ACCEL=$a VORTAN_THREADS=1 VORTAN_BENCH_SCENES="$scenes" "$queries_bench" \
            --benchmark_filter='BM_(Primary|Shadow)Rays' --benchmark_format=json >"$json" 2>/dev/null; then
            while read -r n p s; do
                hp=$(field primary_1t_mrays "$out/$n/logs/embree.txt")
                hs=$(field shadow_1t_mrays "$out/$n/logs/embree.txt")
                query_rows+=("| $n | $a | $p | ${hp:--} | $(div "$p" "${hp:--}") | $s | ${hs:--} | $(div "$s" "${hs:--}") | $(div 1000 "$p" %.0f) |")
            done < <(python3 -c '
import json, sys
rates = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    kind, size = b["name"].split("/")[:2]
    rates.setdefault(size, {})[kind] = b.get("rays/s", 0) / 1e6
for size in sys.argv[2:]:
    r = rates.get(size, {})
    if r:
        print(size, "%.3f" % r.get("BM_PrimaryRays", 0), "%.3f" % r.get("BM_ShadowRays", 0))
' "$json" $sizes)
        else
            note "rendering_bench failed under $a (see $json)"
        fi
    done
fi

# ---- report -------------------------------------------------------------
echo
echo "## Whole process, 640x480 (median of $reps runs, alternating; machine: $cores cores)"
echo
echo "\"-q\" is INFO silenced (GLOG_minloglevel=1, what vortan -q sets)."
echo
echo "| size | threads | accel | vortan wall s | vortan -q wall s | POV-Ray wall s | vortan/POV | vortan -q/POV | vortan peak MB | POV peak MB |"
echo "|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${render_rows[@]}"
echo
echo "## Loading (the scene at 1x1 pixel: load, tree build, one pixel, writing; median of $reps runs)"
echo
echo "| size | accel | MB (10^6 bytes) | load s (INFO silenced) | MB/s | load s (default logging to file) | MB/s |"
echo "|---:|---|---:|---:|---:|---:|---:|"
printf '%s\n' "${load_rows[@]}"
echo
echo "## vortan's own counters (first run of each size, thread count and accelerator)"
echo
echo "\"Time taken\" is the frame loop's time as the renderer logs it; wall minus it"
echo "approximates start-up, loading, tree build and writing. Under embree the"
echo "renderer counts ray queries instead of ray/triangle tests."
echo
echo "| size | threads | accel | wall s | Time taken s | wall - Time taken s | Triangles intersected | Ray queries |"
echo "|---:|---:|---|---:|---:|---:|---:|---:|"
printf '%s\n' "${stat_rows[@]}"
if [ ${#query_rows[@]} -gt 0 ]; then
    echo
    echo "## Ray queries on the harness's rays, one thread (rendering_bench BM_PrimaryRays, BM_ShadowRays)"
    echo
    echo "| size | accel | primary Mrays/s | harness primary Mrays/s | ratio | shadow Mrays/s | harness shadow Mrays/s | ratio | ns per primary ray |"
    echo "|---:|---|---:|---:|---:|---:|---:|---:|---:|"
    printf '%s\n' "${query_rows[@]}"
fi
if [ ${#rate_rows[@]} -gt 0 ]; then
    echo
    echo "## Ray queries under embree against the Embree harness (first run)"
    echo
    echo "vortan's rate is its ray queries over \"Time taken\" (shading included);"
    echo "the harness's is its whole depth-2 ray tree on one thread, no shading."
    echo
    echo "| size | threads | accel | queries | Time taken s | Mqueries/s | ns per query | harness Mrays/s (1T) | vortan/harness (1T) |"
    echo "|---:|---:|---|---:|---:|---:|---:|---:|---:|"
    printf '%s\n' "${rate_rows[@]}"
fi
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
