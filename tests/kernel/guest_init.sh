#!/bin/busybox sh
# /init of the guest that scripts/test-hci-kernel boots: loads the Bluetooth modules, starts
# emulated modules on /dev/vhci (hci0, then hci1 to hci4 with the habits of other modules), runs
# psconfig against them in each case below and prints one line per case on the console,
# "HCI-KERNEL-CHECK <name> pass" or "... fail: <why>", then "HCI-KERNEL-END" with the counts, and
# powers off. A
# failing case prints what the programs said.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
echo "hci-kernel: init at $(cut -d' ' -f1 /proc/uptime) s"

passed=0
failed=0
pass() {
  passed=$((passed + 1))
  echo "HCI-KERNEL-CHECK $1 pass${2:+: $2}"
}
fail() {
  failed=$((failed + 1))
  echo "HCI-KERNEL-CHECK $1 fail: $2"
  for file in /tmp/"$1".out /tmp/"$1".err; do
    [ -s "$file" ] && head -n 12 "$file" | sed "s|^|  ${file#/tmp/}: |"
  done
}
# run NAME COMMAND...: the command's status in $status, its output in /tmp/NAME.out and .err.
# No case may hang the guest: each has a minute.
run() {
  name=$1
  shift
  timeout 60 "$@" >/tmp/"$name".out 2>/tmp/"$name".err
  status=$?
}
# expect NAME STATUS PATTERN: the last run ended with STATUS and its standard error matches PATTERN.
expect() {
  if [ "$status" -ne "$2" ]; then
    fail "$1" "status $status, not $2"
  elif ! grep -qiE "$3" /tmp/"$1".err; then
    fail "$1" "standard error does not say /$3/"
  else
    pass "$1" "$(grep -iE "$3" /tmp/"$1".err | tail -n 1)"
  fi
}
# The counts let the host tell a verdict line that a kernel message broke from one never printed.
finish() {
  echo "HCI-KERNEL-END $passed passed, $failed failed"
  poweroff -f
}

loaded=yes
for module in $(cat /lib/modules/order); do
  insmod /lib/modules/"$module" || loaded="no: $module"
done
[ "$loaded" = yes ] && pass modules || { fail modules "$loaded"; finish; }

vhci-controller --save /tmp/store.psr --requests /tmp/requests.hex 2>/tmp/controller.log &
controller=$!
for _ in $(seq 100); do
  [ -e /sys/class/bluetooth/hci0 ] && break
  sleep 0.1
done
# Bringing the device up waits for the kernel's own bring-up, which the kernel starts by itself.
if [ -e /sys/class/bluetooth/hci0 ] && vhci-controller --device-up hci0; then
  pass controller
else
  fail controller "no hci0 that can be brought up"
  cat /tmp/controller.log
  finish
fi

hci="psconfig --transport hci"
vhci-controller --device-down hci0
run device-down $hci hci0 /keys.psr
expect device-down 2 "is down.*bring it up"
vhci-controller --device-up hci0

run no-such-device $hci hci9 /keys.psr
expect no-such-device 2 "no such device"

run not-permitted su -s /bin/sh tester -c "$hci hci0 /keys.psr"
expect not-permitted 2 "root or the CAP_NET_RAW"

before=$(wc -l </tmp/requests.hex)
run program $hci hci0 /keys.psr
expect program 0 "."
# What the module received, byte for byte, against what a BCSP run of the file sent.
tail -n +$((before + 1)) /tmp/requests.hex >/tmp/program.requests
if cmp -s /keys.bcsp-requests /tmp/program.requests; then
  pass same-requests-as-bcsp "$(wc -l </tmp/program.requests) requests"
else
  fail same-requests-as-bcsp "the module received other bytes than a BCSP run sends"
  diff /keys.bcsp-requests /tmp/program.requests
fi

run verify $hci --verify hci0 /keys.psr
expect verify 0 "."

run backup $hci --backup /tmp/backup.psr hci0 /keys.psr
if [ "$status" -eq 0 ] && grep -qx '&01be = 0ebf' /tmp/backup.psr && grep -qx '&0001 = 0078 9abc 0056 1234' /tmp/backup.psr; then
  pass backup
else
  fail backup "status $status, or the backup does not hold the module's values"
fi

run long-key $hci --verify hci0 /long.psr
expect long-key 0 "."

run read $hci read hci0 01be 0001:4
if [ "$status" -ne 0 ]; then
  fail read "status $status"
elif ! grep -qx '&01be = 0ebf' /tmp/read.out || ! grep -qx '&0001 = 0078 9abc 0056 1234' /tmp/read.out; then
  fail read "the keys written are not on standard output"
else
  pass read
fi

run read-long-key $hci read hci0 0108:188
if [ "$status" -eq 0 ] && grep -qxF "$(grep '^&' /long.psr)" /tmp/read-long-key.out &&
  grep -q "psconfig: read 1 key from hci0" /tmp/read-long-key.err; then
  pass read-long-key
else
  fail read-long-key "status $status, or not the 188 values written, or not counted as 1 key"
fi

# start_module NAME OPTIONS...: one more emulated module, brought up; its process in $module.
start_module() {
  name=$1
  shift
  vhci-controller --quiet "$@" 2>/tmp/"$name".log &
  module=$!
  for _ in $(seq 100); do
    [ -e /sys/class/bluetooth/"$name" ] && break
    sleep 0.1
  done
  vhci-controller --device-up "$name"
}
# Modules that also complete each 0xFC00 command, or give its status.
start_module hci1 --complete-fc00
completing=$module
run command-complete-too $hci --verify hci1 /keys.psr
expect command-complete-too 0 "."
start_module hci2 --status-fc00
statusing=$module
run command-status-too $hci --verify hci2 /keys.psr
expect command-status-too 0 "."
# A module whose answers come among events to be left out: another channel, a last fragment
# alone, another sequence number, events longer and shorter than their declared length, each a
# refusal if taken; and another channel between the fragments of a long answer.
start_module hci3 --decoy-events
decoying=$module
run decoy-events $hci --verify hci3 /keys.psr
expect decoy-events 0 "."
run decoy-events-long-key $hci --verify hci3 /long.psr
expect decoy-events-long-key 0 "."

# A module that hangs: psconfig gives up and says so.
start_module hci4 --silent
silent=$module
run no-answer $hci hci4 /keys.psr
expect no-answer 7 "did not answer"

kill -TERM "$completing" "$statusing" "$decoying" "$silent" "$controller"
wait "$completing" "$statusing" "$decoying" "$silent" "$controller"
{
  echo "// PS store of the simulated module"
  grep -h '^&' /keys.psr /long.psr | sort
} >/tmp/expected.psr
if cmp -s /tmp/expected.psr /tmp/store.psr; then
  pass store
else
  fail store "the module's store is not what the files hold"
  diff /tmp/expected.psr /tmp/store.psr
fi
# Four runs programmed, each ending with a warm reset; nothing the module had to refuse or leave out.
if grep -q "0 unknown, .* 4 warm resets, 0 packets refused, 0 fragments left out, 0 messages abandoned, 0 answers not sent" /tmp/controller.log; then
  pass module-saw-only-whole-requests
else
  fail module-saw-only-whole-requests "$(tail -n 1 /tmp/controller.log)"
fi
# The key of 188 values, written, read back by --verify and read: each request came in two
# commands and each answer went out in two events.
long=$(grep -c 'key 0108, 392 bytes in 2 fragment(s): answered, status 0000, in 2 event(s)' /tmp/controller.log)
if [ "$long" -eq 3 ]; then
  pass two-fragments-each-way
else
  fail two-fragments-each-way "$long of 3 requests of the long key came in two fragments and went out in two"
fi
echo "hci-kernel: the module's log"
sed 's/^/  /' /tmp/controller.log
echo "hci-kernel: done at $(cut -d' ' -f1 /proc/uptime) s"
finish
