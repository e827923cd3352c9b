#!/bin/sh
# run_fuzzer.sh <fuzzer> <seconds> <work corpus dir> <seed corpus dir> [artifact dir]
# New inputs go to the work directory; the committed seeds are only read. An
# input that runs longer than 20 s counts as a hang and fails the run.
set -e
mkdir -p "$3"
artifacts=${5:-.}
mkdir -p "$artifacts"
exec "$1" -max_total_time="$2" -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$3" "$4"
