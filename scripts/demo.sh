#!/usr/bin/env bash
# The demo: the device simulator plays the device on 127.0.0.1:21818, a sample
# firmware of 3 MiB is downloaded to it (in the window when a display is at
# hand, else with `korvane-cli download`), and the simulator's record shows
# that it arrived intact. Exits non-zero if not.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${KORVANE_BIN:-$root/build/bin}
address=127.0.0.1
port=21818
# shellcheck source=scripts/devsim-lib.sh
. "$root/scripts/devsim-lib.sh"  # $work, and its clean-up on exit

say() { printf 'demo: %s\n' "$*"; }
fail() {
    printf 'demo: FAILED: %s\n' "$*" >&2
    exit 1
}

for program in korvane-cli korvane-devsim; do
    [ -x "$bin/$program" ] || fail "$bin/$program is missing: build first (make build)"
done

# The simulator needs the device port on the loopback address.
if command -v ss >/dev/null; then
    busy=$(ss -Hlunp "( sport = :$port )" 2>/dev/null |
        awk -v a="$address:$port" '$4 == a || $4 == "0.0.0.0:'"$port"'" || $4 == "*:'"$port"'"')
    if [ -n "$busy" ]; then
        fail "$address:$port is busy (another device simulator?): $busy"
    fi
fi

# 1. The "device".
mkdir -p "$work/received"
start_devsim "$address" "$work/received" ||
    fail "the device simulator did not start on $address:$port (is the port busy?)"
say "device simulator $(head -n 1 "$work/devsim.err")"

# 2. A sample firmware, the same bytes every run: AES-CTR keystream of a fixed key.
firmware=$work/sample-firmware.zip
head -c $((3 * 1024 * 1024)) /dev/zero |
    openssl enc -aes-128-ctr -nosalt -K 4b6f7276616e6544656d6f4b65793031 \
        -iv 00000000000000000000000000000000 >"$firmware"
say "the sample firmware, as it will be sent:"
"$bin/korvane-cli" inspect "$firmware"

# 3. The download: in the window on a desktop, else with the command line
# (KORVANE_DEMO_FRONTEND=cli or gui chooses). The window gets a profile of its
# own, so the operator's settings stay untouched: address and firmware are
# filled in, and pressing "DownLoad" is all there is to do.
frontend=${KORVANE_DEMO_FRONTEND:-}
if [ -z "$frontend" ]; then
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$bin/korvane" ]; then
        frontend=gui
    else
        frontend=cli
    fi
fi
status=0
case "$frontend" in
    cli)
        say "downloading to $address with korvane-cli"
        "$bin/korvane-cli" download --ip "$address" "$firmware" || status=$?
        [ "$status" -eq 0 ] || fail "korvane-cli download ended with exit code $status"
        ;;
    gui)
        mkdir -p "$work/config/korvane"
        printf '[Adapter]\nIP=%s\nFileName=%s\n' "$address" "$firmware" >"$work/config/korvane/korvane.ini"
        say "the window opens: press \"DownLoad\", wait for \"Succeed to download\", then close it"
        XDG_CONFIG_HOME=$work/config "$bin/korvane" || status=$?
        [ "$status" -eq 0 ] || fail "korvane ended with exit code $status"
        ;;
    *) fail "unknown front end '$frontend'" ;;
esac

# 4. What the device received.
stop_devsim
record=$(grep -m 1 '"verdict"' "$work/devsim.out" || true)
[ -n "$record" ] || fail "the device simulator recorded no finished transfer (was \"DownLoad\" pressed?)"
say "the device simulator recorded: $record"
sent=$(md5sum "$firmware" | cut -d' ' -f1)
got=$(printf '%s' "$record" | sed -n 's/.*"md5":"\([0-9a-f]*\)".*/\1/p')
verdict=$(printf '%s' "$record" | sed -n 's/.*"verdict":"\([a-z]*\)".*/\1/p')
length=$(printf '%s' "$record" | sed -n 's/.*"length":\([0-9]*\).*/\1/p')
stored=$(printf '%s' "$record" | sed -n 's/.*"path":"\([^"]*\)".*/\1/p')
printf '  md5 of the sample firmware:        %s (%s bytes)\n' "$sent" "$(stat -c %s "$firmware")"
printf '  md5 of what the device received:   %s (%s bytes)\n' "$got" "$length"
if [ -n "$stored" ] && [ -f "$stored" ]; then
    printf '  md5 of the image it stored:        %s\n' "$(md5sum "$stored" | cut -d' ' -f1)"
    cmp -s "$firmware" "$stored" || fail "the stored image differs from the sample firmware"
fi
if [ "$sent" != "$got" ] || [ "$verdict" != "ok" ] || [ "$length" != "$(stat -c %s "$firmware")" ]; then
    fail "the device did not receive the firmware intact"
fi
say "the firmware arrived intact"
