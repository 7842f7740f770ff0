#!/usr/bin/env bash
# Fast mode against TFTP, side by side on loopback in a private network namespace
# (bench/side_by_side.py does the rounds and prints the figures):
#   - a 64 MiB random file with `korvane-cli download --fast` to korvane-devsim
#     --out, uploaded by `curl -T --tftp-blksize 8000` to in.tftpd -c (the
#     direction Korvane sends) and downloaded by curl from it, and as many bare
#     round trips of udp_floor (the floor): wall MB/s (median and range of the
#     rounds), CPU us per datagram of client and server, the ratio fast/TFTP per
#     round and its median (target >= 1.3 against the upload, aim 1.5);
#   - the described cadence on a 100-datagram file, ms per datagram;
#   - a fleet of 16 devices at once in fast mode (16 MiB each) against one alone.
# The transfers alternate; every arrival is checked by MD5.
# Usage: bench/fast_vs_tftp.sh [--rounds N] [--size-mib N] [BUILD_DIR]
#   (root, for the namespace; needs in.tftpd and curl: scripts/install-deps.sh bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
args=()
while [ $# -gt 0 ] && [ "${1#--}" != "$1" ]; do
    args+=("$1" "$2")
    shift 2
done
build=$(cd "${1:-$root/build}" && pwd)

if [ -z "${KORVANE_PRIVATE_NET:-}" ]; then
    exec "$root/scripts/in-private-net.sh" "$0" "${args[@]}" "$build"
fi

bin=$build/bin
for program in korvane-cli korvane-devsim udp_floor; do
    [ -x "$bin/$program" ] || { echo "bench: $bin/$program is missing; build first" >&2; exit 1; }
done
for program in in.tftpd curl python3; do
    command -v "$program" >/dev/null || { echo "bench: $program is missing (scripts/install-deps.sh bench)" >&2; exit 1; }
done

device=127.0.9.20
tftp_server=127.0.9.21
floor_server=127.0.9.22
fleet=()
for i in $(seq 101 116); do fleet+=("127.0.9.$i"); done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# in.tftpd ignores a system whose only address is 127.0.0.1: give it its own.
if [ "$KORVANE_PRIVATE_NET" = 1 ]; then
    ip addr add "$tftp_server/32" dev lo
fi
"$root/bench/side_by_side.py" --bin "$bin" --work "$work" \
    --label "fast_vs_tftp, loopback ($([ "$KORVANE_PRIVATE_NET" = 1 ] && echo "private namespace" || echo "host network"))" \
    --device "$device" --tftp "$tftp_server" --floor "$floor_server" \
    --cadence --fleet "${fleet[@]}" "${args[@]}"
