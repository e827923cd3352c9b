#!/usr/bin/env bash
# The shell's desktop object: Wine 8 creates it but answers E_NOTIMPL for
# GetWallpaper, SetWallpaper and ApplyChanges. Our stand-in takes over the
# class for the prefix (testenv/desktop/activedesktop_standin.cpp).
set -euo pipefail
dll="$WINEENV_BINDIR/activedesktop_standin.dll"
[[ -f $dll ]] || {
  echo "$dll not found (build target activedesktop_standin)" >&2
  exit 1
}
key='HKLM\Software\Classes\CLSID\{75048700-EF1F-11D0-9888-006097DEACF9}\InprocServer32'
wine reg add "$key" /ve /d "$(winepath -w "$dll")" /f
wine reg add "$key" /v ThreadingModel /d Both /f
