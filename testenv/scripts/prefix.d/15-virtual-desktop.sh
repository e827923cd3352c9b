#!/usr/bin/env bash
# With MANTLET_VIRTUAL_DESKTOP=1 (the simulated guest sets it), the guest's
# screen is one Wine virtual desktop of the Xvfb screen's size; otherwise
# nothing changes.
#
# Why only the guest: outside a virtual desktop nobody paints the desktop,
# and a screenshot of the screen shows only the windows of the process that
# takes it; inside one, Wine's explorer paints the desktop (colour and
# wallpaper) and a screenshot shows every window. But a virtual desktop also
# makes Wine compute the monitor's work area from the first "Shell_TrayWnd"
# when a process starts (top or bottom only, never updated afterwards),
# while the test suites rely on Wine's plain behaviour there: the work area
# of GetMonitorInfoW is the whole monitor.
#
# Wine starts a desktop's explorer with the first program that needs the
# desktop and ends it shortly after the last one exits; each start reads the
# mode from the registry. An explorer that an earlier step started without
# the setting is waited out, so that every later program gets the virtual one.
set -euo pipefail

[[ ${MANTLET_VIRTUAL_DESKTOP:-0} == 1 ]] || exit 0

size=$(xdpyinfo -display "$DISPLAY" 2>/dev/null | awk '/dimensions:/ {print $2; exit}' || true)
size=${size:-1920x1080}
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$size" /f

desktop_running() {
  local pid
  for pid in $(pgrep -f 'explorer\.exe' || true); do
    if grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null; then
      return 0
    fi
  done
  return 1
}
for _ in $(seq 100); do
  desktop_running || exit 0
  sleep 0.1
done
echo "the prefix's explorer did not end; the first programs may not get the virtual desktop" >&2
