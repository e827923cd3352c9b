#!/usr/bin/env bash
# Runs every benchmark in the simulated guest and prints one table: each
# figure against its baseline measured in the same run, the ratio and the aim;
# then the steps of a command's road, timed one by one (latency_steps_bench).
#   scripts/run-bench.sh              all of them (about 6 minutes)
#   scripts/run-bench.sh latency      only those whose program name contains the word
# Ratios are taken within one run; on a shared machine run it more than once
# to see their spread (the load average is printed with the table).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
filter=${1:-}
scripts/setup.sh

cmake -S . -B build/win64 -G Ninja -Wno-dev -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j "$(nproc)"
cmake --build build/win64 -j "$(nproc)" --target benchmarks

state=$root/build/bench
mkdir -p "$state/logs"
env_script=testenv/scripts/wineenv.sh
"$env_script" up "$state/wine" "$root/build/win64/bin"
trap '"$env_script" down "$state/wine" >/dev/null' EXIT

rows=()
steps=()
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for program in "$root"/build/win64/bin/*_bench.exe; do
  name=$(basename "$program" .exe)
  [[ -z $filter || $name == *"$filter"* ]] || continue
  echo "bench: $name ..." >&2
  log=$state/logs/$name.log
  if "$env_script" run "$state/wine" "$program" >"$log" 2>&1; then
    # Wine's C runtime ends the lines with CR LF.
    while IFS= read -r line; do rows+=("${line#BENCH }"); done < <(grep -a '^BENCH ' "$log" | tr -d '\r')
    while IFS= read -r line; do steps+=("${line#STEP }"); done < <(grep -a '^STEP ' "$log" | tr -d '\r')
  else
    rows+=("$name | failed, see $log | | | ")
  fi
done

echo
echo "| measurement | figure | baseline (same run) | ratio | aim |"
echo "|---|---|---|---|---|"
for row in "${rows[@]}"; do echo "| $row |"; done
if ((${#steps[@]})); then
  echo
  echo "| step of a command (timed alone) | median | 90th percentile | what |"
  echo "|---|---|---|---|"
  for row in "${steps[@]}"; do echo "| $row |"; done
fi
echo
echo "load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
echo "details: $state/logs/"
