#!/bin/bash
# corvane-array.sh - a Slurm array job: task N converts shard N of CORVANE_SHARDS,
# CORVANE_ROOT/<shard>/input into CORVANE_ROOT/<shard>/output, on a file system that every
# node mounts. CORVANE_ERROR_DIR and CORVANE_MIN_AGE, when set, are passed as -e and -a:
# an absolute error directory is shared by every shard, a relative one (e.g. "failed") is
# taken within each shard's directory and must exist there. Every node needs the program
# and configuration at the same paths and the user with the same uid. Submit it every 15
# minutes from one host, as the one user that owns the shards (here corvane), e.g. from
# /etc/cron.d:
#   2-59/15 * * * * corvane squeue --me --name=corvane --states=PENDING --noheader | grep -q . || sbatch --quiet /opt/corvane/share/doc/corvane/slurm/corvane-array.sh
# --quiet keeps cron from mailing the job id of every run; only errors reach MAILTO. The
# squeue test skips a submission while a run is still waiting: without it a stalled
# cluster collects a new run every 15 minutes.
#
# Every option below can be overridden on the sbatch command line. Keep --array at
# 0-(number of shards - 1): a shard without a task is never converted. --cpus-per-task
# must fit on one node of the partition, or the job waits for ever (PartitionConfig).
#
# singleton holds a new array back until every earlier job of the same name and user
# has ended, so no shard is converted by two runs at once (corvane's own lock on the input
# directory may not reach other nodes); it is here rather than on the cron line so that a
# run submitted by hand keeps to that rule too. Singleton is per user: submit every run
# as the same user. no-requeue: Slurm
# would start a task again elsewhere when its node stops answering, while the first
# instance may still be converting the shard there; the next regular run takes over.
# The log: one file per shard index, appended to by every run, so the logrotate file
# for /var/log/corvane/*.log applies. Slurm does not create the directory: it must exist
# on every node and be writable by the user, otherwise each task fails before it
# starts (exit code 0:53, reason JobLaunchFailure) and leaves no log at all.
# The figures of each run for monitoring: one file per shard, corvane-<shard>.prom, in
# CORVANE_METRICS_DIR (default CORVANE_ROOT/metrics; empty: none). A task runs on any node,
# so the directory is on the shared file system, and one node exporter (on one host) reads
# it with --collector.textfile.directory; a node's own textfile directory would keep the
# file of the last run that happened to run there. The directory must exist.
#SBATCH --job-name=corvane
#SBATCH --dependency=singleton
#SBATCH --no-requeue
#SBATCH --array=0-3
#SBATCH --cpus-per-task=4
#SBATCH --mem=1G
#SBATCH --output=/var/log/corvane/%x-%a.log
#SBATCH --open-mode=append
set -u

# Site settings; sbatch passes the submitting environment on, so these can be set there.
root=${CORVANE_ROOT:-/srv/corvane}
binary=${CORVANE_BIN:-/opt/corvane/bin/corvane}
config=${CORVANE_CONFIG:-/opt/corvane/config/corvane.conf}
read -r -a shards <<<"${CORVANE_SHARDS:-north south east west}"
error_dir=${CORVANE_ERROR_DIR:-}
min_age=${CORVANE_MIN_AGE:-}
metrics_dir=${CORVANE_METRICS_DIR-$root/metrics}

# The log lines keep corvane's own form; after exec, $$ is corvane's parent.
log() { echo "[$$] $(date '+%Y.%m.%d %H:%M:%S') $*" >&2; }

task=${SLURM_ARRAY_TASK_ID:-}
if [[ ! $task =~ ^[0-9]+$ ]]; then
    log "ERROR: not an array task: submit this script with sbatch"
    exit 2
fi
if ((task >= ${#shards[@]})); then
    log "ERROR: array task $task has no shard; the ${#shards[@]} shards are: ${shards[*]}"
    exit 2
fi
shard=${shards[task]}

# -t takes at most 20; more CPUs than that would make corvane refuse to start.
workers=${SLURM_CPUS_PER_TASK:-1}
((workers > 20)) && workers=20

# -e and -a only when asked for; corvane checks the values and refuses bad ones.
options=()
if [ -n "$error_dir" ]; then
    [[ $error_dir == /* ]] || error_dir=$root/$shard/$error_dir
    options+=(-e "$error_dir")
fi
[ -n "$min_age" ] && options+=(-a "$min_age")
[ -n "$metrics_dir" ] && options+=(-m "$metrics_dir/corvane-$shard.prom")

log "INFO: Slurm job ${SLURM_ARRAY_JOB_ID:-?}_$task on $(hostname -s): shard $shard"
# exec: corvane's exit status becomes the task's, which Slurm records and reports (3: the
# shard's input directory was busy with another run).
exec "$binary" -t "$workers" -c "$config" -i "$root/$shard/input" -o "$root/$shard/output" \
    "${options[@]}"
