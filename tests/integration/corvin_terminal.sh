#!/usr/bin/env bash
# corvin in a terminal (tmux), driven by keys and read off the screen, against an emulated
# device's registry that another process rewrites meanwhile.
#   corvin_terminal.sh CORVIN
set -euo pipefail
corvin=$1
command -v tmux >/dev/null || { echo "tmux is missing: SKIPPED"; exit 77; }

root=$(mktemp -d)
socket="corvin-test-$$"
tmux_() { tmux -L "$socket" -f /dev/null "$@"; }
writer=
class_file=
cleanup() {
  [ -n "$writer" ] && kill "$writer" 2>/dev/null || true
  tmux_ kill-server 2>/dev/null || true
  rm -rf "$root"
  [ -n "$class_file" ] && rm -f "$class_file"
}
trap cleanup EXIT

key='HKEY_LOCAL_MACHINE\Software\Microsoft\Bluetooth\Transports\BuiltIn\1'
# Replaces the registry file as the registry does: a whole new file renamed over the old one.
registry() {
  printf 'Windows Registry Editor Version 5.00\n\n%s' "$1" >"$root/registry.new"
  mv -f "$root/registry.new" "$root/registry.reg"
}
baud() { registry "[$key]"$'\n'"\"baud\"=$1"$'\n'; }

screen() { tmux_ capture-pane -p -t corvin:0; }
# The field's text: the line below the label, without the frame.
field() { screen | grep -A1 'Rate:' | tail -1 | sed 's/│//g; s/^ *//; s/ *$//; s/_*$//'; }
wait_for() {  # wait_for DESCRIPTION COMMAND...: until the command succeeds, 10 s at most
  local what=$1
  shift
  for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done
  echo "timed out waiting for $what"
  screen
  exit 1
}
field_is() { [ "$(field)" = "$1" ]; }
field_is_not() { [ "$(field)" != "$1" ]; }
# Presses "Get Baud Rate" (Enter in the field) after putting a marker in the field, and waits
# until the press replaced the marker, unless the field is expected to keep it.
press() {
  tmux_ send-keys -t corvin:0 End $(printf 'BSpace %.0s' $(seq 30)) "#"
  wait_for "the marker" field_is "#"
  tmux_ send-keys -t corvin:0 Enter
  if [ "${1:-}" = keeps ]; then sleep 0.3; else wait_for "the press" field_is_not "#"; fi
}
expect() {
  local shown
  shown=$(field)
  [ "$shown" = "$1" ] || { echo "after $2: the field shows '$shown', expected '$1'"; screen; exit 1; }
}

baud 'dword:000e1000'
# A terminal type that ncurses does not know: the reason on standard error and status 2.
tmux_ new-session -d -s unknown -x 80 -y 24 -e "QUILLON_DEVICE_ROOT=$root" \
  "TERM=quillon-no-such-terminal '$corvin' 2>'$root/unknown.err'; echo \$? >'$root/unknown'; sleep 60"
wait_for "corvin on an unknown terminal to end" test -s "$root/unknown"
[ "$(cat "$root/unknown")" = 2 ] || { echo "on an unknown terminal corvin ended with $(cat "$root/unknown")"; exit 1; }
grep -qF 'corvin: the dialog cannot be drawn: the terminal type "quillon-no-such-terminal" is unknown' \
  "$root/unknown.err" || { echo "corvin did not say why:"; cat "$root/unknown.err"; exit 1; }
tmux_ new-session -d -s corvin -x 80 -y 24 -e "QUILLON_DEVICE_ROOT=$root" "'$corvin'; echo \$? >'$root/first'; sleep 60"
wait_for "the dialog" sh -c "tmux -L $socket capture-pane -p -t corvin:0 | grep -q 'Get Baud Rate'"
screen | grep -q ' Dialog ' || { echo "no title"; screen; exit 1; }
# The device's lock that stands for corvin's window class, removed at the end.
pane=$(tmux_ display-message -p -t corvin:0 '#{pane_pid}')
class_file=$(for fd in /proc/$(pgrep -P "$pane" | head -1)/fd/*; do readlink "$fd"; done | grep 'class\.Corvin$' || true)
[ -n "$class_file" ] || { echo "corvin holds no lock for its window class"; exit 1; }
# A larger terminal: the dialog is drawn again in its middle.
title_row() { screen | grep -n ' Dialog ' | cut -d: -f1; }
[ "$(title_row)" = 6 ] || { echo "the title is on line $(title_row) of 24"; screen; exit 1; }
tmux_ resize-window -t corvin:0 -x 100 -y 30
wait_for "the dialog in the middle of 30 lines" sh -c "[ \"\$(tmux -L $socket capture-pane -p -t corvin:0 | grep -n ' Dialog ' | cut -d: -f1)\" = 9 ]"
tmux_ send-keys -t corvin:0 Enter  # the default button has the keyboard at first
wait_for "921600" field_is 921600
tmux_ send-keys -t corvin:0 BTab   # into the field: Enter there presses the default button

baud 'dword:80000000'
press
expect 2147483648 "a baud rate with the top bit set"

registry "[$key]"$'\n'
press keeps
expect "#" "a key without \"baud\""

for value in '"115200"' 'hex:00,c2,01' 'hex(b):00,c2,01,00,00,00,00,00'; do
  baud "$value"
  press
  expect "Invalid baud rate value" "a \"baud\" of $value"
done

printf 'Windows Registry Editor Version 5.00\n\n[%s\n"baud"=dword:0001c200\n' "$key" >"$root/registry.reg"
press
expect "No Bluetooth detected" "a damaged registry file"

registry '[HKEY_LOCAL_MACHINE\Software\Microsoft\Bluetooth]'$'\n'
press
expect "No Bluetooth detected" "the key removed"

# Another process rewrites the value as fast as it can: every press shows one whole value.
( while :; do baud 'dword:00002580'; baud 'dword:0001c200'; done ) &
writer=$!
for _ in $(seq 25); do
  press
  case "$(field)" in
    9600 | 115200) ;;
    *) echo "while the registry was rewritten the field showed '$(field)'"; exit 1 ;;
  esac
done
kill "$writer"
wait "$writer" 2>/dev/null || true
writer=

# A second start on the same device finds the first, brings its tmux window to the front and ends.
tmux_ new-window -t corvin -e "QUILLON_DEVICE_ROOT=$root" "'$corvin'; echo \$? >'$root/second'; sleep 60"
wait_for "the second start to end" test -s "$root/second"
[ "$(cat "$root/second")" = 0 ] || { echo "the second start ended with $(cat "$root/second")"; exit 1; }
wait_for "the first window in front" sh -c "[ \"\$(tmux -L $socket display-message -p -t corvin '#{window_index}')\" = 0 ]"
tmux_ capture-pane -p -t corvin:1 | grep -q 'Get Baud Rate' && { echo "the second start showed a dialog"; exit 1; }

# "Quit": Tab from the field to "Get Baud Rate", again to "Quit", Enter.
tmux_ send-keys -t corvin:0 Tab Tab Enter
wait_for "corvin to end" test -s "$root/first"
[ "$(cat "$root/first")" = 0 ] || { echo "corvin ended with $(cat "$root/first")"; exit 1; }
[ ! -e "$class_file" ] || { echo "corvin left its window class's lock behind"; exit 1; }
echo "corvin showed what the registry held, also while it was rewritten, and a second start found the first"
