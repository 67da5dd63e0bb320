#!/usr/bin/env bash
# corvin.exe driven through its window under Wine, against the Windows registry: the test presses
# "Get Baud Rate" and "Quit" and reads the field, as a user would, while it changes the registry.
#   corvin_window.sh CORVIN.EXE DIALOG_DRIVER.EXE
# Needs an X server: runs itself again under xvfb-run when DISPLAY is not set.
set -Eeuo pipefail
# A step that fails without a message of its own still says which it was.
trap 'status=$?; [ "$BASH_SUBSHELL" -ne 0 ] || echo "line $LINENO: \"$BASH_COMMAND\" ended with status $status"' ERR
corvin=$1
driver=$2
if [ -z "${DISPLAY:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "xvfb-run is missing: SKIPPED"; exit 77; }
  exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$@"
fi

source "$(dirname "$0")/own_wine_prefix.sh"
use_own_wine_prefix
trap end_own_wine_prefix EXIT

key='HKLM\Software\Microsoft\Bluetooth\Transports\BuiltIn\1'
field=1000
drive() { wine "$driver" Corvin "$@" </dev/null 2>&1 | tr -d '\r'; }
expect_field() {
  local shown
  shown=$(drive text $field)
  [ "$shown" = "$1" ] || { echo "after $2: the field shows '$shown', expected '$1'"; exit 1; }
}
set_baud() { wine reg add "$key" /v baud /t "$1" /d "$2" /f </dev/null >/dev/null 2>&1; }

wine reg delete "$key" /f </dev/null >/dev/null 2>&1 || true
set_baud REG_DWORD 921600

wine "$corvin" </dev/null >/dev/null 2>&1 &
first=$!
trap 'kill $first 2>/dev/null || true; end_own_wine_prefix' EXIT
drive wait || { echo "corvin.exe showed no window"; exit 1; }
[ "$(drive title)" = "Dialog" ] || { echo "the window's title is '$(drive title)'"; exit 1; }
expect_field "" "start"

drive press 1
expect_field 921600 "a baud rate of 921600"

set_baud REG_DWORD 0x80000000
drive press 1
expect_field 2147483648 "a baud rate with the top bit set"

wine reg delete "$key" /v baud /f </dev/null >/dev/null 2>&1
drive type $field "typed by hand"
drive press 1
expect_field "typed by hand" "a key without \"baud\""

set_baud REG_SZ 115200
drive press 1
expect_field "Invalid baud rate value" "a \"baud\" string"

set_baud REG_DWORD 115200
drive press 1
expect_field 115200 "a baud rate of 115200"
wine reg delete "$key" /f </dev/null >/dev/null 2>&1
drive press 1
expect_field "No Bluetooth detected" "the key removed"

# A second start finds the first, brings it to the front and ends.
timeout 20 wine "$corvin" </dev/null >/dev/null 2>&1 || { echo "the second start ended with status $? (124: it did not end)"; exit 1; }
[ "$(drive count)" = 1 ] || { echo "a second start left $(drive count) windows"; exit 1; }

drive press 2
drive gone || { echo "\"Quit\" left the window open"; exit 1; }
wait $first || { echo "corvin.exe ended with status $?"; exit 1; }
echo "corvin.exe showed what the registry held, and a second start found the first"
