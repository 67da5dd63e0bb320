#!/usr/bin/env bash
# A power cut at every persistent change of the setup, with the real processes.
#
# First an undisturbed setup on a fresh emulated device (Start, Reset, Reset, Close through the
# terminal dialog in tmux) counts the device's persistent changes (QUILLON_POWER_CUT_AT=0): each
# is a cut point. Then, for each cut point N, on a fresh device: the setup runs until change N
# freezes its process, every process of the device is killed (the power cut), and the device is
# powered up again and used as a person would: whatever the dialog offers is pressed (Start
# again after a setup that was rolled back), message boxes are answered, and a device run that
# ends without the setup done is started once more, as Quillon would be started by hand. At the
# end the device must be whole: the stack up at the rate the module talks at, every key of the
# PSR file in the module's store, the stack's transport key as init made it (but "baud"), no
# backup key and no shortcut left.
#
#   power_cut.sh QUILLON QUILLON-DEVICE MODSIM PSRFILE
#   CUTS="3 7"   only these cut points (the count still runs first)
#   JOBS=2       two devices at a time (each has its own tmux server and device root)
#   POWER_CUT_LOG=FILE   where each failing device's report, screen and state are kept
#                        (default power_cut.log in the current folder)
# Prints "cut N (what; left ...): PASS" or "...: FAIL: reason" per cut point, then
# "P passed, F failed"; the exit status is 1 when any failed (or the undisturbed setup did).
set -euo pipefail
if [ $# -ne 4 ]; then
  echo "usage: power_cut.sh QUILLON QUILLON-DEVICE MODSIM PSRFILE" >&2
  exit 64
fi
quillon=$(realpath "$1")
device_tool=$(realpath "$2")
modsim=$(realpath "$3")
psr=$(realpath "$4")
command -v tmux >/dev/null || {
  echo "tmux is missing: SKIPPED"
  exit 77
}
# shellcheck source=device_objects.sh
source "$(dirname "$0")/device_objects.sh"
jobs=${JOBS:-1}
log=$(realpath -m "${POWER_CUT_LOG:-power_cut.log}")
work=$(mktemp -d /tmp/quillon-cut-XXXXXX)
samples=$work/samples
mkdir -p "$samples"
cp "$psr" "$samples/"

transport_key='HKEY_LOCAL_MACHINE\Software\Microsoft\Bluetooth\Transports\BuiltIn\1'
backup_key='HKEY_LOCAL_MACHINE\Software\Norvale\Quillon'
file_rate=921600  # what the setup's PSR file sets (tests/data/power_cut.psr)
# How long one device may take to reach its cut, and then to finish the setup after power-up.
cut_seconds=40
finish_seconds=45
max_presses=12
stuck_seconds=20

# Every process, tmux server and kernel object of the devices is gone at the end, also when the
# script itself is stopped.
cleanup() {
  local case
  for case in "$work"/*/; do end_case "$case"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the processes of a device ------------------------------------------------------------------

# session_pids SID: every live process of session SID (the pane's shell made it; quillon-device,
# modsim and quillon stay in it, each in a process group of its own), the newest first.
session_pids() {
  local stat line fields pid
  for stat in /proc/[0-9]*/stat; do
    { read -r line <"$stat"; } 2>/dev/null || continue
    read -r -a fields <<<"${line##*) }"
    if [ "${fields[3]}" != "$1" ] || [ "${fields[0]}" = Z ]; then continue; fi
    pid=${stat#/proc/}
    echo "${fields[19]} ${pid%/stat}"  # the start time
  done | sort -rn | cut -d' ' -f2
}

# power_off SID: the power cut. The device's processes are stopped first, so that none moves on
# while the others are killed; a process started meanwhile is caught by the next pass. The pane's
# shell (SID itself) is not the device and is never stopped: tmux continues the process group of
# a pane whose process stops, and quillon-device is in that group. Children are killed before
# their parents: a parent's death would leave its stopped children's process group orphaned, and
# the kernel wakes such a group (SIGHUP, SIGCONT).
power_off() {
  local sid=$1 pids
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    pids=$(session_pids "$sid" | grep -vx -- "$sid" || true)
    if [ -z "$pids" ]; then
      kill -KILL "$sid" 2>/dev/null || true
      [ -z "$(session_pids "$sid")" ] && return 0
      continue
    fi
    # shellcheck disable=SC2086  # one pid a word
    kill -STOP $pids 2>/dev/null || true
    # shellcheck disable=SC2086
    if [ "$pids" = "$(session_pids "$sid" | grep -vx -- "$sid")" ]; then kill -KILL $pids 2>/dev/null || true; fi
    sleep 0.05
  done
  echo "power_off: session $sid still has processes: $(session_pids "$sid")" >&2
}

# --- one device -----------------------------------------------------------------------------------

# These are set by run_case for its device (each case runs in a subshell of its own).
dir=""
socket=""
session=""
tmux_() { tmux -L "$socket" -f /dev/null "$@"; }
screen() { tmux_ capture-pane -p -t "$session" 2>/dev/null || true; }
# The screen's text as one line of words: a status text may be wrapped over two lines.
words() { screen | sed 's/[│┌┐└┘─]/ /g' | tr -s ' \n' '  '; }
session_id() { tmux_ display-message -p -t "$session" '#{pane_pid}' 2>/dev/null; }

# start_device NAME [VARIABLE=VALUE...]: `quillon-device run` in a new tmux session NAME, its
# output also recorded in $dir/NAME.out (pipe-pane is set up before the device says anything).
start_device() {
  local name=$1 command
  shift
  session=$name
  echo "$name" >>"$dir/runs"
  command=$(printf '%q ' env "$@" "$device_tool" --root "$dir/device" run --modsim "$modsim")
  tmux_ new-session -d -s "$name" -x 100 -y 34 \
    "tmux -L '$socket' -f /dev/null wait-for go-$name; $command; echo \"== device off (exit \$?)\"; sleep 3600"
  tmux_ pipe-pane -t "$name" "cat >>'$dir/$name.out'"
  session_id >>"$dir/sessions"
  tmux_ wait-for -S "go-$name"
}

# The device's report of a recorded session: what it wrote outside the dialog's screen (the
# alternate screen, between ESC[?1049h and ESC[?1049l), without terminal controls.
report_of() {
  [ -e "$dir/$1.out" ] || return 0
  awk '
    {
      line = $0; out = ""
      for (;;) {
        if (inside) {
          at = index(line, "\033[?1049l")
          if (!at) { line = ""; break }
          line = substr(line, at + 8); inside = 0
        }
        at = index(line, "\033[?1049h")
        if (!at) { out = out line; break }
        out = out substr(line, 1, at - 1); line = substr(line, at + 8); inside = 1
      }
      gsub(/\033\[[0-9;?]*[a-zA-Z]/, "", out); gsub(/\033[()][0-9A-Za-z]/, "", out); gsub(/\033[=>]/, "", out)
      gsub(/\r/, "", out)
      if (out != "") print out
    }' "$dir/$1.out"
}

# The process of the dialog: the newest quillon of the session.
dialog_pid() {
  local pid comm
  for pid in $(session_pids "$1"); do
    { read -r comm <"/proc/$pid/comm"; } 2>/dev/null || continue
    if [ "$comm" = quillon ]; then
      echo "$pid"
      return
    fi
  done
}

# drive MODE SECONDS: does what a user does with the dialog until MODE's end:
#   cut      the cut file appears (status 0); the device run ends first (status 1)
#   finish   the device run ends (status 0)
# Status 2 when the time or the presses run out. Acts only on a screen that stayed the same for
# two looks, and presses once per dialog process and screen.
# Sets `closed` when Close was pressed on the finished setup.
closed=0
drive() {
  local mode=$1 deadline=$((SECONDS + $2)) presses=0 text previous="" pressed="" key press sid since=$SECONDS
  sid=$(session_id)
  while :; do
    [ "$mode" = cut ] && [ -e "$dir/counter.cut" ] && return 0
    text=$(words)
    if [[ $text == *"== device off"* ]]; then
      [ "$mode" = cut ] && return 1
      return 0
    fi
    if ((SECONDS > deadline)); then
      echo "it timed out; the screen shows: $(cut -c1-160 <<<"$text")" >"$dir/why"
      return 2
    fi
    if [ "$text" != "$previous" ]; then
      previous=$text
      since=$SECONDS
      sleep 0.2
      continue
    fi
    # A programming run that shows nothing new for this long has lost its module (a whole one
    # takes a second or two): the user would give up on it.
    if [[ $text == *"[ Stop ]"* ]] && ((SECONDS - since > stuck_seconds)); then
      echo "the programming run stayed at \"${text##*\[ Stop \] }\" for $stuck_seconds s" >"$dir/why"
      return 2
    fi
    key="$(dialog_pid "$sid")|$text"
    press=""
    if [[ $key == "|"* || $key == "$pressed" ]]; then
      press=""
    elif [[ $text =~ \[\ *Yes\ *\] ]]; then
      press=n
    elif [[ $text =~ \[\ *(OK|Close|Reset|Start)\ *\] ]]; then
      press=Enter
      [[ $text == *"[ Close ]"* && $text == *"Quillon done."* ]] && closed=1
    fi
    if [ -n "$press" ]; then
      if ((++presses > max_presses)); then
        echo "the dialog still asked for a press after $max_presses" >"$dir/why"
        return 2
      fi
      echo "press $press on: $text" >>"$dir/presses"
      tmux_ send-keys -t "$session" "$press"
      pressed=$key
    fi
    sleep 0.2
  done
}

# The values of one registry key, a line each ("name"=value, the name in lower case), sorted.
registry_values() {
  # Through the environment: awk -v would take the key's backslashes for escapes.
  WANTED="[$2]" awk '
    /^\[/ { inside = tolower($0) == tolower(ENVIRON["WANTED"]); next }
    inside && /^"/ {
      line = $0
      while (line ~ /\\$/ && (getline more) > 0) { sub(/\\$/, "", line); sub(/^[ \t]+/, "", more); line = line more }
      split(line, parts, "\"="); print tolower(parts[1]) "\"=" substr(line, length(parts[1]) + 3)
    }' "$1" | sort
}

# The report of the last boot: from the module's power-up on (its line comes before "boot 1"
# and after each later "boot N").
last_boot() { awk '/^module: simulator on /{ text = "" } { text = text $0 "\n" } END { printf "%s", text }'; }

# Prints why the device is not whole (nothing when it is). $1: the last device run's report;
# $2: the rate its stack must have come up at (empty: the module's, as its power-up said).
check_device() {
  local device=$dir/device boot rate line
  boot=$(last_boot <<<"$1")
  rate=${2:-$(sed -n 's/^module: simulator on COM4: at \([0-9]*\),.*/\1/p' <<<"$boot")}
  grep -q "^stack up on COM4: at $rate\$" <<<"$boot" ||
    echo "the last boot's stack did not come up at ${rate:-the rate the module named}: $(grep -m1 '^stack ' <<<"$boot" || echo 'no stack line')"
  # The file's key lines are written as the module's store writes them.
  while read -r line; do
    grep -qxF -- "$line" "$device/module-store.psr" 2>/dev/null || echo "the module does not hold $line"
  done < <(grep '^&' "$psr")
  registry_values "$device/registry.reg" "$transport_key" >"$dir/transport-at-end"
  while read -r line; do
    [[ $line == '"baud"='* ]] || grep -qxF -- "$line" "$dir/transport-at-end" || echo "the transport key lost $line"
  done <"$dir/transport-after-init"
  grep -q '^"name"="XXX' "$dir/transport-at-end" && echo "the transport's Name is still marked"
  grep -qiF "[$backup_key]" "$device/registry.reg" && echo "the backup key is left"
  [ -z "$(find "$device/Windows" -iname '*.lnk')" ] || echo "a shortcut is left"
  return 0
}

# What the frozen device holds at the cut, in short: the port's mark, the backup, the shortcut
# and the rate in the stack's transport key.
state_at_cut() {
  local device=$dir/device values link parts=()
  values=$(registry_values "$device/registry.reg" "$transport_key")
  grep -q '^"name"="XXX' <<<"$values" && parts+=("port marked")
  grep -qiF "[$backup_key]" "$device/registry.reg" && parts+=("backup")
  link=$(find "$device/Windows" -iname '*.lnk' | head -1)
  [ -z "$link" ] || parts+=("shortcut $(tr -d '\0' <"$link" | grep -o 'state:[0-9]*' || echo empty)")
  values=$(sed -n 's/^"baud"=dword:\([0-9a-f]*\)$/\1/p' <<<"$values")
  parts+=("stack at $((16#${values:-0}))")
  local joined
  joined=$(printf '%s, ' "${parts[@]}")
  echo "${joined%, }"
}

# Keeps what a failing device shows, for the log.
keep_evidence() {
  local name
  {
    echo "==== $1"
    while read -r name; do
      echo "-- the device's report, $name:"
      report_of "$name" | sed 's/^/   /'
    done <"$dir/runs"
    echo "-- the last screen:"
    screen | sed 's/^/   /'
    echo "-- presses:"
    sed 's/^/   /' "$dir/presses" 2>/dev/null || true
    echo "-- the cut: $(cat "$dir/counter.cut" 2>/dev/null || echo none)"
    echo "-- registry:"
    sed 's/^/   /' "$dir/device/registry.reg" 2>/dev/null || true
    echo "-- module store:"
    sed 's/^/   /' "$dir/device/module-store.psr" 2>/dev/null || echo "   (none)"
  } >"$dir/evidence"
}
fail() {  # fail WHAT REASON: the result, with the evidence kept
  keep_evidence "$1"
  echo "FAIL: $2" >"$dir/result"
}

# run_case N: one fresh device cut at change N (N=0: the undisturbed setup that counts them).
# Leaves "PASS" or "FAIL: reason" in $dir/result.
run_case() {
  local n=$1 what="cut $1" problems status=0 tries
  [ "$n" = 0 ] && what="the undisturbed setup"
  dir=$work/$n
  socket="quillon-cut-$$-$n"
  echo "$socket" >"$dir/socket"
  "$device_tool" --root "$dir/device" init --program "$quillon" --samples "$samples" >/dev/null
  registry_values "$dir/device/registry.reg" "$transport_key" >"$dir/transport-after-init"
  grep -q '^"name"=' "$dir/transport-after-init" || {
    echo "FAIL: harness: init made no transport key with a Name" >"$dir/result"
    return
  }
  # A session that outlives the device's: the server ends with its last session.
  tmux_ new-session -d -s keep "sleep 3600"
  start_device before QUILLON_POWER_CUT_COUNTER="$dir/counter" QUILLON_POWER_CUT_AT="$n"
  if [ "$n" = 0 ]; then
    drive finish "$finish_seconds" || { fail "$what" "$(cat "$dir/why")" && return; }
  else
    drive cut "$cut_seconds" || status=$?
    case $status in
      0) ;;
      1) fail "$what" "harness: the device run ended before change $n" && return ;;
      *) fail "$what" "harness: change $n did not come: $(cat "$dir/why")" && return ;;
    esac
    power_off "$(session_id)"
    state_at_cut >"$dir/at-cut"
    # The process that made change N stopped with the count locked: nothing counted past it.
    if [ "$(wc -l <"$dir/counter.log")" != "$n" ] || [ "$(cat "$dir/counter")" != "$n" ]; then
      fail "$what" "harness: the device counted past change $n before it was cut" && return
    fi
    closed=0
    for tries in 1 2; do
      start_device "after$tries"
      drive finish "$finish_seconds" || { fail "$what" "after the power-up, $(cat "$dir/why")" && return; }
      # Ended without the setup done (nothing started, or the program gave up): Quillon is
      # started once more by hand.
      [ "$closed" = 1 ] && break
    done
  fi
  # Undisturbed, the setup must also have moved the module to the rate the file asks for.
  problems=$(check_device "$(report_of "$session")" "$([ "$n" = 0 ] && echo "$file_rate")")
  if [ -n "$problems" ]; then
    fail "$what" "$(paste -sd ';' <<<"$problems" | sed 's/;/; /g')"
  else
    echo PASS >"$dir/result"
  fi
}

# end_case DIR: the case's processes, tmux server and kernel objects are gone.
end_case() {
  local sid
  if [ -e "$1/sessions" ]; then while read -r sid; do power_off "$sid"; done <"$1/sessions"; fi
  if [ -e "$1/socket" ]; then tmux -L "$(cat "$1/socket")" -f /dev/null kill-server 2>/dev/null || true; fi
  if [ -d "$1/device" ]; then rm -f "/dev/shm/$(object_prefix "$1/device")".*; fi
  return 0
}
case_job() {
  mkdir -p "$work/$1"
  (
    run_case "$1" || echo "FAIL: harness: the case stopped ($?)" >"$work/$1/result"
    end_case "$work/$1"
  ) >"$work/$1.stdout" 2>&1
}

# The label of cut point N: what the change was, as the count logged it.
label() { awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^  /, ""); print }' "$work/0/counter.log" | sed "s|$work/0/device||"; }

started=$SECONDS
: >"$log"
case_job 0
count_result=$(cat "$work/0/result")
count=$(wc -l <"$work/0/counter.log" 2>/dev/null || echo 0)
echo "undisturbed setup: $count cut points, $count_result ($((SECONDS - started)) s)"
if [ "$count_result" != PASS ]; then
  cat "$work/0/evidence" >>"$log" 2>/dev/null || true
  echo "the undisturbed setup must pass before its cut points mean anything; see $log"
  exit 1
fi

cuts=$(tr ' ' '\n' <<<"${CUTS:-$(seq "$count")}" | sed '/^$/d' | sort -un | tr '\n' ' ')
for n in $cuts; do
  if ! [[ $n =~ ^[0-9]+$ ]] || ((n < 1 || n > count)); then
    echo "CUTS: $n is not a cut point (1 to $count)"
    exit 64
  fi
done

# JOBS devices at a time; the lines come in order once all are done.
for n in $cuts; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  case_job "$n" &
done
wait
passed=0
failed=0
for n in $cuts; do
  result=$(cat "$work/$n/result" 2>/dev/null || echo "FAIL: harness: no result")
  echo "cut $n ($(label "$n"); left $(cat "$work/$n/at-cut" 2>/dev/null || echo "?")): $result"
  if [ "$result" = PASS ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    cat "$work/$n/evidence" >>"$log" 2>/dev/null || true
  fi
done
echo "($((SECONDS - started)) s; failing devices are described in $log)"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
