#!/bin/sh
# run_fuzzer.sh <fuzzer> <seconds> <work corpus dir> <seed corpus dir>
# New inputs go to the work directory; the committed seeds are only read.
set -e
mkdir -p "$3"
exec "$1" -max_total_time="$2" -print_final_stats=1 "$3" "$4"
