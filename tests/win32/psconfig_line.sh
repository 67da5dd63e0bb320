#!/usr/bin/env bash
# psconfig.exe under Wine programs two modules at once through two Wine COM ports, each module
# with an address of its own from a block kept in a journal on a Windows path; a second run on
# the same journal gives the next two addresses.
#   psconfig_line.sh PSCONFIG.EXE LINUX-MODSIM PSRFILE
set -euo pipefail
psconfig_exe=$1
modsim=$2
psr=$3
[ -x "$modsim" ] || { echo "the Linux build is not there: skipped"; exit 77; }
work=$(mktemp -d)
module=
cleanup() {
  [ -n "$module" ] && kill "$module" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com7" "$WINEPREFIX/dosdevices/com8"
  rm -rf "$work"
}
trap cleanup EXIT

"$modsim" --modules 2 --save "$work/store.psr" >"$work/modsim.out" 2>&1 &
module=$!
for _ in $(seq 100); do grep -q "modsim: 2 port" "$work/modsim.out" && break; sleep 0.05; done
ln -sf "$(sed -n 's/^modsim: 1 port //p' "$work/modsim.out")" "$WINEPREFIX/dosdevices/com7"
ln -sf "$(sed -n 's/^modsim: 2 port //p' "$work/modsim.out")" "$WINEPREFIX/dosdevices/com8"

line() {  # line OUTPUT: one run of both ports, on the shared journal and record
  local status=0
  wine "$psconfig_exe" --verify --address-block 00:02:5B:00:A5:A5:00:02:5B:00:A5:FF \
    --journal "Z:$work/journal" --record "Z:$work/record.jsonl" COM7: COM8: "Z:$(realpath "$psr")" \
    </dev/null >"$1" 2>&1 || status=$?
  tr -d '\r' <"$1" | grep -E "^  COM|modules programmed" || true
  [ "$status" -eq 0 ] || { echo "psconfig.exe ended with $status"; cat "$1"; exit 1; }
}
line "$work/first.out"
line "$work/second.out"
kill -INT "$module"
wait "$module" || true
module=

taken=$(grep -c '^taken ' "$work/journal")
written=$(grep -c '^written ' "$work/journal")
distinct=$(grep '^taken ' "$work/journal" | cut -d' ' -f2 | sort -u | wc -l)
[ "$taken" -eq 4 ] && [ "$written" -eq 4 ] && [ "$distinct" -eq 4 ] ||
  { echo "the journal is wrong: $taken taken, $written written, $distinct distinct"; cat "$work/journal"; exit 1; }
[ "$(wc -l <"$work/record.jsonl")" -eq 4 ] && [ "$(grep -c '"verified":true' "$work/record.jsonl")" -eq 4 ] ||
  { echo "the record is wrong"; cat "$work/record.jsonl"; exit 1; }
# Each module holds the address its last run gave it: the third and fourth of the block.
held=$(grep -h '^&0001' "$work/store-1.psr" "$work/store-2.psr" | sort)
expected=$(printf '&0001 = 0000 a5a7 005b 0002\n&0001 = 0000 a5a8 005b 0002\n')
[ "$held" = "$expected" ] || { echo "the modules hold: $held"; exit 1; }
echo "psconfig.exe gave four addresses to two modules in two runs, each once"
