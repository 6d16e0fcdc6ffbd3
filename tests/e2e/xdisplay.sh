#!/usr/bin/env bash
# A private virtual X display (Xorg with the dummy driver, tests/e2e/xorg-dummy.conf) for
# trying and testing the program without a screen. Source it for xdisplay_start/xdisplay_stop,
# or run it: `xdisplay.sh run COMMAND...` runs COMMAND with DISPLAY set to a fresh display, and
# XDISPLAY_PID, XDISPLAY_DIR and XDISPLAY_LOG exported for a command that stops or restarts the
# server itself.

XDISPLAY_CONFIG_DEFAULT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/xorg-dummy.conf"

# Set by xdisplay_start: the display name (":N"), the server's pid, its log and work folder.
XDISPLAY_NAME=""
XDISPLAY_PID=""
XDISPLAY_LOG=""
XDISPLAY_DIR=""

# xdisplay_start [CONFIG]: starts Xorg on a display number nobody uses and waits until it
# answers RandR requests. Sets XDISPLAY_NAME, XDISPLAY_PID, XDISPLAY_LOG and XDISPLAY_DIR;
# leaves DISPLAY alone. Returns non-zero, with the server's log tail on stderr, when no
# server came up.
# shellcheck disable=SC2120  # CONFIG is for callers outside this file
xdisplay_start() {
  local config="${1:-$XDISPLAY_CONFIG_DEFAULT}"
  if [[ ! -r "$config" ]]; then
    echo "xdisplay: no config at $config" >&2
    return 1
  fi
  config="$(cd "$(dirname "$config")" && pwd)/$(basename "$config")"
  if ! command -v Xorg >/dev/null || ! command -v xrandr >/dev/null; then
    echo "xdisplay: needs Xorg and xrandr (xserver-xorg-core, xserver-xorg-video-dummy," \
      "x11-xserver-utils)" >&2
    return 1
  fi
  XDISPLAY_DIR="$(mktemp -d "${TMPDIR:-/tmp}/xdisplay.XXXXXX")" || return 1
  # An own config folder keeps the machine's xorg.conf.d out; Xorg wants a file in it.
  mkdir -p "$XDISPLAY_DIR/conf.d"
  echo "# Intentionally empty." >"$XDISPLAY_DIR/conf.d/00-empty.conf"

  local number
  for _ in 1 2 3 4 5; do
    number="$(_xdisplay_free_number)" || {
      echo "xdisplay: no free display number" >&2
      return 1
    }
    XDISPLAY_NAME=":$number"
    XDISPLAY_LOG="$XDISPLAY_DIR/Xorg.$number.log"
    # -sharevts/-novtswitch: never take over a console of a machine that has one.
    Xorg "$XDISPLAY_NAME" -config "$config" -configdir "$XDISPLAY_DIR/conf.d" \
      -noreset -nolisten tcp -sharevts -novtswitch +extension RANDR \
      -logfile "$XDISPLAY_LOG" >"$XDISPLAY_DIR/Xorg.$number.out" 2>&1 </dev/null &
    XDISPLAY_PID=$!
    if _xdisplay_wait_ready; then
      return 0
    fi
    # Lost a race for the number, or the server failed: try the next one.
    kill "$XDISPLAY_PID" 2>/dev/null || true
    wait "$XDISPLAY_PID" 2>/dev/null || true
    if grep -q "Server is already active" "$XDISPLAY_DIR/Xorg.$number.out" 2>/dev/null; then
      continue
    fi
    break
  done
  echo "xdisplay: Xorg did not come up on $XDISPLAY_NAME; its output:" >&2
  tail -n 20 "$XDISPLAY_DIR"/Xorg.*.out "$XDISPLAY_LOG" >&2 2>/dev/null || true
  XDISPLAY_PID=""
  return 1
}

# xdisplay_stop: stops the server started by xdisplay_start, waits for it, and removes its
# work folder. Does nothing when none runs. Safe under `set -e`, like the functions above.
xdisplay_stop() {
  if [[ -n "$XDISPLAY_PID" ]]; then
    kill "$XDISPLAY_PID" 2>/dev/null || true
    local tries=0
    while kill -0 "$XDISPLAY_PID" 2>/dev/null && ((tries < 50)); do
      sleep 0.1
      tries=$((tries + 1))
    done
    kill -9 "$XDISPLAY_PID" 2>/dev/null || true
    wait "$XDISPLAY_PID" 2>/dev/null || true
  fi
  if [[ -n "$XDISPLAY_DIR" && -d "$XDISPLAY_DIR" ]]; then
    rm -rf "$XDISPLAY_DIR"
  fi
  XDISPLAY_PID=""
  XDISPLAY_DIR=""
  return 0
}

# Prints a display number from 20 up with neither a lock file nor a socket.
_xdisplay_free_number() {
  local n
  for ((n = 20; n < 200; n++)); do
    if [[ ! -e "/tmp/.X$n-lock" && ! -e "/tmp/.X11-unix/X$n" ]]; then
      echo "$n"
      return 0
    fi
  done
  return 1
}

# Waits up to 30 s for the started server to answer xrandr; fails early when it exits.
_xdisplay_wait_ready() {
  local tries
  for ((tries = 0; tries < 300; tries++)); do
    if ! kill -0 "$XDISPLAY_PID" 2>/dev/null; then
      return 1
    fi
    if DISPLAY="$XDISPLAY_NAME" xrandr --current >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  case "${1:-}" in
    run)
      shift
      if (($# == 0)); then
        echo "usage: $0 run COMMAND [ARG...]" >&2
        exit 2
      fi
      xdisplay_start || exit 1
      trap xdisplay_stop EXIT
      trap 'exit 130' INT
      trap 'exit 143' TERM
      export XDISPLAY_PID XDISPLAY_DIR XDISPLAY_LOG
      DISPLAY="$XDISPLAY_NAME" "$@"
      exit $?
      ;;
    *)
      echo "usage: $0 run COMMAND [ARG...]   (or source it: xdisplay_start, xdisplay_stop)" >&2
      exit 2
      ;;
  esac
fi
