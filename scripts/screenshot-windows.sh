#!/usr/bin/env bash
# Renders docs/windows.png: korvane.exe's window under wine and Xvfb, on the
# left after a successful download to the device simulator (korvane-devsim.exe
# on 127.0.0.1), on the right with the service controls (--maintenance) and
# the machine code read from the simulator. A throw-away wine prefix, booted
# for the run (~15 s), inside a private network namespace when there is one.
#   scripts/screenshot-windows.sh        (after make windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${KORVANE_WIN_BIN:-$root/build-win64/bin}
# shellcheck source=scripts/wine-lib.sh
. "$root/scripts/wine-lib.sh" # $wine, $wineserver
address=127.0.0.1

if [ "${1:-}" != --inside ]; then
  display=()
  if [ -z "${DISPLAY:-}" ]; then
    display=(xvfb-run -a -s "-screen 0 1024x768x24")
  fi
  exec "$root/scripts/in-private-net.sh" "${display[@]}" "$0" --inside
fi
for program in korvane-screenshot.exe korvane-devsim.exe; do
  [ -e "$bin/$program" ] || { echo "screenshot-windows: $bin/$program is missing (make windows)" >&2; exit 1; }
done

devsim=("$wine" "$bin/korvane-devsim.exe") # what devsim-lib.sh starts
# shellcheck source=scripts/devsim-lib.sh
. "$root/scripts/devsim-lib.sh" # $work, and its clean-up on exit
trap 'stop_devsim; "$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
wine_prefix "$work/wineprefix"
boot_wine
# The dialogs ask for 宋体 (SimSun), which wine does not have: a CJK font
# stands in (fonts-wqy-microhei; AR PL UMing, closer in shape, comes out grey
# and thin at 9 pt), else the Chinese captions show as boxes.
cjk=${KORVANE_CJK_FONT:-WenQuanYi Micro Hei}
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"宋体"="%s"\r\n"SimSun"="%s"\r\n' \
  "$cjk" "$cjk" | iconv -f UTF-8 -t UTF-16 >"$work/fonts.reg"
"$wine" regedit /S "$("$wine" winepath -w "$work/fonts.reg" 2>/dev/null)" >/dev/null 2>&1

mkdir -p "$work/received" "$WINEPREFIX/drive_c/Firmware" "$root/docs"
start_devsim "$address" "$("$wine" winepath -w "$work/received" 2>/dev/null)"
head -c 200000 /dev/urandom >"$WINEPREFIX/drive_c/Firmware/firmware.zip"
"$wine" "$bin/korvane-screenshot.exe" "$("$wine" winepath -w "$work/windows.bmp" 2>/dev/null)" \
  "$address" 'C:\Firmware\firmware.zip'

# The BMP (32 bits, top row first) as a PNG: indexed when it has at most 256
# colours, which a window nearly always has.
python3 - "$work/windows.bmp" "$root/docs/windows.png" <<'EOF'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height = struct.unpack_from("<ii", data, 18)
height = abs(height)
rows = [data[offset + y * width * 4: offset + (y + 1) * width * 4] for y in range(height)]
pixels = [[(r[i + 2], r[i + 1], r[i], r[i + 3]) for i in range(0, len(r), 4)] for r in rows]
colours = sorted({p for row in pixels for p in row}, key=lambda c: c[3])  # transparent first
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
if len(colours) <= 256:
    index = {c: i for i, c in enumerate(colours)}
    raw = b"".join(b"\0" + bytes(index[p] for p in row) for row in pixels)
    header = struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)
    extra = chunk(b"PLTE", b"".join(bytes(c[:3]) for c in colours))
    alphas = bytes(c[3] for c in colours).rstrip(b"\xff")
    extra += chunk(b"tRNS", alphas) if alphas else b""
else:
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in pixels)
    header, extra = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0), b""
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra
png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
EOF
echo "screenshot-windows: wrote $root/docs/windows.png"
