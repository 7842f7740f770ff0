#!/usr/bin/env bash
# Fast mode against TFTP, side by side on loopback in a private network namespace:
#   1. a 64 MiB file with `korvane-cli download --fast` to korvane-devsim, and the
#      same file fetched by curl over TFTP with 8000-byte blocks (the same block
#      size, also stop-and-wait) from in.tftpd (tftpd-hpa) started here; both
#      checked by MD5; MB/s of each and the ratio (target >= 1.2, aim 1.5), and
#      the CLI's CPU time per datagram (no busy waiting);
#   2. the described cadence on a small file, ms per datagram, for comparison;
#   3. a fleet of 16 devices at once in fast mode (16 MiB each), aggregate MB/s;
#   4. the floor: udp_floor, two processes passing the same datagrams back and
#      forth with no work at all, on the same loopback.
# Each figure is the median of five rounds; the transfers alternate.
# Usage: bench/fast_vs_tftp.sh [BUILD_DIR]   (root, for the namespace; needs
# in.tftpd and curl: scripts/install-deps.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

if [ -z "${KORVANE_PRIVATE_NET:-}" ]; then
    exec "$root/scripts/in-private-net.sh" "$0" "$build"
fi

bin=$build/bin
device=127.0.9.20
tftp_server=127.0.9.21
floor_server=127.0.9.22
fleet_base=127.0.9.  # .101 ... .116
for program in korvane-cli korvane-devsim udp_floor; do
    [ -x "$bin/$program" ] || { echo "bench: $bin/$program is missing; build first" >&2; exit 1; }
done
for program in in.tftpd curl; do
    command -v "$program" >/dev/null || { echo "bench: $program is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

# shellcheck source=scripts/devsim-lib.sh
. "$root/scripts/devsim-lib.sh"  # $work, start_devsim, clean-up on exit
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; stop_devsim; rm -rf "$work"' EXIT

# in.tftpd ignores a system whose only address is 127.0.0.1: give it its own.
if [ "$KORVANE_PRIVATE_NET" = 1 ]; then
    ip addr add "$tftp_server/32" dev lo
fi
chmod 711 "$work"
mkdir -m 755 "$work/tftp"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/tftp/big.bin"
chmod 644 "$work/tftp/big.bin"
head -c $((98 * 8000)) /dev/urandom >"$work/small.bin"  # 100 datagrams
head -c $((16 * 1024 * 1024)) /dev/urandom >"$work/fleet.bin"
big_md5=$(md5sum <"$work/tftp/big.bin" | cut -d' ' -f1)
# As many round trips as the big file's download: header, chunks of 8000, end.
big_datagrams=$(((64 * 1024 * 1024 + 7999) / 8000 + 2))

in.tftpd -L -s -u nobody -a "$tftp_server:69" "$work/tftp" &
pids+=($!)
start_devsim "$device" "$work/received" || exit 1
fleet=()
for i in $(seq 101 116); do
    "$bin/korvane-devsim" --bind "$fleet_base$i" --out "$work/fleet-$i" >/dev/null 2>"$work/fleet-$i.err" &
    pids+=($!)
    fleet+=(--ip "$fleet_base$i")
done
"$bin/udp_floor" serve "$floor_server" 21818 &
pids+=($!)
sleep 0.5

measure() { "$root/bench/measure.py" "$@"; }  # one JSON line about that child

fast=() tftp=() cadence=() fleet_runs=() floor=()
for round in 1 2 3 4 5; do
    fast+=("$(measure "$bin/korvane-cli" download --fast --quiet --json --ip "$device" "$work/tftp/big.bin")")
    rm -f "$work/fetched.bin"
    tftp+=("$(measure curl -s --tftp-blksize 8000 -o "$work/fetched.bin" "tftp://$tftp_server/big.bin")")
    fetched_md5=$(md5sum <"$work/fetched.bin" | cut -d' ' -f1)
    [ "$fetched_md5" = "$big_md5" ] || { echo "bench: TFTP round $round arrived damaged" >&2; exit 1; }
    [ -f "$work/received/$big_md5.bin" ] || { echo "bench: fast round $round did not arrive intact" >&2; exit 1; }
    rm -f "$work/received/$big_md5.bin"
    cadence+=("$(measure "$bin/korvane-cli" download --quiet --json --ip "$device" "$work/small.bin")")
    fleet_runs+=("$(measure "$bin/korvane-cli" download --fast --quiet --json "${fleet[@]}" "$work/fleet.bin")")
    floor+=("$("$bin/udp_floor" send "$floor_server" 21818 "$big_datagrams")")
done

python3 - "$big_md5" "$big_datagrams" "${fast[*]}" "${tftp[*]}" "${cadence[*]}" "${fleet_runs[*]}" "${floor[*]}" <<'EOF'
import json, statistics, sys
md5 = sys.argv[1]
def runs(text):
    return [json.loads(line) for line in text.replace('} {', '}\n{').splitlines()]
trips = int(sys.argv[2])
fast, tftp, cadence, fleet = (runs(a) for a in sys.argv[3:7])
MB = 1e6
for r in fast:
    out = json.loads(r['output'].splitlines()[0])
    assert r['exit_code'] == 0 and out['result'] == 'succeeded' and out['md5'] == md5, r
    r['datagrams'], r['length'], r['seconds'] = out['datagrams'], out['length'], out['seconds']
for r in tftp:
    assert r['exit_code'] == 0, r
length = fast[0]['length']
fast_mbs = statistics.median(length / r['wall'] / MB for r in fast)
tftp_mbs = statistics.median(length / r['wall'] / MB for r in tftp)
cpu_us = statistics.median(r['cpu'] / r['datagrams'] * 1e6 for r in fast)
print(f"64 MiB, MD5 checked on both sides (median of {len(fast)} rounds)")
print(f"  korvane-cli download --fast : {fast_mbs:7.1f} MB/s  (rounds: "
      + ", ".join(f"{length / r['wall'] / MB:.1f}" for r in fast) + ")")
print(f"    of which the datagrams    : {statistics.median(length / r['seconds'] / MB for r in fast):7.1f} MB/s"
      f"  ({statistics.median(r['seconds'] / r['datagrams'] * 1e6 for r in fast):.1f} us per round trip; the rest is start-up, reading and MD5)")
print(f"  curl TFTP blksize 8000      : {tftp_mbs:7.1f} MB/s  (rounds: "
      + ", ".join(f"{length / r['wall'] / MB:.1f}" for r in tftp) + ")")
floor = statistics.median(float(t) for t in sys.argv[7].split())
assert trips == fast[0]['datagrams'], (trips, fast[0]['datagrams'])
print(f"  floor, bare ping-pong       : {length / floor / MB:7.1f} MB/s  ({floor / trips * 1e6:.1f} us per round trip:"
      " udp_floor, nothing but send and receive)")
print(f"  ratio fast / TFTP           : {fast_mbs / tftp_mbs:7.2f}  (target >= 1.2, aim 1.5)")
print(f"  korvane-cli CPU per datagram: {cpu_us:7.1f} us, loading and MD5 included  ({statistics.median(r['cpu'] / r['wall'] for r in fast) * 100:.0f}% of one core)")
per = []
for r in cadence:
    out = json.loads(r['output'].splitlines()[0])
    assert out['result'] == 'succeeded', r
    per.append(out['seconds'] * 1000 / out['datagrams'])
print(f"described cadence, {out['datagrams']} datagrams: {statistics.median(per):.2f} ms per datagram"
      f" ({out['length'] / (statistics.median(per) / 1000 * out['datagrams']) / MB:.2f} MB/s)")
devices = []
for r in fleet:
    lines = [json.loads(line) for line in r['output'].splitlines()]
    assert r['exit_code'] == 0 and all(l['result'] == 'succeeded' for l in lines), r
    devices.append((len(lines), lines[0]['length'], r['wall']))
n, each, _ = devices[0]
wall = statistics.median(d[2] for d in devices)
print(f"fleet in fast mode: {n} devices x {each / 2**20:.0f} MiB in {wall:.2f} s: {n * each / wall / MB:.1f} MB/s aggregate")
EOF
