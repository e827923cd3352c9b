#!/usr/bin/env bash
# The main job: a simulated guest (Wine prefix under Xvfb, the tools device
# stand-in, the host stand-in with the real Mantlet.dll) plays a scenario
# and prints an account of what happened.
#   scripts/run-guest.sh [scenario file]      default: scenarios/default.scenario
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scenario=$(realpath "${1:-scenarios/default.scenario}")
scripts/setup.sh

[[ -f build/win64/CMakeCache.txt ]] ||
  cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j "$(nproc)" --target guestsim Mantlet mantlet_host mantletctl cvn_tg toolsdev_service \
  shell_standin cvfnp activedesktop_standin

state=$root/build/guest
out=$state/out
rm -rf "$out"
mkdir -p "$out"
env_script=testenv/scripts/wineenv.sh
# The guest's screen is a Wine virtual desktop, so that screenshots show it
# (testenv/scripts/prefix.d/15-virtual-desktop.sh says why only here).
export MANTLET_VIRTUAL_DESKTOP=1
"$env_script" up "$state/wine" "$root/build/win64/bin"
trap '"$env_script" down "$state/wine" >/dev/null' EXIT

# Wine shows the Linux file system as drive Z:.
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
set +e
"$env_script" run "$state/wine" "$root/build/win64/bin/guestsim.exe" "$(windows_path "$scenario")" \
  "$(windows_path "$out/account.txt")" 2>"$out/guest-stderr.txt"
status=$?
set -e
# Screenshots as PNG for anything that shows pictures.
for bmp in "$out"/*.bmp; do
  [[ -e $bmp ]] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
sed -i 's/\.bmp\b/.png/' "$out/account.txt"
cat "$out/account.txt"
echo
echo "account: $out/account.txt"
exit "$status"
