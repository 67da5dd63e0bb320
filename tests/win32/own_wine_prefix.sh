# Sourced by the window tests: a Wine prefix of their own, a hard-linked copy of the given one.
# Wine's desktop draws with the display it started with, and the shared prefix's desktop may have
# started without one (the tests run under xvfb-run, the prefix was made before it).
#   use_own_wine_prefix    makes the copy, exports WINEPREFIX, starts its server and has its windows
#                          drawn unmanaged, as the window driver needs (status 77: none to copy)
#   end_own_wine_prefix    stops the server and removes the copy
use_own_wine_prefix() {
  local base=${WINEPREFIX:-$HOME/.wine}
  [ -f "$base/system.reg" ] || { echo "no Wine prefix at $base: SKIPPED"; exit 77; }
  own_wine_prefix=$(mktemp -d)
  cp -al "$base/." "$own_wine_prefix/"
  local file
  for file in system.reg user.reg userdef.reg; do
    rm -f "$own_wine_prefix/$file"
    cp "$base/$file" "$own_wine_prefix/$file"
  done
  export WINEPREFIX=$own_wine_prefix
  wineserver -p </dev/null >/dev/null 2>&1
  # The first program in a fresh copy has once in about a hundred runs ended with status 1 while
  # other Wine tests ran beside it; once more a second later, and what it said if that fails too.
  # What it says goes to a file: the programs Wine starts beside it keep a pipe open for good.
  local setting=(reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f)
  local said=$own_wine_prefix/first-program.log
  wine "${setting[@]}" </dev/null >"$said" 2>&1 || {
    sleep 1
    wine "${setting[@]}" </dev/null >"$said" 2>&1 || {
      echo "wine ${setting[*]} failed twice: $(cat "$said")"
      exit 1
    }
  }
}
end_own_wine_prefix() {
  [ -n "${own_wine_prefix:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$own_wine_prefix"
}
