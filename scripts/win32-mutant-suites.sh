#!/usr/bin/env bash
# The test command of the Win32 mutation sample: runs, under Wine, the suites
# that cover the folder of the source file a planted fault changed (the one
# src/ file git sees changed; none: the component suites). The prefixes must be
# up already, so that each run does not make new ones:
#
#   for id in wine wine_b; do testenv/scripts/wineenv.sh up build/win64/$id build/win64/bin; done
#   mutants.py --build 'cmake --build build/win64 -j2' --test scripts/win32-mutant-suites.sh \
#              --max 40 --seed 14 --timeout 900 <the Win32 sources>
#
# Run it in a clone of its own (see mutants.py). Suites that no longer exist are
# simply not matched, so the same command measures before and after a change of
# the suites.
set -uo pipefail
cd "$(git rev-parse --show-toplevel)"
changed=$(git diff --name-only -- src | head -n 1)
case "$changed" in
  src/core/*)
    suites='component\.|e2e\.(HostCall|DeviceFaults|Lifecycle)$|scenario\.(commands|lifecycle|host_event_wait|registry_faults|stop_matrix)$' ;;
  src/interaction/*)
    suites='scenario\.(message_boxes|keyboard_hotkeys|registry_faults|stop_matrix)$' ;;
  src/settings/*)
    suites='e2e\.NotificationsWindows8$|scenario\.(notifications|browser_information|office_configuration|registry_faults)$' ;;
  src/sharemapping/*)
    suites='e2e\.(ShareIcons|DeviceFaults)$|scenario\.share_' ;;
  src/shell/* | src/taskbar/*)
    suites='e2e\.AppBarTest$|scenario\.(appbars|cursor|taskbar|taskbar_versions|two_monitors|stop_matrix)$' ;;
  src/tool/*)
    suites='e2e\.(Lifecycle|Soak.*)$|scenario\.(commands|host_event_wait|lifecycle|education|cursor|office_configuration|stop_matrix)$' ;;
  src/weave/*)
    suites='e2e\.WeaveCrash$|scenario\.(weave|stop_matrix|taskbar|registry_faults)$' ;;
  *)
    suites='component\.' ;;
esac
exec ctest --test-dir build/win64 -FA '^wine$' -R "$suites" --stop-on-failure --timeout 300 -Q
