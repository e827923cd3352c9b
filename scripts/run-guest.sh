#!/usr/bin/env bash
# The main job: a simulated guest (Wine prefix under Xvfb, the tools device
# stand-in, the host stand-in with the real Mantlet.dll) plays a scenario and
# writes an account of what happened: build/guest/out/account.txt and
# account.html (one page, screenshots inside), with the screenshots as PNG.
#   scripts/run-guest.sh [scenario file]      default: scenarios/default.scenario
# Exits 0 when every step passed, 1 when a step failed, other values when the
# guest could not be brought up.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scenario=$(realpath "${1:-scenarios/default.scenario}")
scripts/setup.sh
started=$(date +%s)

[[ -f build/win64/CMakeCache.txt ]] ||
  cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
cmake --build build/win64 -j "$(nproc)" --target guestsim Mantlet mantlet_host mantletctl cvn_tg \
  toolsdev_service shell_standin cvfnp activedesktop_standin distributor notifplat notifplat_ps \
  glimmeredu

state=$root/build/guest
out=$state/out
rm -rf "$out" "$state/xdg-data"
mkdir -p "$out" "$state/xdg-data"
env_script=testenv/scripts/wineenv.sh
# The guest's screen is a Wine virtual desktop, so that screenshots show it
# (testenv/scripts/prefix.d/15-virtual-desktop.sh says why only here).
export MANTLET_VIRTUAL_DESKTOP=1
# Wine keeps the recycle bin in the Unix user's trash folder, which other
# prefixes (and the person at the machine) share; the guest gets its own, so
# that what the scenario throws away and empties is only its own.
export XDG_DATA_HOME=$state/xdg-data
"$env_script" up "$state/wine" "$root/build/win64/bin"
trap '"$env_script" down "$state/wine" >/dev/null' EXIT

# Wine shows the Linux file system as drive Z:.
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
set +e
"$env_script" run "$state/wine" "$root/build/win64/bin/guestsim.exe" "$(windows_path "$scenario")" \
  "$(windows_path "$out/account.txt")" 2>"$out/guest-stderr.txt"
status=$?
set -e
if [[ ! -f $out/account.txt ]]; then
  echo "run-guest: the simulated guest wrote no account (status $status); its output:" >&2
  sed 's/^/  | /' "$out/guest-stderr.txt" >&2
  exit "$((status == 0 ? 1 : status))"
fi

# Screenshots as PNG for anything that shows pictures.
for bmp in "$out"/*.bmp; do
  [[ -e $bmp ]] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

# The page carries its pictures: each screenshot line's src="<name>.png"
# becomes the picture itself (the PNG files stay next to it as well).
embed_pictures() { # page
  local line png tmp=$1.tmp
  while IFS= read -r line; do
    if [[ $line =~ ^(.*src=\")([A-Za-z0-9_.-]+\.png)(\".*)$ ]] && [[ -f $out/${BASH_REMATCH[2]} ]]; then
      png=$out/${BASH_REMATCH[2]}
      printf '%sdata:image/png;base64,' "${BASH_REMATCH[1]}"
      base64 -w0 "$png"
      printf '%s\n' "${BASH_REMATCH[3]}"
    else
      printf '%s\n' "$line"
    fi
  done <"$1" >"$tmp"
  mv "$tmp" "$1"
}
[[ -f $out/account.html ]] && embed_pictures "$out/account.html"

cat "$out/account.txt"
echo
echo "run-guest: $(grep -m1 -E '^[0-9]+ steps' "$out/account.txt" || echo "no result line"); the whole run took $(($(date +%s) - started)) s"
echo "account (text): $out/account.txt"
echo "account (page): $out/account.html"
exit "$status"
