#!/usr/bin/env bash
# xslt_convert.sh - converts measCollec files with measCollec.xsl under xsltproc, one
# xsltproc process per file (XSLT 1.0 cannot see the name of its input file, so the
# date and time group of the name is handed over as a parameter).
#
# Usage: xslt_convert.sh <absolute output directory> <input file>...
set -euo pipefail

stylesheet="$(cd "$(dirname "$0")" && pwd)/measCollec.xsl"
outdir=$1
shift

status=0
for input in "$@"; do
    name=${input##*/}
    # The greedy ".*" makes the last _yyyyMMdd_hhmm group of the name count, as in corvane.
    if [[ ! $name =~ ^.*_([0-9]{8})_([0-9]{4}) ]]; then
        echo "xslt_convert.sh: $input: no _yyyyMMdd_hhmm group in the name" >&2
        status=1
        continue
    fi
    stamp=${BASH_REMATCH[1]}${BASH_REMATCH[2]}
    xsltproc --nonet --stringparam stamp "$stamp" --stringparam outdir "$outdir" \
        "$stylesheet" "$input" || status=1
done
exit "$status"
