#!/usr/bin/env bash
# Each platform's korvane-cli downloads to the other platform's simulator, and
# the image the simulator wrote must be the file, byte for byte. The file and
# the Windows simulator's folder have Chinese names, so the UTF-16 paths of
# the Windows programs are part of the check. Run by scripts/test-windows.sh
# inside its private network namespace, with its wine prefix and server.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
winbin=$root/build-win64/bin
# shellcheck source=scripts/wine-lib.sh
. "$root/scripts/wine-lib.sh" # $wine, $wineserver
# shellcheck source=scripts/devsim-lib.sh
. "$root/scripts/devsim-lib.sh"

fail() {
    printf 'cross-check: FAILED: %s\n' "$*" >&2
    exit 1
}
for program in "$bin/korvane-cli" "$bin/korvane-devsim" "$winbin/korvane-cli.exe" \
    "$winbin/korvane-devsim.exe"; do
    [ -e "$program" ] || fail "$program is missing (make build windows)"
done
windows_path() { "$wine" winepath -w "$1" 2>/dev/null; }
# A Windows program's text mode ends its lines with CR LF.
without_cr() { tr -d '\r'; }

folder="$work/测试"
mkdir -p "$folder/linux-received" "$folder/windows-received"
firmware="$folder/固件.zip"
head -c 300001 /dev/urandom >"$firmware" # 39 datagrams, the last one short
md5=$(md5sum "$firmware" | cut -d' ' -f1)

# 1. korvane-cli.exe -> korvane-devsim (Linux) on 127.0.0.2.
devsim=("$bin/korvane-devsim")
start_devsim 127.0.0.2 "$folder/linux-received" || fail "the Linux simulator did not start"
out=$("$wine" "$winbin/korvane-cli.exe" download -q --fast --ip 127.0.0.2 \
    "$(windows_path "$firmware")" | without_cr) || fail "korvane-cli.exe: $out"
[ "$out" = "Succeed to download" ] || fail "korvane-cli.exe printed: $out"
stop_devsim
cmp "$firmware" "$folder/linux-received/$md5.bin" || fail "the Linux simulator's image differs"
echo "cross-check: korvane-cli.exe -> korvane-devsim: $out, byte-exact"

# 2. korvane-cli (Linux) -> korvane-devsim.exe on 127.0.0.3, at the described pace.
devsim=("$wine" "$winbin/korvane-devsim.exe")
start_devsim 127.0.0.3 "$(windows_path "$folder/windows-received")" ||
    fail "korvane-devsim.exe did not start"
out=$("$bin/korvane-cli" download -q --ip 127.0.0.3 "$firmware") || fail "korvane-cli: $out"
[ "$out" = "Succeed to download" ] || fail "korvane-cli printed: $out"
stop_devsim
cmp "$firmware" "$folder/windows-received/$md5.bin" || fail "korvane-devsim.exe's image differs"
echo "cross-check: korvane-cli -> korvane-devsim.exe: $out, byte-exact"

# 3. Ctrl-C: wine turns SIGINT into the console's Ctrl-C event, which reaches
# korvane-cli.exe's console control handler: the wait for a reply ends at once,
# the download is reported cancelled, and the exit code is 130, as on Linux.
"$wine" "$winbin/korvane-cli.exe" download --ip 127.0.0.4 "$(windows_path "$firmware")" \
    >"$work/interrupted.out" 2>"$work/interrupted.err" &
cli=$!
for _ in $(seq 1 100); do # the first progress line: the handler is in place
    [ -s "$work/interrupted.err" ] && break
    sleep 0.05
done
kill -INT "$cli"
status=0
wait "$cli" || status=$?
[ "$status" = 130 ] || fail "korvane-cli.exe after Ctrl-C exited $status, not 130"
grep -q 'cancelled at datagram 0' "$work/interrupted.err" ||
    fail "korvane-cli.exe after Ctrl-C: $(cat "$work/interrupted.err")"
echo "cross-check: Ctrl-C ends korvane-cli.exe's download: cancelled, exit 130"
