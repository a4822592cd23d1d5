#!/bin/sh
# Runs the tests of a Windows build (make test-wine) under Wine, in a prefix
# of the build's own: BUILD/prefix, made on first use without any dialog.
# Its COM1 is the link BUILD/com1 (TALVORIN_WINE_COM1), which a serial test
# points at its line: Wine reads its port mapping only as its server starts,
# so the mapping is set once, here, and never changes while tests run.
# One Wine server serves the whole run, so that each test program starts
# quickly; it is shut down at the end.
set -e
build=$(cd "$1" && pwd)
jobs=${2:-2}
export WINEPREFIX="$build/prefix" TALVORIN_WINE_COM1="$build/com1"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
PATH=/usr/lib/wine:$PATH
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX"
  wine64 wineboot -i >/dev/null 2>&1
  wineserver -w
fi
if ! grep -qF "\"COM1\"=\"$TALVORIN_WINE_COM1\"" "$WINEPREFIX/system.reg"; then
  wine64 reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$TALVORIN_WINE_COM1" /f >/dev/null
  # The server writes the registry out as it ends; the next one maps COM1.
  wineserver -w
fi
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# The first program of a server starts Wine's background services, which
# would keep the output of whichever test came first open until the end.
wine64 cmd /c exit >/dev/null 2>&1 </dev/null
cd "$build"
ctest -j"$jobs" --output-on-failure --timeout 300
