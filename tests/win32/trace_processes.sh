#!/usr/bin/env bash
# The trace between two Windows processes under Wine: tracew.exe writes, tracev.exe reads.
#   trace_processes.sh TRACEV.EXE TRACEW.EXE
set -euo pipefail
tracev=$1
tracew=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT
wine "$tracev" --count 7 --idle-exit 20000 >"$out" 2>&1 &
viewer=$!
for _ in $(seq 200); do grep -q "tracev: ready" "$out" && break; sleep 0.05; done
grep -q "tracev: ready" "$out" || { echo "the viewer did not start"; cat "$out"; exit 1; }
wine "$tracew" --thread Probe "first message" "second message" </dev/null >/dev/null 2>&1
wine "$tracew" --important "$(printf 'z%.0s' $(seq 200))" </dev/null >/dev/null 2>&1
wait "$viewer"
tr -d '\r' <"$out" >"$out.lf" && mv "$out.lf" "$out"
expect() {
  grep -q -- "$1" "$out" || { echo "missing: $1"; cat "$out"; exit 1; }
}
expect "thread     Probe"
expect "info       first message"
expect "info       second message"
expect "thread-end Probe"
expect "important  $(printf 'z%.0s' $(seq 116))\$"
echo "the Windows viewer showed what the Windows writer wrote"
