#!/bin/sh
# Runs the tests of a Windows build (make test-wine) under Wine, in a prefix
# of the build's own: BUILD/prefix, made on first use without any dialog.
# One Wine server serves the whole run, so that each test program starts
# quickly; it is shut down at the end.
set -e
build=$(cd "$1" && pwd)
jobs=${2:-2}
export WINEPREFIX="$build/prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
PATH=/usr/lib/wine:$PATH
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX"
  wine64 wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# The first program of a server starts Wine's background services, which
# would keep the output of whichever test came first open until the end.
wine64 cmd /c exit >/dev/null 2>&1 </dev/null
cd "$build"
ctest -j"$jobs" --output-on-failure --timeout 300
