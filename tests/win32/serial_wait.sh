#!/usr/bin/env bash
# The Windows port's wait tests on COM11: and COM12:, two Wine COM ports joined by the Linux
# null-modem relay's pair of pseudo-terminals (a fresh pair per run: Wine cannot set a line
# twice on some ptys).
#   serial_wait.sh NULL-MODEM TESTS.EXE [GTEST ARGUMENTS]
set -euo pipefail
null_modem=$1
tests=$2
shift 2
[ -x "$null_modem" ] || { echo "the Linux build's null-modem relay is not there: skipped"; exit 77; }
work=$(mktemp -d)
relay=
cleanup() {
  [ -n "$relay" ] && kill "$relay" 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com11" "$WINEPREFIX/dosdevices/com12"
  rm -rf "$work"
}
trap cleanup EXIT
"$null_modem" >"$work/relay.out" 2>&1 &
relay=$!
for _ in $(seq 100); do grep -q "^null-modem: " "$work/relay.out" && break; sleep 0.05; done
read -r _ near far <"$work/relay.out" || true
[ -n "${far:-}" ] || { echo "the relay did not start"; cat "$work/relay.out"; exit 1; }
ln -sf "$near" "$WINEPREFIX/dosdevices/com11"
ln -sf "$far" "$WINEPREFIX/dosdevices/com12"
wine "$tests" "$@" </dev/null
