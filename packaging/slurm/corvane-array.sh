#!/bin/bash
# corvane-array.sh - a Slurm array job that converts one shard of input directories per
# array task: /srv/corvane/<shard>/input into /srv/corvane/<shard>/output, on a file
# system that every node mounts. Submit it every 15 minutes from one host, e.g. from cron:
#   2-59/15 * * * * corvane sbatch --dependency=singleton /opt/corvane/share/doc/corvane/slurm/corvane-array.sh
# --dependency=singleton holds a new array back until the previous one with the same job
# name has ended, so no shard is ever converted by two runs at once.
#SBATCH --job-name=corvane
#SBATCH --array=0-3
#SBATCH --cpus-per-task=4
#SBATCH --mem=1G
#SBATCH --output=/var/log/corvane/%x-%A_%a.log
set -u

shards=(north south east west)
shard=${shards[$SLURM_ARRAY_TASK_ID]}
exec /opt/corvane/bin/corvane -t "$SLURM_CPUS_PER_TASK" \
    -c /opt/corvane/config/corvane.conf \
    -i "/srv/corvane/$shard/input" -o "/srv/corvane/$shard/output"
