#!/bin/sh
# Boots the hardware tests' guest (laid out in GUEST by layout.sh, first if
# need be) and runs each test of the GoogleTest program PROGRAM in it, in this
# machine's own root seen over 9p, from the current directory; their output
# goes to RUN/tests.log, where result.sh finds each test's result. The guest
# has
#   ttyS0  its console, kept in RUN/console.log
#   ttyS1  a 16550 on the 8250 driver, its far end a virtual programmer here
#   ttyS2  the control line to this script (see control below)
#   ttyUSB0  an FTDI adapter on the ftdi_sio driver, once a test asks for
#          its far end; udev names it /dev/serial/by-id/usb-QEMU_QEMU_USB_
#          SERIAL_TV000001-if00-port0
# Fails, with the console shown, when the guest does not bring the tests to
# their end within SECONDS; a run that QEMU itself ends by crashing is tried
# once more. Ends every process that it started.
# usage: run.sh GUEST RUN VPROG SECONDS PROGRAM
set -u
guest=$1 run=$2 vprog=$3 seconds=$4 program=$5
"$(dirname "$0")/layout.sh" "$guest" || exit 1
rm -rf "$run"
mkdir -p "$run"
mkfifo "$run/ctl.in" "$run/ctl.out" "$run/mon.in" "$run/mon.out"

# The processes started here that still run: QEMU, the control line's and
# the monitor's readers, and the virtual programmers (RUN/far.pids; one is
# ended only while it still runs this programmer).
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null; done
  [ -f "$run/far.pids" ] || return 0
  while read -r pid; do
    [ "$(readlink "/proc/$pid/exe")" = "$(readlink -f "$vprog")" ] && kill "$pid"
  done <"$run/far.pids"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Starts a virtual programmer with ARGS for PORT (usb or uart), its status
# lines in RUN/PORT.log, and prints the pseudo-terminal it serves. The one
# it replaces goes once QEMU has let go of its line.
start_far() {
  port=$1
  shift
  [ -f "$run/$port.pid" ] && mv "$run/$port.pid" "$run/$port.old.pid"
  rm -f "$run/$port.log"
  "$vprog" "$@" </dev/null >"$run/$port.log" 2>&1 3>&- &
  echo $! >"$run/$port.pid"
  echo $! >>"$run/far.pids"
  tries=0
  until [ -s "$run/$port.log" ] || [ $tries -ge 200 ]; do sleep 0.05; tries=$((tries + 1)); done
  head -n 1 "$run/$port.log"
}
stop_old_far() {
  [ -f "$run/$1.old.pid" ] && kill "$(cat "$run/$1.old.pid")" 2>/dev/null
  rm -f "$run/$1.old.pid"
}

# Answers the guest's requests on the control line, one a line:
#   far usb|uart ARGS  a new virtual programmer with ARGS at the port's far
#                      end (the guest unplugs the adapter first)
#   unplug | plug      device_del / device_add of the adapter
#   line usb|uart      the far end's line settings, as stty shows them
# Each answer is one line that begins with "ok".
control() {
  set -f
  exec 3<>"$run/mon.in"
  # Each plugging is a new device: QEMU keeps the id of an unplugged one a
  # while, and a device_add under that id would fail.
  plugs=0 chardevs=0
  # The adapter's own serial number, as a real FTDI keeps it in its EEPROM
  # (and udev names it by it): without one QEMU makes one up from the USB
  # port, which changes from one plugging to the next.
  adapter="usb-serial,serial=TV000001"
  # A new adapter, on a line of its own to the far end PTY: an unplugged
  # adapter's line is QEMU's a moment longer.
  plug_in() {
    chardevs=$((chardevs + 1)) plugs=$((plugs + 1))
    echo "chardev-add serial,id=usb$chardevs,path=$1" >&3
    echo "device_add $adapter,id=us$plugs,chardev=usb$chardevs" >&3
  }
  while IFS= read -r request; do
    # shellcheck disable=SC2046 # a request is words
    set -- $(echo "$request" | tr -d '\r')
    [ $# -gt 0 ] || continue
    case $1 in
      far)
        port=$2
        shift 2
        pty=$(start_far "$port" "$@")
        if [ -z "$pty" ]; then
          echo "failed: $(tr '\n' ' ' <"$run/$port.log")"
          continue
        fi
        echo "$pty" >"$run/$port.pty"
        if [ "$port" = usb ]; then
          [ $chardevs -gt 0 ] && echo "chardev-remove usb$chardevs" >&3
          plug_in "$pty"
        else
          echo "chardev-change uart serial,path=$pty" >&3
        fi
        echo "info chardev" >&3
        stop_old_far "$port"
        echo "ok $pty" ;;
      unplug) echo "device_del us$plugs" >&3; echo ok ;;
      plug)
        plug_in "$(cat "$run/usb.pty")"
        echo ok ;;
      line) echo "ok $(stty -a -F "$(cat "$run/$2.pty")" | tr '\n' ' ')" ;;
      *) echo "unknown request" ;;
    esac
  done
}

uart=$(start_far uart --silent --store /dev/null)
echo "$uart" >"$run/uart.pty"
{
  echo "#!/bin/sh"
  echo "cd '$(pwd)' || exit 1"
  echo "export PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root QT_QPA_PLATFORM=offscreen TALVORIN_HW_RUN='$run'"
  # Each test in a process of its own, so that one that crashes takes no
  # other with it.
  echo "for test in \$('$program' --gtest_list_tests | awk '/^[^ ]/ { suite = \$1 } /^  / { print suite \$1 }'); do"
  echo "  '$program' --gtest_filter=\"\$test\" >>'$run/tests.log' 2>&1"
  echo "done"
} >"$run/guest.sh"

timeout -k 5 "$seconds" qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -display none -no-reboot \
  -kernel "$guest/vmlinuz" -initrd "$guest/initramfs.gz" \
  -append "console=ttyS0 quiet panic=-1 talvorin.run=$run/guest.sh" \
  -virtfs local,path=/,mount_tag=host,security_model=none,multidevs=remap \
  -nic none -device qemu-xhci,id=xhci \
  -chardev file,id=console,path="$run/console.log" -serial chardev:console \
  -chardev serial,id=uart,path="$uart" -serial chardev:uart \
  -chardev pipe,id=ctl,path="$run/ctl" -serial chardev:ctl \
  -chardev pipe,id=mon,path="$run/mon" -mon chardev=mon,mode=readline &
qemu=$!
# The lines are opened for reading and writing, so that no opening waits for
# a QEMU that did not start.
control <>"$run/ctl.out" 1<>"$run/ctl.in" &
pids="$qemu $!"
cat <>"$run/mon.out" >"$run/monitor.log" &
pids="$pids $!"
wait "$qemu"
ended=$?
pids=${pids#"$qemu"}
# The guest's init reports the tests' end as its last word: a guest that got
# there ran them, and each test has its result in tests.log (one that crashed
# its process fails there).
status=$(sed -n 's/^talvorin-guest-status \([0-9]*\).*/\1/p' "$run/console.log" | tr -d '\r')
if [ -z "$status" ]; then
  case $ended in
    134 | 135 | 139)
      # QEMU itself crashed (seen once, at a device_del): not the tests'
      # doing, so the whole run is tried once more, from the start.
      if [ -z "${TALVORIN_HW_AGAIN:-}" ]; then
        echo "QEMU ended by signal $((ended - 128)); the guest's run once more." >&2
        cleanup
        trap - EXIT
        TALVORIN_HW_AGAIN=1 exec sh "$0" "$@"
      fi
      echo "QEMU ended by signal $((ended - 128)) again." >&2 ;;
    124 | 137) echo "The guest did not bring its tests to their end within $seconds s." >&2 ;;
    *) echo "QEMU ended with status $ended before the guest brought its tests to their end." >&2 ;;
  esac
  echo "The guest's console:" >&2
  cat "$run/console.log" >&2
  echo "The tests' output:" >&2
  tail -n 50 "$run/tests.log" >&2 2>/dev/null
  exit 1
fi
echo "The tests ran in the guest."
