#!/usr/bin/env bash
# Renders docs/screenshot.png (the window after a successful download to the
# device simulator) and docs/ping.png (the ping of 127.0.0.1) under Xvfb.
#   scripts/screenshot.sh        (after make build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${KORVANE_BIN:-$root/build/bin}
address=127.0.0.1
# shellcheck source=scripts/devsim-lib.sh
. "$root/scripts/devsim-lib.sh"  # $work, and its clean-up on exit

mkdir -p "$work/received" "$work/config" "$root/docs"
start_devsim "$address" "$work/received"
firmware=$work/firmware.zip
head -c 200000 /dev/urandom >"$firmware"
XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1024x768x24" \
    "$bin/korvane-screenshot" "$root/docs" "$address" "$firmware"
echo "screenshot: wrote $root/docs/screenshot.png and $root/docs/ping.png"
