#!/usr/bin/env bash
# Runs the ctest suite of the Windows build (build-win64/) under wine, in a
# throw-away wine prefix booted once for the run. Wine's server makes the
# sockets of the programs it runs, so it is started inside the same private
# network namespace as the tests (loopback only) and stopped at the end.
#   scripts/test-windows.sh [extra ctest arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build-win64
# shellcheck source=scripts/wine-lib.sh
. "$root/scripts/wine-lib.sh"
wine_prefix "$dir/wineprefix"

jobs=${KORVANE_TEST_JOBS:-4}
run() {
  trap '"$wineserver" -k 2>/dev/null || true' EXIT
  start=$(date +%s)
  boot_wine
  echo "test-windows: wine prefix booted in $(($(date +%s) - start)) s" >&2
  local status=0
  ctest --test-dir "$dir" --output-on-failure --timeout 180 -j "$jobs" "$@" || status=$?
  if [ $# -eq 0 ]; then # the whole suite: and the programs across the platforms
    "$root/scripts/windows-cross-check.sh" || status=$?
  fi
  return "$status"
}

# Inside the namespace and the display: the run itself (the script again).
if [ "${1:-}" = --inside ]; then
  shift
  [ "${KORVANE_PRIVATE_NET:-}" = 1 ] && ip link set lo up
  run "$@"
  exit
fi
display=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  display=(xvfb-run -a -s "-screen 0 1024x768x24")
fi
if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null && command -v ip >/dev/null; then
  echo "test-windows: in a private network namespace (loopback only)" >&2
  KORVANE_PRIVATE_NET=1 exec unshare -n -- "${display[@]}" "$0" --inside "$@"
fi
echo "test-windows: on the host network (no private namespace available)" >&2
exec "${display[@]}" "$0" --inside "$@"
