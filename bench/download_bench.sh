#!/usr/bin/env bash
# Download benchmark on loopback against korvane-devsim:
#   1. cadence: ms per acknowledged datagram over a 250-datagram file, against
#      the ~10.15 ms ceiling the receive loop's 10 ms pause sets (target: within 2%);
#   2. CPU of the korvane-cli process over that download (target: < 2% of one core);
#   3. peak resident memory of downloading a 64 MiB file, relative to its size
#      (target: <= 1.1x). The 64 MiB download takes about 85 s; --quick uses
#      16 MiB instead.
# Sends only to 127.0.9.1. Usage: bench/download_bench.sh [--quick] [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
big_mib=64
for arg in "$@"; do
    case "$arg" in
        --quick) big_mib=16 ;;
        *) build=$arg ;;
    esac
done
bin=$build/bin
address=127.0.9.1
# shellcheck source=scripts/devsim-lib.sh
. "$root/scripts/devsim-lib.sh"  # $work, and its clean-up on exit

for program in korvane-cli korvane-devsim; do
    [ -x "$bin/$program" ] || { echo "bench: $bin/$program is missing; build first" >&2; exit 1; }
done

start_devsim "$address" "$work/received" || exit 1

# 248 chunks + header + end = 250 datagrams.
head -c $((248 * 8000)) /dev/urandom >"$work/cadence.bin"
head -c $((big_mib * 1024 * 1024)) /dev/urandom >"$work/big.bin"

measure() { "$root/bench/measure.py" "$@"; }  # one JSON line about that child

cadence=()
for _ in 1 2 3; do
    cadence+=("$(measure "$bin/korvane-cli" download --quiet --json --ip "$address" "$work/cadence.bin")")
done
big=$(measure "$bin/korvane-cli" download --quiet --json --ip "$address" "$work/big.bin")

python3 - "$big" "${cadence[@]}" <<'EOF'
import json, sys
big = json.loads(sys.argv[1])
runs = [json.loads(text) for text in sys.argv[2:]]
ceiling = 10.15
for run in runs + [big]:
    if run["result"] != "succeeded":
        sys.exit(f"bench: a download failed: {run}")
# The job's own time (first send to last acknowledgement) per datagram; the
# process's wall time adds start-up, loading and the endpoint's stop.
for run in runs:
    ms = run["seconds"] * 1000 / run["datagrams"]
    ms_wall = run["wall"] * 1000 / run["datagrams"]
    print(f"cadence: {run['datagrams']} datagrams in {run['seconds']:.3f} s = {ms:.3f} ms/datagram "
          f"({ms / ceiling * 100 - 100:+.2f}% against the {ceiling} ms ceiling; target: not above it "
          f"by more than 2%); whole process {ms_wall:.3f} ms/datagram")
cpu_s = sum(run["cpu"] for run in runs)
wall_s = sum(run["wall"] for run in runs)
print(f"cpu:     {cpu_s * 1000 / len(runs):.1f} ms of CPU per {wall_s / len(runs):.3f} s download = "
      f"{cpu_s / wall_s * 100:.2f}% of one core, start-up and loading included (target < 2%)")
ratio = big["maxrss_kib"] * 1024 / big["length"]
print(f"memory:  peak RSS {big['maxrss_kib'] / 1024:.1f} MiB for a {big['length'] / 2**20:.0f} MiB file = "
      f"{ratio:.3f}x (target <= 1.1x); that download: {big['datagrams']} datagrams in "
      f"{big['seconds']:.1f} s, {big['seconds'] * 1000 / big['datagrams']:.3f} ms/datagram, "
      f"CPU {big['cpu'] / big['wall'] * 100:.2f}%")
EOF
