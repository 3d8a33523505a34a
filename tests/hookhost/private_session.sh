#!/bin/sh
# Runs one test program in a Wine session of its own: a copy of the run's
# prefix (made once, kept while its marker stands) with its own wineserver,
# ended when the program has run. For tests that must see a session no other
# test has touched, e.g. no hook library mapped into Wine's explorer.exe.
# Usage: private_session.sh <wine-run> <program> [arguments...]
set -u
RUN=$1
shift
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX" ]; then
  echo "private_session: WINEPREFIX is not set (run through scripts/test)" >&2
  exit 2
fi
OWN="${WINEPREFIX%/}-hookhost"
(
  flock 9
  if [ ! -f "$OWN/.vellmark-ready" ]; then
    rm -rf "$OWN"
    cp -a "$WINEPREFIX" "$OWN.tmp" && rm -f "$OWN.tmp/.boot-lock" && mv "$OWN.tmp" "$OWN"
  fi
) 9>"$OWN.lock"
export WINEPREFIX="$OWN"
# Wine's desktop process starts detached, so it holds no pipe of ctest's.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
/usr/lib/wine/wine64 rundll32.exe </dev/null >/dev/null 2>&1 || true
"$RUN" "$@"
status=$?
/usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1
exit $status
