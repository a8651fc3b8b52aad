#!/usr/bin/env bash
# End-to-end test of scripts/vortan-slurm against a real Slurm. Starts munged,
# slurmctld and slurmd on this machine as one node, with their configuration,
# key, state and logs in a temporary directory, then:
#   - renders a two-frame sequence and a four-tile frame through Slurm and
#     checks that every picture equals, byte for byte, the one a plain vortan
#     run writes;
#   - kills a tile task in the middle of its render, checks that neither the
#     tile nor the frame exists under its final name, requeues the task and
#     checks that the frame then completes, equal to the plain render;
#   - prints the timings: Slurm's delay from submission to the first task,
#     and the wall time of the four-tile render against one vortan process on
#     as many threads.
# Runs as root (the daemons do, and slurm-wlm and munge are installed if
# missing). The daemons are stopped by their process ids when the script
# ends, whether it passed or not. Exits non-zero on any failed check.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
. scripts/deps.sh

fail() {
    echo "test-slurm: FAIL: $*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "run as root: the Slurm daemons of the test run as root"
vortan_need_packages slurm-wlm munge python3 "${VORTAN_BASE_PACKAGES[@]}"
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target vortan rendering >/dev/null
vortan=$repo/build/vortan

# --- the cluster --------------------------------------------------------------

tmp=$(mktemp -d)
# munged insists that everyone may pass through the directories above its
# socket (and that no one else may write to them).
chmod 711 "$tmp"
daemons=()
ctld=

stop_cluster() {
    local status=$?
    set +e
    if [ -n "$ctld" ]; then
        # Jobs first, so that no job step outlives the daemons. SLURM_CONF
        # points the commands at the test's own controller.
        scancel --user=root >/dev/null 2>&1
        for _ in $(seq 50); do
            [ -z "$(squeue -h 2>/dev/null)" ] && break
            sleep 0.1
        done
    fi
    if [ ${#daemons[@]} -gt 0 ]; then
        if [ "$status" -ne 0 ]; then
            for log in slurmctld.log slurmd.log munged.log; do
                echo "--- last lines of $log" >&2
                # Without its "Unauthorized credential" notes: munged logs one
                # for nearly every message here, and Slurm works all the same.
                grep -v 'Unauthorized credential' "$tmp/log/$log" | tail -n 15 >&2
            done
        fi
        # slurmd, slurmctld, munged: the reverse of their start.
        local i
        for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
            kill "${daemons[i]}" 2>/dev/null
        done
        for pid in "${daemons[@]}"; do
            for _ in $(seq 50); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        done
    fi
    rm -rf "$tmp"
    exit "$status"
}
trap stop_cluster EXIT
trap 'exit 130' INT TERM

# Two free TCP ports, so the test neither meets nor disturbs another Slurm.
read -r ctld_port slurmd_port < <(python3 -c '
import socket
socks = [socket.socket() for _ in range(2)]
for s in socks:
    s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))')

mkdir -p "$tmp/log" "$tmp/state" "$tmp/spool" "$tmp/work"
mkdir -m 711 "$tmp/munge"
mungekey --create --keyfile="$tmp/munge/key"
munged --foreground --key-file="$tmp/munge/key" --socket="$tmp/munge/socket" \
    --pid-file="$tmp/munge/pid" --seed-file="$tmp/munge/seed" \
    >"$tmp/log/munged.log" 2>&1 &
daemons+=($!)

# The node as slurmd sees it (its name, CPUs, sockets, cores, memory).
node=$(slurmd -C | head -n 1)
host=$(sed -n 's/^NodeName=\([^ ]*\).*/\1/p' <<<"$node")
[ -n "$host" ] || fail "slurmd -C did not describe this machine: $node"
cpus=$(sed -n 's/.* CPUs=\([0-9]*\).*/\1/p' <<<"$node")
export SLURM_CONF=$tmp/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=vortantest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
# A requeued task may start again once the credential of its first run has
# expired (120 s by default).
AuthInfo=socket=$tmp/munge/socket,cred_expire=5
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/slurmctld.pid
SlurmdPidFile=$tmp/slurmd.pid
SlurmctldLogFile=$tmp/log/slurmctld.log
SlurmdLogFile=$tmp/log/slurmd.log
LogTimeFormat=iso8601_ms
# No systemd and no cgroups needed: processes are tracked through /proc.
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
MailProg=/bin/true
PlugStackConfig=$tmp/plugstack.conf
# Cores are the consumable resource (memory is not), so tasks of one CPU
# share the node; the scheduler (first come, first served: no backfilling
# needed) looks at the queue every second, and finished jobs stay visible
# to scontrol for five minutes.
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/builtin
SchedulerParameters=sched_interval=1
MinJobAge=300
ReturnToService=2
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
: >"$tmp/plugstack.conf"

for _ in $(seq 50); do
    [ -S "$tmp/munge/socket" ] && break
    sleep 0.1
done
[ -S "$tmp/munge/socket" ] || fail "munged did not start (see above)"
slurmctld -D -c >"$tmp/log/slurmctld.out" 2>&1 &
ctld=$!
daemons+=("$ctld")
slurmd -D -N "$host" >"$tmp/log/slurmd.out" 2>&1 &
daemons+=($!)
state=
for _ in $(seq 100); do
    state=$(sinfo -h -n "$host" -o %T 2>/dev/null || true)
    [ "$state" = idle ] && break
    sleep 0.1
done
[ "$state" = idle ] || fail "the node did not become idle (state: ${state:-none})"
echo "Slurm is up: node $host, $cpus CPUs, ports $ctld_port and $slurmd_port"

# --- helpers ------------------------------------------------------------------

now() { date +%s.%N; }

# Submits through vortan-slurm and prints its lines ("tiles 12", ...).
submit() {
    python3 scripts/vortan-slurm --vortan "$vortan" "$@" || fail "vortan-slurm $* failed"
}

# The job id of `kind` in vortan-slurm's output.
job_of() {
    local id
    id=$(awk -v k="$1" '$1 == k { print $2 }' <<<"$2")
    [ -n "$id" ] || fail "vortan-slurm printed no $1 job"
    echo "$id"
}

# The end of the logs of the jobs' tasks (the temporary directory goes when
# the script ends).
task_logs() {
    local job
    for job in ${1//,/ }; do
        tail -n 5 "$tmp"/work/*/.vortan-slurm/*-"$job"_*.log 2>/dev/null
    done
}

# Waits until none of the jobs (comma-separated) is pending or running, and
# fails unless every task of them completed. A job that waits for a job that
# failed would wait for ever: that fails at once.
wait_jobs() {
    local jobs=$1 queue
    for _ in $(seq 600); do
        queue=$(squeue -h -j "$jobs" -o '%i %T %r' 2>/dev/null || true)
        [ -z "$queue" ] && break
        grep -q DependencyNeverSatisfied <<<"$queue" &&
            fail "a job waits for a job that failed: $queue"$'\n'"$(task_logs "$jobs")"
        sleep 0.1
    done
    [ -z "$queue" ] || fail "jobs $jobs did not finish within a minute: $queue"
    local job states
    for job in ${jobs//,/ }; do
        states=$(scontrol -o show job "$job" | grep -o 'JobState=[A-Z_]*' | sort -u | tr '\n' ' ')
        [ "$states" = "JobState=COMPLETED " ] ||
            fail "the tasks of job $job ended as $states"$'\n'"$(task_logs "$job")"
    done
}

same() {
    cmp -s "$1" "$2" || fail "${1#"$tmp"/} differs from the plain render ${2#"$tmp"/}"
    echo "ok: ${1#"$tmp"/} equals the plain render"
}

# Scenes: the example scene at a small size, read from the temporary directory.
scene() { # scene NAME XRES YRES AA_SAMPLES FOV
    sed -e "s/^ xres .*/ xres $2/" -e "s/^ yres .*/ yres $3/" \
        -e "s/^ AA_samples .*/ AA_samples $4/" -e "s/^ fov .*/ fov $5/" \
        scenes/sampled.ass >"$tmp/scenes/$1.ass"
}
mkdir -p "$tmp/scenes" "$tmp/plain"
scene shot.0001 160 120 3 50
scene shot.0002 160 120 3 40
scene big 320 240 5 50
scene killed 160 120 8 50

# --- a sequence of two frames -------------------------------------------------

for f in shot.0001 shot.0002; do
    "$vortan" -q --no-report -o "$tmp/plain/$f.png" "$tmp/scenes/$f.ass"
done
! cmp -s "$tmp/plain/shot.0001.png" "$tmp/plain/shot.0002.png" ||
    fail "the two frames of the sequence are the same picture"
frames_submitted=$(now)
out=$(submit --cpus 1 -o "$tmp/work/seq/{name}.png" "$tmp/scenes/shot.####.ass")
frames=$(job_of frames "$out")
wait_jobs "$frames"
for f in shot.0001 shot.0002; do
    same "$tmp/work/seq/$f.png" "$tmp/plain/$f.png"
done

# --- one frame in four tiles ----------------------------------------------------

# Renders the big frame in four tiles of `per_task` CPUs through Slurm, and
# plainly on as many threads as the four tasks get on this node at once, and
# keeps the times of both in `timed`.
timed=()
four_tiles() { # four_tiles LABEL PER_TASK
    local label=$1 per_task=$2 threads plain_start plain_done submitted out tiles merge
    threads=$((cpus < 4 * per_task ? cpus : 4 * per_task))
    plain_start=$(now)
    "$vortan" -q --no-report --threads "$threads" -o "$tmp/plain/big.exr" "$tmp/scenes/big.ass"
    plain_done=$(now)
    submitted=$(now)
    out=$(submit --tiles 4 --cpus "$per_task" -o "$tmp/work/$label/big.exr" "$tmp/scenes/big.ass")
    tiles=$(job_of tiles "$out")
    merge=$(job_of merge "$out")
    wait_jobs "$tiles,$merge"
    timed+=("$label $per_task $threads $tiles $merge $plain_start $plain_done $submitted $(now)")
    same "$tmp/work/$label/big.exr" "$tmp/plain/big.exr"
    local leftover
    leftover=$(find "$tmp/work/$label/.vortan-slurm" -name '*.exr')
    [ -z "$leftover" ] || fail "the merge left its tiles behind: $leftover"
}
# Tiles side by side (a quarter of the node each, at least one CPU), then
# one after another (the whole node each).
four_tiles side-by-side $((cpus >= 8 ? cpus / 4 : 1))
four_tiles one-by-one "$cpus"

# --- a tile killed in the middle of its render, then requeued -------------------

"$vortan" -q --no-report -o "$tmp/plain/killed.exr" "$tmp/scenes/killed.ass"
out=$(submit --tiles 4 --cpus 1 -o "$tmp/work/killed/killed.exr" "$tmp/scenes/killed.ass")
ktiles=$(job_of tiles "$out")
kmerge=$(job_of merge "$out")
victim=${ktiles}_1
# Tiles carry the submission's stamp: killed.<stamp>.tile1.exr.
tile_dir=$tmp/work/killed/.vortan-slurm

# The task's own job id names its processes; kill its vortan once rendering.
pid=
for _ in $(seq 300); do
    id=$(squeue -h -j "$victim" -t RUNNING -o %A 2>/dev/null || true)
    if [ -n "$id" ]; then
        for p in $(scontrol listpids "$id" 2>/dev/null | awk 'NR > 1 { print $1 }'); do
            [ "$(cat "/proc/$p/comm" 2>/dev/null)" = vortan ] && pid=$p
        done
    fi
    [ -n "$pid" ] && break
    sleep 0.05
done
[ -n "$pid" ] || fail "task $victim did not start rendering"
sleep 0.2
kill -KILL "$pid" 2>/dev/null || fail "task $victim ended before it could be killed"
for _ in $(seq 300); do
    [ -z "$(squeue -h -j "$ktiles" 2>/dev/null || true)" ] && break
    sleep 0.1
done
scontrol -o show job "$victim" | grep -q 'JobState=FAILED' ||
    fail "the killed task did not fail: $(scontrol -o show job "$victim" | grep -o 'JobState=[A-Z_]*')"
echo "ok: task $victim killed while rendering"
[ -z "$(find "$tile_dir" -name 'killed.*.tile1.exr')" ] ||
    fail "the killed task left a tile under its final name"
[ ! -e "$tmp/work/killed/killed.exr" ] || fail "the frame exists though a tile is missing"
echo "ok: nothing under the final names of the tile and the frame"
# The merge waits for the tiles with afterok: once a tile has failed, Slurm
# keeps that dependency failed, even after the task has run again, until it
# is given anew.
for _ in $(seq 50); do
    reason=$(squeue -h -j "$kmerge" -o %r 2>/dev/null || true)
    [ "$reason" = DependencyNeverSatisfied ] && break
    sleep 0.1
done
echo "merge job $kmerge waits: ${reason:-not queued}; requeue task $victim and renew the merge's dependency"
scontrol requeue "$victim"
scontrol update jobid="$kmerge" dependency="afterok:${ktiles}_0:${ktiles}_1:${ktiles}_2:${ktiles}_3"
wait_jobs "$ktiles,$kmerge"
same "$tmp/work/killed/killed.exr" "$tmp/plain/killed.exr"

# --- timings ----------------------------------------------------------------------

# Slurm's log tells when each task started and ended, to the millisecond.
python3 - "$tmp/log/slurmctld.log" "$cpus" "$frames" "$frames_submitted" "${timed[@]}" <<'EOF' ||
import datetime
import re
import sys

log, cpus, frames, frames_submitted = sys.argv[1], int(sys.argv[2]), sys.argv[3], float(sys.argv[4])

start, end, width = {}, {}, {}
# "sched: Allocate JobId=12_3(15) NodeList=... #CPUs=1 ..." and "_job_complete: JobId=12_3(15) done"
line_re = re.compile(r"^\[([0-9T:.-]+)\] (?:sched: Allocate|_job_complete:) JobId=(\d+)(?:_(\d+))?\S*(.*)")
for line in open(log):
    m = line_re.match(line)
    if not m:
        continue
    t = datetime.datetime.strptime(m.group(1), "%Y-%m-%dT%H:%M:%S.%f").timestamp()
    task = (m.group(2), int(m.group(3) or 0))
    rest = m.group(4)
    if "#CPUs=" in rest:
        start[task] = t
        width[task] = int(re.search(r"#CPUs=(\d+)", rest).group(1))
    elif rest.strip() == "done":
        end[task] = t


def tasks_of(job):
    return sorted(k for k in start if k[0] == job)


print("Timings:")
print(f"  Slurm's delay from calling vortan-slurm to the first task: "
      f"{min(start[k] for k in tasks_of(frames)) - frames_submitted:.2f} s")
for run in sys.argv[5:]:
    label, per_task, threads, tiles, merge, *times = run.split()
    plain_start, plain_done, submitted, done = map(float, times)
    plain = plain_done - plain_start
    tile_tasks, merge_tasks = tasks_of(tiles), tasks_of(merge)
    tiles_end = max(end[k] for k in tile_tasks)
    # Scheduling: time in which a task could have run (submitted, its
    # dependency met, a CPU free for it) but had not been started yet.
    moments = sorted({submitted, done, *(start[k] for k in tile_tasks + merge_tasks),
                      *(end[k] for k in tile_tasks + merge_tasks)})
    waiting = 0.0
    for a, b in zip(moments, moments[1:]):
        mid = (a + b) / 2
        busy = sum(width[k] for k in tile_tasks + merge_tasks if start[k] <= mid < end[k])
        ready = [k for k in tile_tasks if mid < start[k]]
        ready += [k for k in merge_tasks if tiles_end <= mid < start[k]]
        if ready and busy + min(width[k] for k in ready) <= cpus:
            waiting += b - a
    wall = done - submitted
    print(f"  4 tiles of {per_task} CPU{'s' if per_task != '1' else ''} ({label}): {wall:.2f} s in all, "
          f"{waiting:.2f} s of it Slurm's scheduling, {wall - waiting:.2f} s beyond it; the tasks took "
          + ", ".join(f"{end[k] - start[k]:.2f}" for k in tile_tasks)
          + f" s, the merge {sum(end[k] - start[k] for k in merge_tasks):.2f} s")
    print(f"    one vortan process on {threads} threads: {plain:.2f} s; "
          f"ratio beyond the scheduling {(wall - waiting) / plain:.2f} (goal: at most 1.25)")
EOF
    echo "test-slurm: the timings could not be read from Slurm's log" >&2
echo "test-slurm: all checks passed"
