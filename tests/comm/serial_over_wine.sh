#!/bin/sh
# serial_over_wine.sh VPROG TEST_PROGRAM: runs the Windows serial test under
# Wine with COM1 on the pseudo-terminal of the Linux virtual programmer, which
# stores one download and serves one upload; it stays until the test has
# read everything, since Wine fails every call on a port whose other end
# has hung up, bytes still waiting or not. Wine reads its port mapping
# when its server starts, so the server is restarted (the test runs alone).
set -e
vprog=$1
program=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
export PATH=/usr/lib/wine:$PATH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# 1024 bytes: four whole blocks of 256.
head -c 1024 /dev/urandom > "$work/served.bin"
"$vprog" --store "$work/stored.bin" --serve "$work/served.bin" > "$work/vprog.out" &
pid=$!
i=0
while [ ! -s "$work/vprog.out" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i+1)); done
device=$(head -n 1 "$work/vprog.out")
case "$device" in /dev/pts/*) ;; *) echo "no device from the virtual programmer" >&2; exit 1 ;; esac

wine64 reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$device" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true
wineserver -w
wineserver -p 2>/dev/null || true
wine64 cmd /c exit >/dev/null 2>&1 </dev/null

TALVORIN_VPROG_STORE="$work/stored.bin" TALVORIN_VPROG_SERVE="$work/served.bin" \
  "$here/../../tools/wine-run.sh" "$program"
kill $pid
wait $pid || true
pid=
echo "virtual programmer: $(tail -n +2 "$work/vprog.out" | tr '\n' ' ')"
