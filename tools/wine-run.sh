#!/bin/sh
# Runs a Windows program under Wine in the prefix that WINEPREFIX names; make
# test-wine makes a private one, so the user's own prefix is never touched.
if [ -z "$WINEPREFIX" ]; then
  echo "wine-run.sh: WINEPREFIX is not set" >&2
  exit 2
fi
PATH=/usr/lib/wine:$PATH
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
exec wine64 "$@"
