#!/usr/bin/env bash
# wineenv.sh: the Wine test environment of the module's tests and demo.
#
#   wineenv.sh up <statedir> <bindir> [--second-monitor WxH+X+Y]
#                                            fresh prefix + Xvfb + tools device stand-in running;
#                                            optionally a second monitor of that size and origin
#   wineenv.sh run <statedir> <prog> [args]  run a Windows program in it; exit status passed through
#   wineenv.sh run-allocated <dir> <prog> [args]
#                                            the same in <dir>/<id>, the prefix ctest gave the test
#                                            (resource "prefixes"), or <dir>/wine outside ctest
#   wineenv.sh down <statedir>               stop that prefix's wineserver and its Xvfb
#   wineenv.sh shell <statedir> [cmd...]     a command (default: an interactive shell) with its environment
#
# <statedir> holds: prefix/ (the WINEPREFIX), env (exports for the other verbs),
# xvfb.pid, display, and logs/ (and xephyr.pid with a second monitor). Only
# processes this script started are ever stopped: the prefix's own wineserver
# (wineserver -k) and the recorded Xvfb and Xephyr.
set -euo pipefail

# fd 9 holds the statedir's lock; every process started here closes it
# (9>&-), or a lasting one (Xvfb, wineserver, winedevice) would hold the lock.
readonly SCRIPT_NAME=wineenv

die() {
  echo "$SCRIPT_NAME: error: $*" >&2
  exit 1
}

usage() {
  sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
}

now_ms() { date +%s%3N; }
seconds_since() { # ms-timestamp -> "1.23"
  local d=$(($(now_ms) - $1))
  printf '%d.%02d' $((d / 1000)) $((d % 1000 / 10))
}

# A process still running as the given command name, so that a recorded pid
# reused by something else is never signalled.
pid_is() { # pid comm
  [[ -n "$1" && -r /proc/$1/comm ]] && [[ "$(cat /proc/"$1"/comm 2>/dev/null)" == "$2" ]]
}

# Wine keys a prefix's server by the prefix directory's device and inode: the
# server's working directory is ".../server-<dev>-<inode>" (in hex), which is
# how a running one is told apart from other prefixes' servers. The parent
# directory is not always /tmp/.wine-<uid>; on this machine it was a
# /tmp/wine-XXXXXX directory, so only the last component is compared.
server_dir_name() {
  local dev ino
  read -r dev ino < <(stat -c '%d %i' "$WINEPREFIX") || return 1
  printf 'server-%x-%x' "$dev" "$ino"
}

server_running() {
  local name pid
  name=$(server_dir_name) || return 1
  for pid in $(pgrep '^wineserver' || true); do
    [[ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" == */"$name" ]] && return 0
  done
  return 1
}

load_env() { # statedir
  [[ -f "$1/env" ]] || die "no environment in $1 (run: $0 up $1 <bindir>)"
  # shellcheck source=/dev/null
  source "$1/env"
}

# Everything started from here must not keep the caller's stdout/stderr open:
# ctest waits for those pipes to close, and Wine's background processes
# (services, winedevice, explorer) inherit the stdio of the process that
# started them. Each step logs to its own file and shows it on failure.
step() { # logname command...
  local log="$LOGDIR/$1.log"
  shift
  if ! "$@" </dev/null >"$log" 2>&1 9>&-; then
    echo "$SCRIPT_NAME: '$*' failed; its output ($log):" >&2
    sed 's/^/  | /' "$log" >&2
    return 1
  fi
}

stop_prefix_server() { # quietly; the prefix may have no server
  [[ -d "$WINEPREFIX" ]] || return 0
  if server_running; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    for _ in $(seq 50); do
      server_running || return 0
      sleep 0.1
    done
    die "the wineserver of $WINEPREFIX did not stop"
  fi
}

stop_server() { # pidfile comm
  local pid
  pid=$(cat "$1" 2>/dev/null || true)
  if pid_is "$pid" "$2"; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
      pid_is "$pid" "$2" || break
      sleep 0.1
    done
    if pid_is "$pid" "$2"; then kill -9 "$pid" 2>/dev/null || true; fi
  fi
  rm -f "$1"
}

stop_xvfb() { # statedir
  stop_server "$1/xephyr.pid" Xephyr
  stop_server "$1/xvfb.pid" Xvfb
  rm -f "$1/display" "$1/xephyr.display"
}

# Starts an X server on a display it picks itself (-displayfd), which avoids
# racing other users of the machine for a free display number, and sets
# X_DISPLAY to it. A nested server is shown on the display in X_HOST.
start_x_server() { # statedir name comm args...
  local statedir=$1 name=$2 comm=$3 display=""
  shift 3
  env ${X_HOST:+DISPLAY="$X_HOST"} "$comm" -displayfd 3 "$@" -nolisten tcp 3>"$statedir/$name.display" </dev/null >"$LOGDIR/$name.log" 2>&1 9>&- &
  echo $! >"$statedir/$name.pid"
  disown
  for _ in $(seq 100); do
    display=$(tr -dc '0-9' <"$statedir/$name.display" 2>/dev/null || true)
    [[ -n "$display" ]] && break
    pid_is "$(cat "$statedir/$name.pid")" "$comm" || break
    sleep 0.05
  done
  if [[ -z "$display" ]]; then
    sed 's/^/  | /' "$LOGDIR/$name.log" >&2
    die "$comm did not start"
  fi
  X_DISPLAY=":$display"
}

# One monitor: an Xvfb screen. Two: Xvfb's Xinerama puts every screen at 0,0
# and cannot place one elsewhere, so a nested Xephyr (on the Xvfb) carries
# both screens, its -origin placing the second; Wine then lists both monitors
# where they lie once its X11 driver is told to ask Xinerama rather than
# XRandR (UseXRandR=N, set in the prefix).
start_display() { # statedir [WxH+X+Y]
  start_x_server "$1" xvfb Xvfb -screen 0 1920x1080x24
  mv "$1/xvfb.display" "$1/display"
  if [[ -n "${2:-}" ]]; then
    [[ "$2" =~ ^([0-9]+x[0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || die "--second-monitor wants WxH+X+Y, not '$2'"
    command -v Xephyr >/dev/null || die "Xephyr not installed (package xserver-xephyr)"
    X_HOST=$X_DISPLAY start_x_server "$1" xephyr Xephyr -screen 1920x1080 \
      -origin "${BASH_REMATCH[2]},${BASH_REMATCH[3]}" -screen "${BASH_REMATCH[1]}" +xinerama -no-host-grab
    mv "$1/xephyr.display" "$1/display"
  fi
  XVFB_DISPLAY=$X_DISPLAY
}

# Starts the stand-in; StartServiceW is retried inside the tool.
start_driver() { # bindir
  step driver-start wine "$1/toolsdev_service.exe" start
}

up_failed() {
  echo "$SCRIPT_NAME: up failed; tearing down what it started" >&2
  stop_prefix_server || true
  stop_xvfb "$UP_STATEDIR"
  rm -f "$UP_STATEDIR/env"
}

# What the module's tests expect of the guest beyond a fresh prefix: every
# prefix.d/*.reg is imported and every prefix.d/*.sh runs (with WINEPREFIX,
# DISPLAY and WINEENV_BINDIR set), in name order.
prepare_prefix() { # bindir
  local here item
  here=$(dirname "$(realpath "$0")")
  export WINEENV_BINDIR="$1"
  for item in "$here"/prefix.d/*; do
    case "$item" in
      *.reg) step "prefix-$(basename "$item")" wine regedit /S "$(winepath -w "$item")" ;;
      *.sh) step "prefix-$(basename "$item")" bash "$item" ;;
    esac
  done
}

cmd_up() {
  [[ $# -eq 2 || ($# -eq 4 && $3 == --second-monitor) ]] || usage
  local statedir bindir second=${4:-} t0 t1 t_boot t_settle t_driver
  statedir=$(realpath -m "$1")
  bindir=$(realpath "$2" 2>/dev/null) || die "no such directory: $2"
  [[ -f "$bindir/cvn_tg.sys" ]] || die "$bindir/cvn_tg.sys not found (build target cvn_tg)"
  [[ -f "$bindir/toolsdev_service.exe" ]] || die "$bindir/toolsdev_service.exe not found (build target toolsdev_service)"
  command -v Xvfb >/dev/null || die "Xvfb not installed"
  command -v wine >/dev/null || die "wine not installed"

  t0=$(now_ms)
  mkdir -p "$statedir"
  LOGDIR="$statedir/logs"
  exec 9>"$statedir/lock"
  flock 9

  # Whatever an earlier run left: its server first, then its prefix.
  export WINEPREFIX="$statedir/prefix"
  stop_prefix_server
  stop_xvfb "$statedir"
  rm -rf "$WINEPREFIX" "$statedir/env" "$LOGDIR"
  mkdir -p "$LOGDIR"

  # From here a failure takes down what this run started.
  UP_STATEDIR=$statedir
  trap up_failed EXIT
  start_display "$statedir" "$second"
  export DISPLAY="$XVFB_DISPLAY"
  export WINEDEBUG=-all
  # No Mono or Gecko: their installers would wait for a click on a screen no one sees.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  {
    printf 'export WINEPREFIX=%q\n' "$WINEPREFIX"
    printf 'export DISPLAY=%q\n' "$DISPLAY"
    printf 'export WINEDEBUG=%q\n' "$WINEDEBUG"
    printf 'export WINEDLLOVERRIDES=%q\n' "$WINEDLLOVERRIDES"
    printf 'WINEENV_BINDIR=%q\n' "$bindir"
    printf 'WINEENV_XVFB_PID=%q\n' "$(cat "$statedir/xvfb.pid")"
    printf 'WINEENV_XEPHYR_PID=%q\n' "$(cat "$statedir/xephyr.pid" 2>/dev/null || true)"
  } >"$statedir/env"

  t1=$(now_ms)
  step wineboot wine wineboot -i
  if [[ -n "$second" ]]; then
    step x11-xinerama wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseXRandR /d N /f
  fi
  t_boot=$(seconds_since "$t1")
  # Let the boot's processes settle and the server exit: a driver started
  # while they are still busy times out (ERROR_SERVICE_REQUEST_TIMEOUT).
  t1=$(now_ms)
  step wineserver-wait wineserver -w
  t_settle=$(seconds_since "$t1")

  t1=$(now_ms)
  step wineserver-persistent wineserver -p
  cp "$bindir/cvn_tg.sys" "$WINEPREFIX/drive_c/windows/system32/drivers/cvn_tg.sys"
  step driver-install wine "$bindir/toolsdev_service.exe" install 'C:\windows\system32\drivers\cvn_tg.sys'
  start_driver "$bindir"
  t_driver=$(seconds_since "$t1")
  prepare_prefix "$bindir"
  trap - EXIT

  echo "$SCRIPT_NAME: up $statedir: display $DISPLAY (Xvfb pid $(cat "$statedir/xvfb.pid")${second:+, second monitor $second}), prefix ${t_boot}s + settle ${t_settle}s, cvn_tg running ${t_driver}s, total $(seconds_since "$t0")s"
}

cmd_run() {
  [[ $# -ge 2 ]] || usage
  local statedir=$1 program=$2
  shift 2
  load_env "$statedir"
  LOGDIR="$statedir/logs"
  pid_is "$WINEENV_XVFB_PID" Xvfb || die "the Xvfb of $statedir is gone (run: $0 up $statedir <bindir>)"
  if [[ -n "${WINEENV_XEPHYR_PID:-}" ]]; then
    pid_is "$WINEENV_XEPHYR_PID" Xephyr || die "the Xephyr of $statedir is gone (run: $0 up $statedir <bindir> ...)"
  fi
  # The server ends when it is killed or crashes, and the started driver goes
  # with it. Serialised, since parallel test runs come through here at once.
  (
    flock 9
    if ! server_running; then
      step wineserver-persistent wineserver -p
      start_driver "$WINEENV_BINDIR"
      echo "$SCRIPT_NAME: the wineserver of $statedir had gone; restarted it and cvn_tg" >&2
    fi
  ) 9>"$statedir/lock"
  exec wine "$program" "$@" 9>&-
}

# ctest hands a test its share of a resource as CTEST_RESOURCE_GROUP_<n>_<TYPE>
# ("id:wine_b,slots:1"); the suites that hold a prefix ask for one "prefixes".
cmd_run_allocated() {
  [[ $# -ge 2 ]] || usage
  local dir=$1 id=wine
  shift
  if [[ ${CTEST_RESOURCE_GROUP_0_PREFIXES:-} =~ ^id:([^,]+) ]]; then
    id=${BASH_REMATCH[1]}
  fi
  cmd_run "$dir/$id" "$@"
}

cmd_down() {
  [[ $# -eq 1 ]] || usage
  local statedir t0
  statedir=$(realpath -m "$1")
  t0=$(now_ms)
  if [[ -f "$statedir/env" ]]; then
    load_env "$statedir"
  else
    export WINEPREFIX="$statedir/prefix"
  fi
  stop_prefix_server
  stop_xvfb "$statedir"
  rm -f "$statedir/env"
  echo "$SCRIPT_NAME: down $statedir in $(seconds_since "$t0")s"
}

cmd_shell() {
  [[ $# -ge 1 ]] || usage
  local statedir=$1
  shift
  load_env "$statedir"
  if [[ $# -eq 0 ]]; then
    exec "${SHELL:-bash}" -i
  fi
  exec "$@"
}

[[ $# -ge 1 ]] || usage
verb=$1
shift
case "$verb" in
  up) cmd_up "$@" ;;
  run) cmd_run "$@" ;;
  run-allocated) cmd_run_allocated "$@" ;;
  down) cmd_down "$@" ;;
  shell) cmd_shell "$@" ;;
  *) usage ;;
esac
