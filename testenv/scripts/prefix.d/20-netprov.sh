#!/usr/bin/env bash
# The shared-folders provider stand-in: its DLL where the registry entry of
# 20-netprov.reg points, and the server folder that its shares live in
# (Wine maps \\cvf\<share> to dosdevices/unc/cvf/<share>).
set -euo pipefail
[[ -f "$WINEENV_BINDIR/cvfnp.dll" ]] || {
  echo "cvfnp.dll not found in $WINEENV_BINDIR (build target cvfnp)" >&2
  exit 1
}
cp "$WINEENV_BINDIR/cvfnp.dll" "$WINEPREFIX/drive_c/windows/system32/cvfnp.dll"
mkdir -p "$WINEPREFIX/dosdevices/unc/cvf"
# A share of another server, for drives that are not the provider's.
mkdir -p "$WINEPREFIX/dosdevices/unc/elsewhere/public"
