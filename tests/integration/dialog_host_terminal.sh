#!/usr/bin/env bash
# The terminal dialog host in tmux: messages posted by another thread redraw the dialog, a list
# answers the arrows, a Yes/No message box answers its keys, Esc ends a modal dialog.
#   dialog_host_terminal.sh DIALOG_HOST_PROBE
set -euo pipefail
probe=$1
command -v tmux >/dev/null || { echo "tmux is missing: SKIPPED"; exit 77; }
root=$(mktemp -d)
socket="dialog-host-test-$$"
tmux_() { tmux -L "$socket" -f /dev/null "$@"; }
trap 'tmux_ kill-server 2>/dev/null || true; rm -rf "$root"' EXIT

screen() { tmux_ capture-pane -p -t probe; }
shows() { screen | grep -qF -- "$1"; }
wait_for() {
  for _ in $(seq 200); do shows "$1" && return 0; sleep 0.05; done
  echo "timed out waiting for: $1"
  screen
  exit 1
}

tmux_ new-session -d -s probe -x 80 -y 24 -e "QUILLON_DEVICE_ROOT=$root" "'$probe'; sleep 60"
wait_for "update 3 COM4:"      # posted from another thread; no key was pressed
wait_for "a.psr"                # sorted, the selected item shown
tmux_ send-keys -t probe Tab Tab Down   # from the field to the button, then to the list
wait_for "b.psr"
tmux_ send-keys -t probe BTab Enter     # back to the button, press it
wait_for "[ Yes ] [ No  ]"
shows "Please confirm" || { echo "the box has no caption"; screen; exit 1; }
tmux_ send-keys -t probe n
wait_for "answer: no"
shows "[ Yes ]" && { echo "the box stayed open"; screen; exit 1; }
tmux_ send-keys -t probe Enter
wait_for "[ Yes ] [ No  ]"
tmux_ send-keys -t probe Enter
wait_for "answer: yes"
tmux_ send-keys -t probe Escape
wait_for "ended 2"
echo "the terminal dialog host redrew for posted messages and answered keys, lists and message boxes"
