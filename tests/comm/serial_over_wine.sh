#!/bin/sh
# serial_over_wine.sh VPROG TEST_PROGRAM: runs the Windows serial test under
# Wine with COM1 on the pseudo-terminal of the Linux virtual programmer, which
# stores one download and serves one upload; it stays until the test has
# read everything, since Wine fails every call on a port whose other end
# has hung up, bytes still waiting or not. COM1 is the link that
# TALVORIN_WINE_COM1 names (tools/wine-test.sh maps it), pointed here at the
# programmer's line.
set -e
vprog=$1
program=$2
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "$TALVORIN_WINE_COM1" ]; then
  echo "serial_over_wine.sh: TALVORIN_WINE_COM1 is not set (run by tools/wine-test.sh)" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT

# 1024 bytes: four whole blocks of 256.
head -c 1024 /dev/urandom > "$work/served.bin"
"$vprog" --store "$work/stored.bin" --serve "$work/served.bin" > "$work/vprog.out" &
pid=$!
i=0
while [ ! -s "$work/vprog.out" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
device=$(head -n 1 "$work/vprog.out")
case "$device" in /dev/pts/*) ;; *) echo "no device from the virtual programmer" >&2; exit 1 ;; esac
ln -sfn "$device" "$TALVORIN_WINE_COM1"

TALVORIN_VPROG_STORE="$work/stored.bin" TALVORIN_VPROG_SERVE="$work/served.bin" \
  "$here/../../tools/wine-run.sh" "$program"
if ! kill $pid; then
  echo "the virtual programmer ended before the test did: $(tr '\n' ' ' <"$work/vprog.out")" >&2
  exit 1
fi
wait $pid || true
pid=
echo "virtual programmer: $(tail -n +2 "$work/vprog.out" | tr '\n' ' ')"
