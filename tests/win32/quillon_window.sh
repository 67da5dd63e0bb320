#!/usr/bin/env bash
# quillon.exe under Wine, driven through its window as a user would, through a whole
# direct-programming run against the Linux module simulator on a Wine COM port: the registry
# names no stack port, the user types COM5:, presses Start, is asked whether to stop and says No,
# and closes the dialog when the setup is done. The texts of the dialog and its boxes are checked
# at each step, and the module's store at the end.
#   quillon_window.sh QUILLON.EXE QUILLON_DRIVER.EXE LINUX-MODSIM PSRFILE
# Needs an X server: runs itself again under xvfb-run when DISPLAY is not set.
set -Eeuo pipefail
# A step that fails without a message of its own still says which it was.
trap 'status=$?; [ "$BASH_SUBSHELL" -ne 0 ] || echo "line $LINENO: \"$BASH_COMMAND\" ended with status $status"' ERR
quillon=$1
driver=$2
modsim=$3
psr=$4
[ -x "$modsim" ] || { echo "the Linux build is not there: SKIPPED"; exit 77; }
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "xvfb-run is missing: SKIPPED"; exit 77; }
  exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$@"
fi

source "$(dirname "$0")/own_wine_prefix.sh"
use_own_wine_prefix
work=$(mktemp -d)
module=
program=
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  [ -n "$module" ] && kill "$module" 2>/dev/null || true
  rm -rf "$work"
  end_own_wine_prefix
}
trap cleanup EXIT

drive() { wine "$driver" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
expect() {  # expect ID TEXT [SECONDS] WHEN
  local shown
  if ! shown=$(drive expect "$1" "$2" "${3:-10}"); then
    echo "$4: control $1 shows '$shown', expected '$2'; the status line: '$(drive text 1000 2>/dev/null)'"
    exit 1
  fi
}
expect_box() {  # expect_box CAPTION ANSWER TEXT
  local shown
  shown=$(drive box "$1" "$2") || { echo "no \"$1\" box"; exit 1; }
  [ "$shown" = "$3" ] || { echo "the \"$1\" box says '$shown', expected '$3'"; exit 1; }
}

wine reg delete 'HKLM\Software\Microsoft\Bluetooth' /f </dev/null >/dev/null 2>&1 || true
wine reg delete 'HKLM\Software\Norvale\Quillon' /f </dev/null >/dev/null 2>&1 || true

"$modsim" --answer-delay 200 --save "$work/store.psr" >"$work/modsim.out" 2>&1 &
module=$!
for _ in $(seq 100); do grep -q "modsim: port" "$work/modsim.out" && break; sleep 0.05; done
port=$(sed -n 's/^modsim: port //p' "$work/modsim.out")
[ -n "$port" ] || { echo "the simulator did not start"; cat "$work/modsim.out"; exit 1; }
ln -sf "$port" "$WINEPREFIX/dosdevices/com5"

# The program's folder: the program and one PSR file.
cp "$quillon" "$work/quillon.exe"
cp "$psr" "$work/module.psr"
wine "$work/quillon.exe" </dev/null >/dev/null 2>&1 &
program=$!
drive wait || { echo "quillon.exe showed no dialog"; exit 1; }

expect 1000 "Unable to retrieve the Bluetooth Serial port (101)." 30 "start-up without a stack"
expect 1001 "???" 1 "start-up"
expect 1002 "module.psr" 1 "start-up"
expect 1003 "Start" 1 "start-up"
[ "$(drive list 1002)" = "module.psr" ] || { echo "the list holds '$(drive list 1002)'"; exit 1; }

drive type 1001 COM5:
drive press 1003
expect 1003 "Stop" 10 "after Start"
drive press 1003
expect_box "Please confirm" no "Are you sure to stop the PS Key programmation?"
expect 1003 "Stop" 1 "after No to the stop question"
expect 1003 "Close" 60 "after programming"
expect 1000 "Quillon done. Please suspend and resume your device." 5 "after programming"
drive press 1003
drive gone || { echo "\"Close\" left the dialog open"; exit 1; }
wait "$program" || { echo "quillon.exe ended with status $?"; exit 1; }
program=

kill -INT "$module"
wait "$module" || true
module=
grep -q "^&01be = 01d8" "$work/store.psr" || { echo "the module's store lacks the file's keys:"; cat "$work/store.psr"; exit 1; }
echo "quillon.exe programmed $(grep -c '^&' "$work/store.psr") keys through its window and closed"
