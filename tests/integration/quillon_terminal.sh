#!/usr/bin/env bash
# quillon's terminal dialog in tmux, started by hand on an emulated device: a terminal too small
# for the dialog says so, the dialog appears when the terminal grows; Esc on the port field asks
# nothing and closes; Ctrl-C closes the dialog its own way (exit status 0, the terminal handed back);
# Enter typed before the dialog is up presses Start with the stack's port, not the field's first text.
# While the dialog or a message box does not fit, keys other than Esc do nothing. An unknown
# terminal type ends the program with status 2 and a reason.
#   quillon_terminal.sh QUILLON QUILLON-DEVICE SAMPLES
set -euo pipefail
quillon=$1
device_tool=$2
samples=$3
command -v tmux >/dev/null || { echo "tmux is missing: SKIPPED"; exit 77; }
work=$(mktemp -d)
socket="quillon-test-$$"
tmux_() { tmux -L "$socket" -f /dev/null "$@"; }
cleanup() {
  tmux_ kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
"$device_tool" --root "$work/device" init --program "$quillon" --samples "$samples" >/dev/null
program="$work/device/Program Files/Quillon/quillon"

# A session that outlives each test session: killing the last session ends the server, and a
# new-session that comes while it ends fails with "server exited unexpectedly".
tmux_ new-session -d -s keep "sleep 600"

words() { tmux_ capture-pane -p -t t | sed 's/[│┌┐└┘─]/ /g' | tr -s ' \n' '  '; }
wait_for() {  # up to 30 s, for a heavily loaded machine
  for _ in $(seq 600); do words | grep -qF -- "$1" && return 0; sleep 0.05; done
  echo "timed out waiting for \"$1\"; the screen shows:"
  tmux_ capture-pane -p -t t
  exit 1
}
start() {  # start COLUMNS ROWS: the program in a new tmux session; its exit status lands in $work/status
  rm -f "$work/status"
  tmux_ new-session -d -s t -x "$1" -y "$2" \
    "QUILLON_DEVICE_ROOT='$work/device' '$program'; echo \$? >'$work/status'; echo PROGRAM-ENDED; sleep 30"
}
ended_with() {
  wait_for "PROGRAM-ENDED"
  [ "$(cat "$work/status")" = "$1" ] || { echo "$2: the program ended with $(cat "$work/status")"; exit 1; }
  tmux_ kill-session -t t
}

# shellcheck source=device_objects.sh
source "$(dirname "$0")/device_objects.sh"

# A terminal type that ncurses does not know: the reason on standard error, status 2, and the
# trace's objects removed as at any other end.
rm -f "$work/status"
tmux_ new-session -d -s t -x 60 -y 20 "TERM=quillon-no-such-terminal QUILLON_DEVICE_ROOT='$work/device' \
  '$program' 2>'$work/stderr'; echo \$? >'$work/status'; echo PROGRAM-ENDED; sleep 30"
ended_with 2 "an unknown terminal type"
grep -qF 'terminal type "quillon-no-such-terminal" is unknown' "$work/stderr" ||
  { echo "standard error did not say why:"; cat "$work/stderr"; exit 1; }
prefix=$(object_prefix "$work/device")
if ls /dev/shm | grep -qF "$prefix"; then echo "objects left behind:"; ls /dev/shm | grep -F "$prefix"; exit 1; fi

start 30 10
wait_for "too small for the Quillon dialog: it needs 41 x 15 characters, it has 30 x 10."
# Unseen, Enter would start run 1 and the typing would land in the port field.
tmux_ send-keys -t t x Enter
sleep 0.5
tmux_ resize-window -t t -x 60 -y 20
wait_for "PSR File: module.psr"
wait_for "[ Start ]"
if words | grep -qF "COM4:x"; then echo "a key typed while the dialog did not fit edited the field"; exit 1; fi
# The same for a message box: the confirmation of another port, in a terminal too small for it.
tmux_ send-keys -t t BSpace BSpace "9:" Enter
wait_for "Are you sure about using COM9: port?"
tmux_ resize-window -t t -x 20 -y 6
wait_for "too small for the message"
tmux_ send-keys -t t y
sleep 0.5
tmux_ resize-window -t t -x 60 -y 20
wait_for "Are you sure about using COM9: port?"
tmux_ send-keys -t t Escape
wait_for "[ Start ]"
tmux_ send-keys -t t Escape
ended_with 0 "Esc"

start 60 20
wait_for "[ Start ]"
tmux_ send-keys -t t C-c
ended_with 0 "Ctrl-C"

# Typed ahead: the key waits in the terminal while the program starts. The start-up's posted
# update (the stack's port COM4: in the field) is handled before it, so Start runs the setup
# instead of asking about the field's first text "???".
rm -f "$work/status"
tmux_ new-session -d -s t -x 60 -y 20 \
  "sleep 1; QUILLON_DEVICE_ROOT='$work/device' '$program'; echo \$? >'$work/status'; echo PROGRAM-ENDED; sleep 30"
tmux_ send-keys -t t Enter
wait_for "Please Reset your device to proceed."
tmux_ send-keys -t t Escape
ended_with 0 "Esc after Start"
echo "the terminal dialog asked for room, drew itself when it had it, closed on Esc and Ctrl-C, and took a key typed ahead after its start-up"
