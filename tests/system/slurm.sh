#!/usr/bin/env bash
# slurm.sh - the Slurm array job of packaging/slurm, run on a one-node cluster that the
# test starts for itself: munged with a key of its own, slurmctld and slurmd in the
# foreground, its own configuration, ports and directories. Four shards of the bundled
# example must give example/expected with their inputs gone and a log that ends with
# every file converted; a second array of the same name must wait while the first has
# not ended; a failing run must leave its exit status with Slurm. Skipped (status 77)
# when not root or without the Debian packages slurm-wlm and munge.
#
# Usage: slurm.sh <corvane binary> <source directory>
set -uo pipefail
source "$(dirname "$0")/lib.sh"

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: the Slurm daemons of the test cluster must run as root"
    exit 77
fi
for command in mungekey munged slurmctld slurmd sbatch scontrol squeue scancel; do
    if ! command -v "$command" >/dev/null; then
        echo "SKIP: $command is not installed (Debian packages slurm-wlm and munge)"
        exit 77
    fi
done
source=$(readlink -f "$2")
setup slurm "$1"
export SLURM_CONF=$work/slurm.conf
daemons=()
on_exit() {
    local i tries
    # A reader that went away must not cut the cleanup short.
    trap '' PIPE
    # A job's processes belong to a slurmstepd, which outlives slurmd.
    if [ ${#daemons[@]} = 3 ] && running "${daemons[1]}"; then
        scancel --user=root 2>/dev/null
        within 10 no_jobs
    fi
    [ "$failures" = 0 ] || tail -n 5 "$work"/*.daemon.log
    for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
        kill -TERM "${daemons[i]}" 2>/dev/null
        for ((tries = 50; tries > 0; tries--)); do
            running "${daemons[i]}" || break
            sleep 0.1
        done
        kill -KILL "${daemons[i]}" 2>/dev/null
        wait "${daemons[i]}"
    done
}
# The daemons must go on any end of the test, not only on its own exit.
trap 'exit 1' HUP INT PIPE TERM

# running <pid>: the process has not ended; a daemon that has stays a zombie until waited for.
running() { local state; read -r _ _ state _ 2>/dev/null <"/proc/$1/stat" && [ "$state" != Z ]; }

# within <seconds> <command...>: runs the command every 0.1 s until it succeeds; fails at
# once when a daemon has ended.
within() {
    local tries=$(($1 * 10)) daemon
    shift
    for ((; tries > 0; tries--)); do
        "$@" && return 0
        for daemon in "${daemons[@]}"; do
            running "$daemon" || return 1
        done
        sleep 0.1
    done
    return 1
}

# start <name> <command...>: a daemon in the background, its output in <name>.daemon.log.
start() {
    local name=$1
    shift
    "$@" >"$work/$name.daemon.log" 2>&1 &
    daemons+=($!)
}

no_jobs() { local jobs; jobs=$(squeue --noheader 2>/dev/null) && [ -z "$jobs" ]; }
node_idle() { [ "$(sinfo --noheader --format=%t 2>/dev/null)" = idle ]; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# tasks <job>: "task state exit-code" of each task of the array, in task order.
tasks() {
    scontrol show job --oneliner "$1" |
        sed -E 's/.* ArrayTaskId=([0-9]+) .* JobState=([A-Z_]+) .* ExitCode=([0-9:]+) .*/\1 \2 \3/' |
        sort -n
}
held_back() { scontrol show job "$second" | grep -q 'Reason=Dependency'; }

# A key of its own, so that no other munged or cluster of this host can talk to ours.
mkdir -m 755 munge
mungekey --create --keyfile=munge/key || stop "mungekey failed"
# --force: munged would refuse a socket below the private work directory.
start munged munged --foreground --force --key-file=munge/key --socket="$work/munge/socket" \
    --pid-file="$work/munge/pid" --log-file="$work/munge/log" --seed-file="$work/munge/seed"
within 10 test -S munge/socket || stop "munged did not start"

# Two free ports below the ephemeral range, in case a Slurm of the host's own is running.
port=$((20000 + RANDOM % 10000))
while listening "$port" || listening $((port + 1)); do
    port=$((port + 2))
done
host=$(hostname -s)
mkdir state spool
cat >"$SLURM_CONF" <<CONF
ClusterName=corvanetest
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
# Without it the scheduler waits 3 s between rounds; the tasks take less than that.
SchedulerParameters=batch_sched_delay=0
$(slurmd -C | sed -n 1p) NodeAddr=127.0.0.1
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
start slurmctld slurmctld -D
start slurmd slurmd -D
within 20 node_idle || stop "the node did not come up"

shards=(north south east west)
mkdir -p shards/metrics
for ((i = 0; i < ${#shards[@]}; i++)); do
    mkdir -p "shards/${shards[i]}/input" "shards/${shards[i]}/output" "task$i"
    cp "$source"/example/input/* "shards/${shards[i]}/input/"
done

# The production paths give way to the test's; one CPU a task fits any node.
export CORVANE_ROOT=$work/shards CORVANE_BIN=$binary CORVANE_CONFIG=$source/example/corvane.conf
script=$source/packaging/slurm/corvane-array.sh
first=$(CORVANE_SHARDS="${shards[*]}" sbatch --parsable --hold --cpus-per-task=1 \
    --output="$work/task%a/log" "$script") || stop "sbatch refused the array job"
# A second run is due while the first waits: one shard, without directories, and a task
# that has no shard.
second=$(CORVANE_SHARDS=missing sbatch --parsable --array=0-1 --cpus-per-task=1 \
    --output="$work/second-%a.log" "$script") || stop "sbatch refused the second run"
within 10 held_back || fail "the second run was not held back by the first: $(tasks "$second")"
scontrol release "$first"
within 20 no_jobs || stop "the jobs did not end: $(squeue)"

expected=$(printf '%s COMPLETED 0:0\n' 0 1 2 3)
[ "$(tasks "$first")" = "$expected" ] || fail "the tasks did not all succeed: $(tasks "$first")"
[ "$(tasks "$second")" = $'0 FAILED 1:0\n1 FAILED 2:0' ] ||
    fail "the failures of the second run did not reach Slurm: $(tasks "$second")"

files=$(ls "$source/example/input" | wc -l)
for ((i = 0; i < ${#shards[@]}; i++)); do
    case_name=${shards[i]} run=$work/task$i
    diff -rq "$source/example/expected" "shards/${shards[i]}/output" || fail "the output differs"
    [ -z "$(ls -A "shards/${shards[i]}/input")" ] || fail "input files were left"
    [[ $(tail -n 1 "$run/log" 2>/dev/null) == *"Info ($files/$files) Prozesse erfolgreich konvertiert" ]] ||
        fail "the log does not end with every file converted"
    grep -q "^corvane_run_exit_status{input_dir=\"$work/shards/${shards[i]}/input\"} 0\$" \
        "shards/metrics/corvane-${shards[i]}.prom" || fail "no metrics file of the shard"
done
passed "${#shards[@]} shards converted by a Slurm array job; a second run waited and failed"
