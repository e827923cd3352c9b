#!/usr/bin/env bash
# The longer fuzzing run: every libFuzzer target (or the one named) for the
# given seconds each, two at a time (MANTLET_FUZZ_JOBS), under ASan and UBSan, from the committed
# seeds plus what earlier runs found (build/fuzz/fuzz-corpus/<target>).
#   scripts/run-fuzz.sh                 300 s a target
#   scripts/run-fuzz.sh 60              60 s a target
#   scripts/run-fuzz.sh 600 share_list  only the targets whose name contains the word
# Inputs that break a property land in build/fuzz/findings/<target>/; logs in
# build/fuzz/logs/. Exits non-zero when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-300}
filter=${2:-}
jobs=${MANTLET_FUZZ_JOBS:-2}
scripts/setup.sh

cmake -S . -B build/fuzz -G Ninja -Wno-dev -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DMANTLET_FUZZ=ON >/dev/null
cmake --build build/fuzz -j 2

out=$root/build/fuzz
mkdir -p "$out/logs"
targets=()
for src in tests/fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  [[ -z $filter || $name == *"$filter"* ]] && targets+=("$name")
done
((${#targets[@]})) || { echo "run-fuzz: no target matches '$filter'" >&2; exit 2; }
echo "run-fuzz: ${#targets[@]} targets, ${seconds} s each, $jobs at a time" >&2

run_one() { # the status goes to a file: jobs reaped by `wait -n` keep none
  local name=$1 status=0
  tests/fuzz/run_fuzzer.sh "$out/tests/$name" "$seconds" "$out/fuzz-corpus/$name" \
    "tests/fuzz/corpus/$name" "$out/findings/$name" >"$out/logs/$name.log" 2>&1 || status=$?
  echo "$status" >"$out/logs/$name.status"
}

for name in "${targets[@]}"; do
  rm -f "$out/logs/$name.status"
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  run_one "$name" &
done
wait

failed=0
printf '%-22s %10s %8s %8s %8s  %s\n' target runs exec/s cov corpus result
for name in "${targets[@]}"; do
  status=$(cat "$out/logs/$name.status" 2>/dev/null || echo 1)
  log=$out/logs/$name.log
  runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -o '[0-9]*$' || true)
  speed=$(grep -oE 'stat::average_exec_per_sec: *[0-9]+' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | grep -oE '[0-9]+' || true)
  corpus=$(find "$out/fuzz-corpus/$name" -type f | wc -l)
  if ((status == 0)); then
    result=ok
  else
    result="FOUND: $(grep -m1 -oE 'Test unit written to .*' "$log" || echo "exit $status, see $log")"
    failed=1
  fi
  printf '%-22s %10s %8s %8s %8s  %s\n' "$name" "${runs:--}" "${speed:--}" "${cov:--}" "$corpus" "$result"
done
exit "$failed"
