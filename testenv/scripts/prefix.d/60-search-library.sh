#!/usr/bin/env bash
# Installs the search library stand-in where the module looks for it: below
# the tools' install directory, which is set here only when nothing earlier
# set it. Tests that need other install states make their own.
set -euo pipefail
key='HKLM\SOFTWARE\Corvane\Corvane Tools'
dir=$({ wine reg query "$key" /v InstallLocation 2>/dev/null || true; } | tr -d '\r' |
  sed -n 's/^ *InstallLocation *REG_SZ *//p')
if [[ -z "$dir" ]]; then
  dir='C:\Program Files\Corvane\Corvane Tools'
  wine reg add "$key" /v InstallLocation /d "$dir" /f
fi
target=$(winepath -u "$dir\\External\\Didirad")
mkdir -p "$target"
cp "$WINEENV_BINDIR/Distributor.dll" "$target/Distributor.dll"
