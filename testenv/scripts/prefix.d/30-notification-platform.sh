#!/usr/bin/env bash
# Registers the notification settings platform stand-in: its proxy/stub DLL
# (which registers both of its interfaces) and the local server under the
# platform's class id. Both stay in the binary folder; running again only
# rewrites the same entries.
set -euo pipefail
bin=$(winepath -w "$WINEENV_BINDIR")
wine regsvr32 /s "$bin\\notifplat_ps.dll"
wine reg add 'HKCR\CLSID\{0C9281F9-6DA1-4006-8729-DE6E6B61581C}' /ve /d 'Notification platform stand-in' /f
wine reg add 'HKCR\CLSID\{0C9281F9-6DA1-4006-8729-DE6E6B61581C}\LocalServer32' /ve /d "$bin\\notifplat.exe" /f
