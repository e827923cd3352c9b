#!/usr/bin/env bash
# Runs every test: the format check, the Windows-free units natively under
# ASan/UBSan and as 32-bit programs under UBSan, the 32-bit build, and the 64-bit build with its unit, component,
# end-to-end and scenario suites under Wine.
#   scripts/run-tests.sh            everything
#   scripts/run-tests.sh -L e2e     only the Windows-side suites with that label
#   MANTLET_FUZZ_SECONDS=60 scripts/run-tests.sh   fuzz longer (scripts/run-fuzz.sh: only fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh

jobs=$(nproc)
section() { printf '\n=== %s ===\n' "$*"; }
configure() { # dir options...
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -Wno-dev "$@" >/dev/null
}
ctest_args=("$@")

section "size"
scripts/count-lines.py

section "format"
mapfile -t sources < <(git ls-files -- '*.cpp' '*.h' '*.c' 2>/dev/null || true)
if ((${#sources[@]})); then
  clang-format --dry-run -Werror "${sources[@]}"
fi

if ((${#ctest_args[@]} == 0)); then
  section "native units (ASan + UBSan)"
  configure build/native -DMANTLET_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
  cmake --build build/native -j "$jobs"
  ctest --test-dir build/native --output-on-failure -j "$jobs"

  section "native units, 32-bit (UBSan, under qemu-i386)"
  configure build/native32 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake -DMANTLET_UBSAN=ON \
    -DCMAKE_BUILD_TYPE=Debug
  cmake --build build/native32 -j "$jobs"
  ctest --test-dir build/native32 --output-on-failure -j "$jobs"

  section "fuzzing (${MANTLET_FUZZ_SECONDS:-10} s a target, ASan + UBSan)"
  configure build/fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMANTLET_FUZZ=ON \
    -DMANTLET_FUZZ_SECONDS="${MANTLET_FUZZ_SECONDS:-10}"
  cmake --build build/fuzz -j "$jobs"
  ctest --test-dir build/fuzz --output-on-failure -j "$jobs"

  section "32-bit Windows build"
  configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DMANTLET_TESTS=OFF -DMANTLET_TESTENV=OFF
  cmake --build build/win32 -j "$jobs" --target Mantlet mantletctl
fi

section "64-bit Windows build and the suites under Wine"
configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
cmake --build build/win64 -j "$jobs"
# The module echoes its log to standard error; the suites' own results are
# what ctest shows, and each failing suite's full output is in the log file.
# Three at a time: two suites, each in a prefix of its own, and the short
# ones that need none (the suites mostly wait on the guest, not the CPU).
ctest --test-dir build/win64 -j 3 --output-on-failure "${ctest_args[@]}" | grep -vE '^[0-9]{2}-[0-9]{2} [0-9:.]{12} '
status=${PIPESTATUS[0]}
echo "full output: $root/build/win64/Testing/Temporary/LastTest.log"
exit "$status"
