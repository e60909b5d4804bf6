#!/usr/bin/env bash
# A throwaway Wine session for the Windows checks: its own prefix, its own virtual X display
# (Wine's Direct3D 11 draws through Mesa's software OpenGL, which needs a display) and its own
# wineserver, all under one state folder.
#
#   wine_session.sh start STATE         create the prefix, start the display and Wine
#   wine_session.sh run STATE SECS EXE [ARGS...]
#                                       run a Windows program, killed after SECS seconds
#   wine_session.sh stop STATE          stop Wine and the display, delete the prefix
#
# Every background process gets /dev/null for its output: Wine's helpers inherit the pipes of
# whoever starts them, and a test runner waiting for those pipes to close would never return.
set -euo pipefail

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

usage() {
  sed -n '2,12p' "$0" >&2
  exit 2
}

[[ $# -ge 2 ]] || usage
command="$1"
state="$(realpath -m "$2")"
shift 2

session_env() {
  export WINEPREFIX="$state/prefix"
  export WINEARCH=win64
  export WINEDEBUG=-all
  # No .NET or HTML engine: nothing here needs them and Wine would offer to download them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export DISPLAY
  DISPLAY="$(cat "$state/display")"
}

start() {
  rm -rf "$state"
  mkdir -p "$state"
  for tool in "$WINE" "$WINESERVER" Xvfb; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (tools/deps/windows.txt)" >&2; exit 1; }
  done

  # Xvfb picks a free display number and writes it to fd 3 once it accepts clients.
  : >"$state/display.number"
  setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
    </dev/null >/dev/null 2>&1 3>"$state/display.number" &
  echo $! >"$state/xvfb.pid"
  local number=""
  for _ in $(seq 200); do
    number="$(tr -dc '0-9' <"$state/display.number")"
    [[ -n "$number" ]] && break
    sleep 0.1
  done
  if [[ -z "$number" ]]; then
    echo "Xvfb did not start" >&2
    exit 1
  fi
  echo ":$number" >"$state/display"

  session_env
  local begin=$SECONDS
  mkdir -p "$WINEPREFIX"
  # A persistent server: the first program does not pay for its start, the last one does not
  # take it down with the display connection.
  "$WINESERVER" -p </dev/null >/dev/null 2>&1
  timeout 120 "$WINE" wineboot -i </dev/null >/dev/null 2>&1
  # No window manager runs on the virtual display; Wine would wait two seconds for one each
  # time it hides a managed window.
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    </dev/null >/dev/null 2>&1
  # Web addresses still go to Wine's browser launcher, but it finds no Linux browser to start:
  # nothing outside the session may outlive it or hold the test runner's output open.
  timeout 60 "$WINE" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d pyrix-no-browser /f \
    </dev/null >/dev/null 2>&1
  echo "Wine prefix ready on display $DISPLAY in $((SECONDS - begin)) s"
}

run() {
  [[ $# -ge 2 ]] || usage
  local seconds="$1"
  shift
  session_env
  timeout --kill-after=5 "$seconds" "$WINE" "$@"
}

stop() {
  if [[ -f "$state/display" ]]; then
    session_env
    "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
    timeout 20 "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  fi
  if [[ -f "$state/xvfb.pid" ]]; then
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
  fi
  rm -rf "$state/prefix"
}

case "$command" in
  start) start ;;
  run) run "$@" ;;
  stop) stop ;;
  *) usage ;;
esac
