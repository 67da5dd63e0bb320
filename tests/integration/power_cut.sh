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
#   POWER_CUT_KEEP=1     keeps every device's folder (the path is printed at the end)
# Prints "cut N (what): PASS" or "cut N (what): FAIL: reason" per cut point, then
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
jobs=${JOBS:-1}
log=$(realpath -m "${POWER_CUT_LOG:-power_cut.log}")
work=$(mktemp -d /tmp/quillon-cut-XXXXXX)
samples=$work/samples
mkdir -p "$samples"
cp "$psr" "$samples/"

transport_key='HKEY_LOCAL_MACHINE\Software\Microsoft\Bluetooth\Transports\BuiltIn\1'
backup_key='HKEY_LOCAL_MACHINE\Software\Norvale\Quillon'
# How long one device may take to reach its cut, and then to finish the setup after power-up.
cut_seconds=40
finish_seconds=45
max_presses=12
stuck_seconds=20

# Every process of a device session that this script started is killed at the end, also when
# the script itself is stopped.
kill_sessions() {
  local file sid
  for file in "$work"/*/sessions; do
    [ -e "$file" ] || continue
    while read -r sid; do power_off "$sid"; done <"$file"
  done
}
cleanup() {
  kill_sessions
  local socket
  for socket in "$work"/*/socket; do
    if [ -e "$socket" ]; then tmux -L "$(cat "$socket")" -f /dev/null kill-server 2>/dev/null || true; fi
  done
  if [ -n "${POWER_CUT_KEEP:-}" ]; then echo "the devices are kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- the processes of a device ------------------------------------------------------------------

# session_pids SID: every live process of session SID (the pane's shell made it; quillon-device,
# modsim and quillon stay in it, each in a process group of its own), the newest first.
session_pids() {
  local stat line pid state sid fields
  for stat in /proc/[0-9]*/stat; do
    { read -r line <"$stat"; } 2>/dev/null || continue
    line=${line##*) }
    read -r -a fields <<<"$line"
    state=${fields[0]}
    sid=${fields[3]}
    if [ "$sid" != "$1" ] || [ "$state" = Z ]; then continue; fi
    pid=${stat#/proc/}
    echo "${fields[19]} ${pid%/stat}"  # the start time
  done | sort -rn | cut -d' ' -f2
}

# power_off SID [FILE]: the power cut. The device's processes are stopped first, so that none
# moves on while the others are killed; a process started meanwhile is caught by the next pass.
# The pane's shell (SID itself) is not the device and is never stopped: tmux continues the
# process group of a pane whose process stops, and quillon-device is in that group. Children are
# killed before their parents: a parent's death would leave its stopped children's process group
# orphaned, and the kernel wakes such a group (SIGHUP, SIGCONT). FILE gets what the frozen device
# shows just before the kill: its processes ("pid name") and the kernel's file locks
# (/proc/locks: a process that waits to count its change is there).
power_off() {
  local sid=$1 frozen=${2:-} pids pid comm
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    pids=$(session_pids "$sid")
    if [ "$pids" = "$sid" ]; then
      kill -KILL "$sid" 2>/dev/null || true
      continue
    fi
    [ -n "$pids" ] || return 0
    pids=$(grep -vx -- "$sid" <<<"$pids")
    # shellcheck disable=SC2086  # one pid a word
    kill -STOP $pids 2>/dev/null || true
    if [ "$pids" = "$(session_pids "$sid" | grep -vx -- "$sid")" ]; then
      if [ -n "$frozen" ]; then
        for pid in $pids; do
          { read -r comm <"/proc/$pid/comm"; } 2>/dev/null && echo "$pid $comm"
        done >"$frozen"
        cat /proc/locks >>"$frozen"
        frozen=""
      fi
      # shellcheck disable=SC2086
      kill -KILL $pids 2>/dev/null || true
    fi
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

# start_device NAME [VARIABLE=VALUE...]: `quillon-device run` in a new tmux session NAME, its
# output also recorded in $dir/NAME.out (pipe-pane is set up before the device says anything).
start_device() {
  local name=$1 sid
  shift
  session=$name
  local command
  command=$(printf '%q ' env "$@" "$device_tool" --root "$dir/device" run --modsim "$modsim")
  tmux_ new-session -d -s "$name" -x 100 -y 34 \
    "tmux -L '$socket' -f /dev/null wait-for go-$name; $command; echo \"== device off (exit \$?)\"; sleep 3600"
  tmux_ pipe-pane -t "$name" "cat >>'$dir/$name.out'"
  sid=$(tmux_ display-message -p -t "$name" '#{pane_pid}')
  echo "$sid" >>"$dir/sessions"
  tmux_ wait-for -S "go-$name"
}

session_id() { tmux_ display-message -p -t "$session" '#{pane_pid}' 2>/dev/null; }

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

# A process is noted again once it has become another program (a spawned child before its exec).
# Its last line counts.
note_programs() {
  local sid=$1 pid comm
  for pid in $(session_pids "$sid"); do
    { read -r comm <"/proc/$pid/comm"; } 2>/dev/null || continue
    grep -qxF "$pid $comm" "$dir/programs.seen" 2>/dev/null && continue
    echo "$pid $comm" >>"$dir/programs.seen"
    echo "$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >>"$dir/programs"
  done
}

# The process of the dialog: the newest quillon of the session.
dialog_pid() {
  local pid comm found=""
  for pid in $(session_pids "$1"); do
    { read -r comm <"/proc/$pid/comm"; } 2>/dev/null || continue
    [ "$comm" = quillon ] && found=$pid
  done
  echo "$found"
}

# drive MODE SECONDS: does what a user does with the dialog until MODE's end:
#   cut      the cut file appears (status 0); the device run ends first (status 1)
#   finish   the device run ends (status 0)
# Status 2 when the time or the presses run out. Acts only on a screen that stayed the same for
# two looks, and presses once per dialog process and screen.
# Sets `closed` when Close was pressed on the finished setup.
closed=0
drive() {
  local mode=$1 deadline=$((SECONDS + $2)) presses=0 text previous="" pressed="" pid key sid since=$SECONDS
  sid=$(session_id)
  while :; do
    [ "$mode" = cut ] && [ -e "$dir/counter.cut" ] && return 0
    [ "$mode" = count ] && note_programs "$sid"
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
    pid=$(dialog_pid "$sid")
    key="$pid|$text"
    if [ -n "$pid" ] && [ "$key" != "$pressed" ]; then
      local press=""
      if [[ $text =~ \[\ *OK\ *\] ]]; then
        press=Enter
      elif [[ $text =~ \[\ *Yes\ *\] ]]; then
        press=n
      elif [[ $text == *"[ Close ]"* ]]; then
        press=Enter
        [[ $text == *"Quillon done."* ]] && closed=1
      elif [[ $text == *"[ Reset ]"* || $text == *"[ Start ]"* ]]; then
        press=Enter
      fi
      if [ -n "$press" ]; then
        presses=$((presses + 1))
        if ((presses > max_presses)); then
          echo "the dialog still asked for a press after $max_presses" >"$dir/why"
          return 2
        fi
        echo "press $press on: $text" >>"$dir/presses"
        tmux_ send-keys -t "$session" "$press"
        pressed=$key
      fi
    fi
    sleep 0.2
  done
}

# Prints "KEY VALUE..." for each key line of a PSR file (hexadecimal values), lowercase and padded.
psr_keys() {
  awk '
    function word(text) {
      text = tolower(text); sub(/^0+/, "", text)
      while (length(text) < 4) text = "0" text
      return text
    }
    /^[ \t]*[&?][0-9a-fA-F]+[ \t]*=/ {
      line = $0; sub(/^[ \t]*[&?]/, "", line); split(line, halves, "=")
      gsub(/[ \t]/, "", halves[1]); out = word(halves[1])
      n = split(halves[2], words, /[ \t]+/)
      for (i = 1; i <= n; ++i) if (words[i] != "") out = out " " word(words[i])
      print out
    }' "$1"
}

# The rate the module talks at: the first of its rate keys that the store holds decides.
module_rate() {
  local store=$1 key value
  [ -e "$store" ] || {
    echo 115200
    return
  }
  for key in 0191 01be 0204 0207; do
    value=$(psr_keys "$store" | awk -v k="$key" '$1 == k { print $2; exit }')
    [ -n "$value" ] || continue
    case $value in
      009d) echo 38400 ;;
      00ec) echo 57600 ;;
      01d8) echo 115200 ;;
      03b0) echo 230400 ;;
      075f) echo 460800 ;;
      0ebf) echo 921600 ;;
      161e) echo 1382400 ;;
      *) echo 115200 ;;
    esac
    return
  done
  echo 115200
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

# Prints why the device is not whole (nothing when it is). $1: the last device run's report.
check_device() {
  local report=$1 device=$dir/device rate last_boot line key values held
  rate=$(module_rate "$device/module-store.psr")
  last_boot=$(awk '/^boot /{ text = "" } { text = text $0 "\n" } END { printf "%s", text }' <<<"$report")
  if ! grep -q "^stack up on COM4: at $rate\$" <<<"$last_boot"; then
    echo "the last boot's stack did not come up at $rate, the module's rate: $(grep -m1 '^stack ' <<<"$last_boot" || echo 'no stack line')"
  fi
  while read -r key values; do
    held=$(psr_keys "$device/module-store.psr" 2>/dev/null | awk -v k="$key" '$1 == k { $1 = ""; sub(/^ /, ""); print }')
    [ "$held" = "$values" ] || echo "key &$key is ${held:-missing} in the module, not $values"
  done < <(psr_keys "$psr")
  registry_values "$device/registry.reg" "$transport_key" >"$dir/transport-at-end"
  while read -r line; do
    [[ $line == '"baud"='* ]] && continue
    grep -qxF -- "$line" "$dir/transport-at-end" ||
      echo "the transport key lost $line (it holds: $(grep -F -- "${line%%=*}=" "$dir/transport-at-end" || echo nothing))"
  done <"$dir/transport-after-init"
  grep -q '^"name"="XXX' "$dir/transport-at-end" && echo "the transport's Name is still marked"
  grep -qiF "[$backup_key]" "$device/registry.reg" && echo "the backup key is left"
  if [ -n "$(find "$device/Windows" -iname '*.lnk' 2>/dev/null)" ]; then
    echo "a shortcut is left: $(find "$device/Windows" -iname '*.lnk' -printf '%f ')"
  fi
  return 0
}

# What the frozen device holds at the cut, in short: the port's marks, the backup, the shortcut
# and the rate in the stack's transport key.
state_at_cut() {
  local device=$dir/device parts=() values link state baud
  values=$(registry_values "$device/registry.reg" "$transport_key")
  grep -q '^"name"="XXX' <<<"$values" && parts+=("port marked")
  registry_values "$device/registry.reg" 'HKEY_LOCAL_MACHINE\Software\Microsoft\Bluetooth\Hci' |
    grep -q '^"name"="XXX' && parts+=("hci marked")
  grep -qiF "[$backup_key]" "$device/registry.reg" && parts+=("backup")
  link=$(find "$device/Windows" -iname '*.lnk' | head -1)
  if [ -n "$link" ]; then
    state=$(tr -d '\0' <"$link" | grep -o '/state:[0-9]*' || echo "/empty")
    parts+=("shortcut ${state#/}")
  fi
  baud=$(sed -n 's/^"baud"=dword:\([0-9a-f]*\)$/\1/p' <<<"$values")
  parts+=("stack at ${baud:+$((16#$baud))}")
  local IFS=,
  local joined="${parts[*]}"
  echo "${joined//,/, }"
}

# The programs (names) of the frozen device that were waiting for the count's lock.
changes_waiting() {
  local inode pid
  inode=$(stat -c %i "$dir/counter")
  awk -v inode="$inode" '$2 == "->" && $7 ~ (":" inode "$") { print $6 }' "$dir/frozen" |
    while read -r pid; do awk -v p="$pid" '$1 == p { print $2 }' "$dir/frozen"; done | sort -u | paste -sd,
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
    echo "-- start-up folder: $(find "$dir/device/Windows" -type f -printf '%f ' 2>/dev/null)"
  } >"$dir/evidence"
}

# run_case N: one fresh device cut at change N (N=0: the undisturbed setup that counts them).
# Leaves "PASS" or "FAIL: reason" in $dir/result.
run_case() {
  local n=$1 problems report
  dir=$work/$n
  socket="quillon-cut-$$-$n"
  mkdir -p "$dir"
  echo "$socket" >"$dir/socket"
  "$device_tool" --root "$dir/device" init --program "$quillon" --samples "$samples" >/dev/null
  registry_values "$dir/device/registry.reg" "$transport_key" >"$dir/transport-after-init"
  if ! grep -q '^"name"=' "$dir/transport-after-init"; then
    echo "FAIL: harness: init made no transport key with a Name" >"$dir/result"
    return
  fi
  # A session that outlives the device's: the server ends with its last session.
  tmux_ new-session -d -s keep "sleep 3600"
  local counter=(QUILLON_POWER_CUT_COUNTER="$dir/counter" QUILLON_POWER_CUT_AT="$n")
  echo before >"$dir/runs"
  start_device before "${counter[@]}"
  if [ "$n" = 0 ]; then
    if ! drive count "$finish_seconds"; then
      keep_evidence "the undisturbed setup"
      echo "FAIL: the undisturbed setup: $(cat "$dir/why")" >"$dir/result"
      return
    fi
  else
    local status=0
    drive cut "$cut_seconds" || status=$?
    if [ "$status" != 0 ]; then
      keep_evidence "cut $n"
      case $status in
        1) echo "FAIL: harness: the device run ended before change $n" >"$dir/result" ;;
        *) echo "FAIL: harness: change $n did not come: $(cat "$dir/why")" >"$dir/result" ;;
      esac
      return
    fi
    power_off "$(session_id)" "$dir/frozen"
    state_at_cut >"$dir/at-cut"
    # A change is counted once it is on disk, and the process that made change N stopped with
    # the count locked: a change that another process or thread made meanwhile is on disk too,
    # its process waiting for the lock (a real cut can come after both). The line says so.
    local waiting
    waiting=$(changes_waiting)
    [ -z "$waiting" ] || echo ", and a change of $waiting" >>"$dir/at-cut"
    if [ "$(wc -l <"$dir/counter.log")" != "$n" ] || [ "$(cat "$dir/counter")" != "$n" ]; then
      keep_evidence "cut $n"
      echo "FAIL: harness: the device counted past change $n before it was cut" >"$dir/result"
      return
    fi
    closed=0
    local tries
    for tries in 1 2; do
      echo "after$tries" >>"$dir/runs"
      start_device "after$tries"
      if ! drive finish "$finish_seconds"; then
        keep_evidence "cut $n"
        echo "FAIL: after the power-up, $(cat "$dir/why")" >"$dir/result"
        return
      fi
      # Ended without the setup done (nothing started, or the program gave up): Quillon is
      # started once more by hand.
      [ "$closed" = 1 ] && break
    done
  fi
  report=$(report_of "$session")
  problems=$(check_device "$report")
  # Undisturbed, the setup must also have moved the module to the rate the file asks for.
  local wanted
  wanted=$(module_rate "$psr")
  if [ "$n" = 0 ] && ! awk '/^boot /{ text = "" } { text = text $0 "\n" } END { printf "%s", text }' <<<"$report" |
    grep -q "^stack up on COM4: at $wanted\$"; then
    problems+=$'\n'"the last boot's stack did not come up at $wanted, the PSR file's rate"
  fi
  if [ -n "$problems" ]; then
    keep_evidence "$([ "$n" = 0 ] && echo "the undisturbed setup" || echo "cut $n")"
    echo "FAIL: $(paste -sd ';' <<<"$problems" | sed 's/;/; /g')" >"$dir/result"
  else
    echo PASS >"$dir/result"
  fi
}

# The prefix of a device's named kernel objects in /dev/shm (trace memory, mutex, event): an
# FNV-1a hash of the device root's real path. Killed programs leave them behind.
object_prefix() {
  local path hash=$((0xcbf29ce484222325)) i byte
  path=$(realpath "$1")
  for ((i = 0; i < ${#path}; i++)); do
    printf -v byte '%d' "'${path:i:1}"
    hash=$(((hash ^ byte) * 0x100000001b3))
  done
  printf 'quillon-%016x\n' "$hash"
}

# run_case in the background; its processes, tmux server and kernel objects are gone when it
# is done.
case_job() {
  (
    run_case "$1" || echo "FAIL: harness: the case stopped ($?)" >"$work/$1/result"
    kill_sessions_of "$work/$1"
    tmux -L "$(cat "$work/$1/socket")" -f /dev/null kill-server 2>/dev/null || true
    if [ -d "$work/$1/device" ]; then rm -f "/dev/shm/$(object_prefix "$work/$1/device")".*; fi
  ) >"$work/$1.stdout" 2>&1
}
kill_sessions_of() {
  local sid
  [ -e "$1/sessions" ] || return 0
  while read -r sid; do power_off "$sid"; done <"$1/sessions"
}

# The label of cut point N from the count: the program that made the change, and what it was.
label() {
  local line pid what program
  line=$(awk -v n="$1" '$1 == n' "$work/0/counter.log")
  pid=$(awk '{ print $2 }' <<<"$line")
  what=$(cut -d' ' -f3- <<<"$line")
  what=${what//$work\/0\/device/}
  program=$(awk -v p="$pid" '$1 == p { $1 = ""; last = $0 } END { print last }' "$work/0/programs" 2>/dev/null)
  case $program in
    *quillon-device*) program=device ;;
    *modsim*) program=module ;;
    *"/state:1"*) program="run 2" ;;
    *"/state:2"*) program="run 3" ;;
    *quillon*) program="run 1" ;;
    *) program="pid $pid" ;;
  esac
  echo "$program: $what"
}

started=$SECONDS
: >"$log"
mkdir -p "$work/0"
case_job 0
count_result=$(cat "$work/0/result")
count=$(wc -l <"$work/0/counter.log" 2>/dev/null || echo 0)
echo "undisturbed setup: $count cut points, $count_result ($((SECONDS - started)) s)"
if [ "$count_result" != PASS ]; then
  cat "$work/0/evidence" >>"$log" 2>/dev/null || true
  echo "the undisturbed setup must pass before its cut points mean anything; see $log"
  exit 1
fi
for n in $(seq "$count"); do echo "  $n $(label "$n")"; done

cuts=$(tr ' ' '\n' <<<"${CUTS:-$(seq "$count")}" | sed '/^$/d' | sort -un | tr '\n' ' ')
for n in $cuts; do
  if ! [[ $n =~ ^[0-9]+$ ]] || ((n < 1 || n > count)); then
    echo "CUTS: $n is not a cut point (1 to $count)"
    exit 64
  fi
done

print_result() {
  local result
  result=$(cat "$work/$1/result" 2>/dev/null || echo "FAIL: harness: no result")
  echo "cut $1 ($(label "$1"); left $(tr -d '\n' <"$work/$1/at-cut" 2>/dev/null || echo "?")): $result"
  if [ "$result" = PASS ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    cat "$work/$1/evidence" >>"$log" 2>/dev/null || true
  fi
}

# Runs the cut points JOBS at a time and prints their lines in order as they are known.
passed=0
failed=0
running=0
read -ra pending <<<"$cuts"
next=0
for n in "${pending[@]}"; do
  mkdir -p "$work/$n"
  case_job "$n" &
  running=$((running + 1))
  while ((running >= jobs)); do
    wait -n || true
    running=$((running - 1))
  done
  while ((next < ${#pending[@]})) && [ -e "$work/${pending[next]}/result" ]; do
    print_result "${pending[next]}"
    next=$((next + 1))
  done
done
wait
while ((next < ${#pending[@]})); do
  print_result "${pending[next]}"
  next=$((next + 1))
done
echo "($((SECONDS - started)) s; failing devices are described in $log)"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
