#!/usr/bin/env bash
# psconfig.exe under Wine programs a PSR file into the Linux module simulator through a Wine COM
# port linked to the simulator's pseudo-terminal; the module's store must be what the Linux
# psconfig leaves in it, and both must end the same way: at once on the module's restart after
# the warm reset, not by waiting out the reset time.
#   psconfig_com_port.sh PSCONFIG.EXE LINUX-MODSIM LINUX-PSCONFIG PSRFILE
set -euo pipefail
psconfig_exe=$1
modsim=$2
psconfig_linux=$3
psr=$4
[ -x "$modsim" ] && [ -x "$psconfig_linux" ] || { echo "the Linux build is not there: skipped"; exit 77; }
work=$(mktemp -d)
module=
cleanup() {
  [ -n "$module" ] && kill "$module" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com6"
  rm -rf "$work"
}
trap cleanup EXIT

run_module() {  # run_module STORE-FILE: starts modsim, sets $module and $port
  "$modsim" --save "$1" >"$work/modsim.out" 2>&1 &
  module=$!
  for _ in $(seq 100); do grep -q "modsim: port" "$work/modsim.out" && break; sleep 0.05; done
  port=$(sed -n 's/^modsim: port //p' "$work/modsim.out")
  [ -n "$port" ] || { echo "the simulator did not start"; cat "$work/modsim.out"; exit 1; }
}
stop_module() {
  kill -INT "$module"
  wait "$module" || true
  module=
}

# Windows: COM6: is the simulator's terminal.
run_module "$work/windows.psr"
ln -sf "$port" "$WINEPREFIX/dosdevices/com6"
status=0
wine "$psconfig_exe" --trace COM6: "Z:$(realpath "$psr")" </dev/null >"$work/windows.out" 2>&1 || status=$?
stop_module
tr -d '\r' <"$work/windows.out" | grep "psconfig:" || true
[ "$status" -eq 0 ] || { echo "psconfig.exe ended with $status"; cat "$work/windows.out"; exit 1; }

# Linux: the same file through the Linux build.
run_module "$work/linux.psr"
QUILLON_DEVICE_ROOT=$work "$psconfig_linux" --trace "$port" "$psr" >"$work/linux.out" 2>&1
stop_module

for build in windows linux; do
  # Read from a file: grep -q leaving a pipe early would fail the pipeline (pipefail).
  tr -d '\r' <"$work/$build.out" >"$work/$build.text"
  if ! grep -q "trace : BCSP PEER RESET RECEIVED" "$work/$build.text" ||
     grep -q "Timeout waiting for the Reset response" "$work/$build.text"; then
    echo "the $build build did not end on the module's restart"
    grep -v "_STATE" "$work/$build.text" | tail -20
    exit 1
  fi
done

diff "$work/linux.psr" "$work/windows.psr" || { echo "the stores differ"; exit 1; }
echo "psconfig.exe left the same PS store as the Linux psconfig: $(grep -c '^&' "$work/windows.psr") keys"
