#!/bin/sh
# Runs a Windows program under wine for ctest: wine-run.sh PREFIX PROGRAM [ARGS...]
# PREFIX is created on first use (serialised by a lock, without the Mono and Gecko add-ons),
# and the wine server is waited for so that nothing is left holding ctest's output pipes.
# Gives the program's exit status.
prefix=$1
shift

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/bin/wine
wineserver=/usr/bin/wineserver

mkdir -p "$(dirname "$prefix")" || exit 125
(
  flock 9 || exit 125
  if [ ! -f "$prefix/.initialised" ]; then
    rm -rf "$prefix"
    "$wine" wineboot --init >"$prefix.log" 2>&1 </dev/null &&
      "$wineserver" -w &&
      touch "$prefix/.initialised" || {
        echo "wine-run.sh: could not create the wine prefix $prefix (see $prefix.log)" >&2
        exit 125
      }
  fi
) 9>"$prefix.lock" || exit 125

"$wine" "$@" </dev/null
status=$?
"$wineserver" -w
exit $status
