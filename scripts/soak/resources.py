"""Resource checks: a fleet download must give back the descriptors and
threads of its finished jobs; a long-lived simulator must stay flat."""

import collections
import json
import os
import random
import subprocess
import time

from soak.plan import FLEET_SIZE, SERVE_SIZE, datagrams_for
from soak.processes import Devsim, end_child, reap, spawn
from soak.sampler import mode, sample_process

def watch_cli(argv, limit):
    """Runs a CLI download, sampling it through /proc; (samples, exit code, wall seconds)."""
    start = time.monotonic()
    cli = spawn(argv, subprocess.PIPE, subprocess.DEVNULL)
    samples = []
    while True:
        sample = sample_process(cli.pid, start)
        if reap(cli):
            break
        if sample:
            samples.append(sample)
        if time.monotonic() - start > limit:
            end_child(cli)
            break
        time.sleep(0.02)
    output = cli.stdout.read().decode(errors="replace")
    cli.stdout.close()
    return samples, cli.returncode, time.monotonic() - start, output


def fleet_check(args, workdir, report):
    """One device against a fleet of args.fleet devices, same file, one straggler each.

    The straggler gets no reply to its end datagram, so for the last ~5 s of
    each run one job waits alone: the fleet's descriptors and threads then
    must be those of the one-device run, i.e. every other job has released
    its socket and threads."""
    folder = os.path.join(workdir, "fleet")
    os.makedirs(folder)
    firmware = os.path.join(folder, "firmware.bin")
    with open(firmware, "wb") as f:
        f.write(random.Random("korvane-soak:fleet").randbytes(FLEET_SIZE))
    n = datagrams_for(FLEET_SIZE)
    cli = os.path.join(args.bin, "korvane-cli")
    levels = {}
    for label, count, first_host in (("single", 1, 101), ("fleet", args.fleet, 1)):
        devices = []
        try:
            for i in range(count):
                sub = os.path.join(folder, f"{label}{i}")
                os.makedirs(sub)
                flags = ["--drop-reply", str(n)] if i == 0 else []
                devices.append(Devsim(args.bin, f"127.0.99.{first_host + i}", sub, flags))
            if not all(device.ready() for device in devices):
                report.problems.append(f"{label}: a korvane-devsim did not start")
                return
            argv = [cli, "download", "--json", "--quiet"]
            for device in devices:
                argv += ["--ip", device.address]
            samples, code, wall, output = watch_cli(argv + [firmware], 120)
        finally:
            for device in devices:
                device.stop()
        results = [json.loads(line)["result"] for line in output.splitlines() if line.strip()]
        if code != 1 or results != ["failed"] + ["succeeded"] * (count - 1):
            report.problems.append(f"{label}: exit {code}, results {collections.Counter(results)}"
                                   f" (expected the straggler alone to fail)")
        tail = [s for s in samples if s.at >= wall - 3.0]
        if not samples or not tail:
            report.problems.append(f"{label}: no samples of the running CLI")
            return
        levels[label] = {
            "fds": mode([s.fds for s in tail]), "threads": mode([s.threads for s in tail]),
            "peak_fds": max(s.fds for s in samples),
            "peak_threads": max(s.threads for s in samples),
            "peak_rss_kib": max(s.hwm_kib for s in samples), "wall": wall,
            "samples": len(samples),
        }
    one, fleet = levels["single"], levels["fleet"]
    report.fleet = levels
    if (fleet["fds"], fleet["threads"]) != (one["fds"], one["threads"]):
        report.grew.append(
            f"CLI fleet of {args.fleet}: {fleet['fds']} descriptors / {fleet['threads']} threads "
            f"with one job left, against {one['fds']} / {one['threads']} for one device")
    # The queue is shared by all devices: each more device costs a few
    # threads' stacks and buffers, never a copy of the file.
    allowance = one["peak_rss_kib"] + args.fleet * 256 + 2048
    if fleet["peak_rss_kib"] > allowance:
        report.grew.append(f"CLI fleet of {args.fleet}: peak RSS {fleet['peak_rss_kib']} KiB "
                           f"> {allowance} KiB allowed (one device: {one['peak_rss_kib']} KiB)")


def serve_check(args, workdir, report):
    """A long-lived korvane-devsim serving args.serve clean downloads in a row."""
    folder = os.path.join(workdir, "serve")
    os.makedirs(folder)
    rng = random.Random("korvane-soak:serve")
    device = Devsim(args.bin, "127.0.99.201", folder)
    if not device.ready():
        report.problems.append(f"serve: korvane-devsim did not start: {device.stderr_text()}")
        return
    cli = os.path.join(args.bin, "korvane-cli")
    samples = []
    try:
        for i in range(args.serve):
            # The largest file first, so later ones fit in memory it already has.
            size = SERVE_SIZE if i == 0 else rng.randint(0, SERVE_SIZE)
            firmware = os.path.join(folder, "firmware.bin")
            with open(firmware, "wb") as f:
                f.write(rng.randbytes(size))
            done = subprocess.run([cli, "download", "--json", "--quiet", "--ip", device.address,
                                   firmware], capture_output=True, timeout=120, check=False)
            if done.returncode != 0:
                report.problems.append(f"serve: clean download {i + 1} ended with exit code "
                                       f"{done.returncode}: {done.stdout!r}")
            sample = sample_process(device.child.pid, 0)
            if sample:
                samples.append(sample)
            for name in os.listdir(device.out_dir):  # keep the disk flat, too
                os.unlink(os.path.join(device.out_dir, name))
    finally:
        device.stop()
    if len(samples) < 2:
        report.problems.append("serve: too few samples of the simulator")
        return
    first, last = samples[0], samples[-1]
    report.serve = {"first": first, "last": last, "count": len(samples),
                    "max_rss_kib": max(s.rss_kib for s in samples)}
    for s in samples[1:]:
        if (s.fds, s.threads) != (first.fds, first.threads):
            report.grew.append(f"korvane-devsim: {s.fds} descriptors / {s.threads} threads after "
                               f"a later download, {first.fds} / {first.threads} after the first")
            break
    warm = max(s.rss_kib for s in samples[:2])
    if max(s.rss_kib for s in samples[2:] or [first]) > warm + 1024:
        report.grew.append(f"korvane-devsim: resident memory grew from {warm} KiB to "
                           f"{max(s.rss_kib for s in samples)} KiB over {len(samples)} downloads")
