#!/usr/bin/env bash
# A private virtual X display (Xorg with the dummy driver, tests/e2e/xorg-dummy.conf) for
# trying and testing the program without a screen. Source it for xdisplay_start/xdisplay_stop,
# or run it: `xdisplay.sh run COMMAND...` runs COMMAND with DISPLAY and XAUTHORITY set for a
# fresh display, and XDISPLAY_PID, XDISPLAY_DIR and XDISPLAY_LOG exported for a command that
# stops or restarts the server itself. Only clients with the display's XAUTHORITY get in.

_XDISPLAY_HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
XDISPLAY_CONFIG_DEFAULT="$_XDISPLAY_HERE/xorg-dummy.conf"

# Set by xdisplay_start: the display name (":N"), the server's pid, its log and work folder,
# and the authority file that admits clients (for XAUTHORITY).
XDISPLAY_NAME=""
XDISPLAY_AUTH=""
XDISPLAY_PID=""
XDISPLAY_LOG=""
XDISPLAY_DIR=""
# The process that holds the display number (xdisplay_reserve.py) and the pipe to it.
_XDISPLAY_HOLDER_PID=""
_XDISPLAY_HOLDER_IN=""

# xdisplay_start [CONFIG]: reserves a display number nobody else can take while this display
# lives, starts Xorg on it and waits until that very server says it is ready and answers
# RandR requests. Sets XDISPLAY_NAME, XDISPLAY_PID, XDISPLAY_LOG, XDISPLAY_DIR and
# XDISPLAY_AUTH; leaves DISPLAY and XAUTHORITY alone. Returns non-zero, with the server's output on stderr, when no server came up.
# shellcheck disable=SC2120  # CONFIG is for callers outside this file
xdisplay_start() {
  local config="${1:-$XDISPLAY_CONFIG_DEFAULT}"
  if [[ ! -r "$config" ]]; then
    echo "xdisplay: no config at $config" >&2
    return 1
  fi
  config="$(cd "$(dirname "$config")" && pwd)/$(basename "$config")"
  local tool
  for tool in Xorg xrandr xauth mcookie python3; do
    if ! command -v "$tool" >/dev/null; then
      echo "xdisplay: needs Xorg, xrandr, xauth, mcookie and python3 (xserver-xorg-core," \
        "xserver-xorg-video-dummy, x11-xserver-utils, xauth, util-linux, python3)" >&2
      return 1
    fi
  done
  XDISPLAY_DIR="$(mktemp -d "${TMPDIR:-/tmp}/xdisplay.XXXXXX")" || return 1
  # Readable by all: a test may run its program as another user.
  chmod 755 "$XDISPLAY_DIR"
  XDISPLAY_AUTH="$XDISPLAY_DIR/Xauthority"
  # An own config folder keeps the machine's xorg.conf.d out; Xorg wants a file in it.
  mkdir -p "$XDISPLAY_DIR/conf.d"
  echo "# Intentionally empty." >"$XDISPLAY_DIR/conf.d/00-empty.conf"

  local first=20 attempt number="" out=""
  for ((attempt = 0; attempt < 10; attempt++)); do
    _xdisplay_reserve "$first" || break
    number="${XDISPLAY_NAME#:}"
    XDISPLAY_LOG="$XDISPLAY_DIR/Xorg.$number.log"
    out="$XDISPLAY_DIR/Xorg.$number.out"
    rm -f "$XDISPLAY_DIR/ready" "$XDISPLAY_AUTH"
    mkfifo "$XDISPLAY_DIR/ready" || break
    # A cookie of its own keeps every other client out, whatever display it thinks it has.
    # (xauth writes the file anew, for its owner alone; a test's other user must read it.)
    : >"$XDISPLAY_AUTH" && xauth -q -f "$XDISPLAY_AUTH" add "$XDISPLAY_NAME" . "$(mcookie)" &&
      chmod 644 "$XDISPLAY_AUTH" || break
    # -displayfd: the server writes its number on fd 3 once it accepts clients.
    # -nolisten local: the abstract socket is the reservation; the socket file serves.
    # -sharevts/-novtswitch: never take over a console of a machine that has one.
    Xorg "$XDISPLAY_NAME" -displayfd 3 -config "$config" -configdir "$XDISPLAY_DIR/conf.d" \
      -auth "$XDISPLAY_AUTH" -noreset -nolisten tcp -nolisten local -sharevts -novtswitch \
      +extension RANDR -logfile "$XDISPLAY_LOG" 3>"$XDISPLAY_DIR/ready" >"$out" 2>&1 </dev/null &
    XDISPLAY_PID=$!
    if _xdisplay_wait_ready "$number"; then
      return 0
    fi
    kill "$XDISPLAY_PID" 2>/dev/null || true
    wait "$XDISPLAY_PID" 2>/dev/null || true
    XDISPLAY_PID=""
    _xdisplay_release
    # A server that started on the number after the reservation looked (its lock file came
    # first): try the numbers after it.
    grep -q "Server is already active" "$out" 2>/dev/null || break
    first=$((number + 1))
  done
  echo "xdisplay: Xorg did not come up on ${XDISPLAY_NAME:-any display}; its output:" >&2
  tail -n 20 "$XDISPLAY_DIR"/Xorg.*.out "$XDISPLAY_LOG" >&2 2>/dev/null || true
  _xdisplay_release
  rm -rf "$XDISPLAY_DIR"
  XDISPLAY_PID=""
  XDISPLAY_DIR=""
  XDISPLAY_AUTH=""
  return 1
}

# xdisplay_stop: stops the server started by xdisplay_start, waits for it, gives up the
# number and removes the work folder. Does nothing when none runs. Safe under `set -e`, like
# the functions above.
xdisplay_stop() {
  if [[ -n "$XDISPLAY_PID" ]]; then
    kill "$XDISPLAY_PID" 2>/dev/null || true
    _xdisplay_await_end "$XDISPLAY_PID"
    wait "$XDISPLAY_PID" 2>/dev/null || true
  fi
  _xdisplay_release
  if [[ -n "$XDISPLAY_DIR" && -d "$XDISPLAY_DIR" ]]; then
    rm -rf "$XDISPLAY_DIR"
  fi
  XDISPLAY_PID=""
  XDISPLAY_DIR=""
  XDISPLAY_AUTH=""
  return 0
}

# Reserves the first free number from $1 up with xdisplay_reserve.py, which holds it until
# its standard input closes; sets XDISPLAY_NAME.
_xdisplay_reserve() {
  local number=""
  rm -f "$XDISPLAY_DIR/number"
  exec {_XDISPLAY_HOLDER_IN}> >(exec python3 "$_XDISPLAY_HERE/xdisplay_reserve.py" "$1" \
    >"$XDISPLAY_DIR/number")
  _XDISPLAY_HOLDER_PID=$!
  local tries
  for ((tries = 0; tries < 300; tries++)); do
    read -r number 2>/dev/null <"$XDISPLAY_DIR/number"
    [[ -n "$number" ]] && break
    kill -0 "$_XDISPLAY_HOLDER_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -z "$number" ]]; then
    echo "xdisplay: no display number could be reserved" >&2
    _xdisplay_release
    return 1
  fi
  XDISPLAY_NAME=":$number"
}

# Waits up to 10 s for process $1 to end, then kills it.
_xdisplay_await_end() {
  local tries=0
  while kill -0 "$1" 2>/dev/null && ((tries < 200)); do
    sleep 0.05
    tries=$((tries + 1))
  done
  kill -9 "$1" 2>/dev/null || true
}

# Gives the reserved number up and waits until the holder has gone.
_xdisplay_release() {
  if [[ -n "$_XDISPLAY_HOLDER_IN" ]]; then
    exec {_XDISPLAY_HOLDER_IN}>&-
    _XDISPLAY_HOLDER_IN=""
  fi
  if [[ -n "$_XDISPLAY_HOLDER_PID" ]]; then
    _xdisplay_await_end "$_XDISPLAY_HOLDER_PID"
    _XDISPLAY_HOLDER_PID=""
  fi
}

# Waits up to 60 s for the started server to write its number $1 on the ready pipe (it fails
# early when the server exits), then for it to answer xrandr.
_xdisplay_wait_ready() {
  local ready="" fd
  exec {fd}<"$XDISPLAY_DIR/ready"
  read -r -t 60 -u "$fd" ready
  exec {fd}<&-
  [[ "$ready" == "$1" ]] || return 1
  kill -0 "$XDISPLAY_PID" 2>/dev/null || return 1
  DISPLAY="$XDISPLAY_NAME" XAUTHORITY="$XDISPLAY_AUTH" xrandr --current >/dev/null 2>&1
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
      DISPLAY="$XDISPLAY_NAME" XAUTHORITY="$XDISPLAY_AUTH" "$@"
      exit $?
      ;;
    *)
      echo "usage: $0 run COMMAND [ARG...]   (or source it: xdisplay_start, xdisplay_stop)" >&2
      exit 2
      ;;
  esac
fi
