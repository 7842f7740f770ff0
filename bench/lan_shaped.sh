#!/usr/bin/env bash
# Fast mode against TFTP over a LAN-shaped path instead of loopback: two private
# network namespaces joined by a veth pair with MTU 1500, so that each 8005-byte
# datagram (and each 8004-byte TFTP block) goes as six IP fragments, as on
# Ethernet. The clients run in this script's namespace (198.18.0.1), the servers
# in the device's (198.18.0.2); 198.18.0.0/24 is the range set aside for
# benchmarks and exists only inside the two namespaces. The same rounds as
# fast_vs_tftp.sh (bench/side_by_side.py), with the described cadence, on:
#   1. the bare veth pair;
#   2. each end delayed by `tc netem delay 0.2ms` (0.4 ms more per round trip),
#      where the kernel has netem (otherwise the output says it was skipped).
# (A token bucket, tbf, is no stand-in for the delay: with a burst of one frame
# it wakes a timer per fragment, and its own cost swamps the transfer.)
# Both namespaces go when the script ends (the device's with its holder process).
# Usage: bench/lan_shaped.sh [--rounds N] [--size-mib N] [BUILD_DIR]   (root)
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
if [ "$KORVANE_PRIVATE_NET" != 1 ]; then
    echo "lan_shaped: skipped: it needs root and network namespaces" >&2
    exit 0
fi
bin=$build/bin
for program in korvane-cli korvane-devsim udp_floor; do
    [ -x "$bin/$program" ] || { echo "bench: $bin/$program is missing; build first" >&2; exit 1; }
done
for program in in.tftpd curl python3 nsenter tc; do
    command -v "$program" >/dev/null || { echo "bench: $program is missing (scripts/install-deps.sh bench)" >&2; exit 1; }
done

host=198.18.0.1
device=198.18.0.2
work=$(mktemp -d)
holder=""
cleanup() {
    if [ -n "$holder" ]; then
        kill "$holder" 2>/dev/null || true
        wait "$holder" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The device's namespace lives as long as this process sleeping in it.
unshare -n sleep 86400 &
holder=$!
for _ in $(seq 1 100); do
    [ "$(readlink "/proc/$holder/ns/net")" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.01
done
[ "$(readlink "/proc/$holder/ns/net")" != "$(readlink /proc/self/ns/net)" ] ||
    { echo "lan_shaped: the device's namespace did not come up" >&2; exit 1; }
in_device=(nsenter "--net=/proc/$holder/ns/net")

ip link add kvhost mtu 1500 type veth peer name kvdev mtu 1500 netns "$holder"
ip addr add "$host/24" dev kvhost
ip link set kvhost up
"${in_device[@]}" ip link set lo up
"${in_device[@]}" ip addr add "$device/24" dev kvdev
"${in_device[@]}" ip link set kvdev up

# shape QDISC...: the same root qdisc on both ends (none: the bare pair).
shape() {
    tc qdisc del dev kvhost root 2>/dev/null || true
    "${in_device[@]}" tc qdisc del dev kvdev root 2>/dev/null || true
    [ $# -eq 0 ] && return 0
    tc qdisc add dev kvhost root "$@" 2>/dev/null && "${in_device[@]}" tc qdisc add dev kvdev root "$@"
}

run() {
    mkdir "$work/run"
    "$root/bench/side_by_side.py" --bin "$bin" --work "$work/run" --label "lan_shaped, $1" \
        --server-prefix "${in_device[*]}" --device "$device" --tftp "$device" \
        --floor "$device" --floor-port 21819 --size-mib 16 --cadence "${args[@]}"
    rm -rf "$work/run"
}

# What the path does to a datagram: ten round trips of udp_floor, counted by
# the host's IP statistics.
frag_creates() {
    awk '/^Ip:/ { if (!n++) { for (i = 1; i <= NF; i++) if ($i == "FragCreates") c = i } else print $c }' /proc/net/snmp
}
"${in_device[@]}" "$bin/udp_floor" serve "$device" 21819 &
floor=$!
sleep 0.2
before=$(frag_creates)
"$bin/udp_floor" send "$device" 21819 10 >/dev/null
after=$(frag_creates)
kill "$floor"
wait "$floor" 2>/dev/null || true
echo "lan_shaped: an 8005-byte datagram leaves as $(((after - before) / 10)) IP fragments on this path"

shape
run "veth pair, MTU 1500 (six fragments a datagram), no added delay"
if shape netem delay 0.2ms; then
    run "veth pair, MTU 1500, netem delay 0.2ms on each end"
else
    echo "lan_shaped, veth pair, MTU 1500, netem delay 0.2ms: skipped: tc cannot add netem here (a kernel without sch_netem)"
fi
