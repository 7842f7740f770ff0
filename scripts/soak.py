#!/usr/bin/python3
"""Fault soak: many `korvane-cli download` runs against `korvane-devsim` with
seeded random faults, each run judged against what the simulated device
actually did; then the resources of long-lived processes, and (--valgrind)
memcheck of the CLI.

  scripts/soak.py [--seed S] [--runs N] [--jobs J] [--fleet M] [--serve K]
                  [--valgrind] [--only I,J] [--bin DIR] [--verbose]

A run may end in "succeeded" only when the device acknowledged the end
datagram with the image complete: the simulator printed verdict "ok" for the
transfer, its stored image equals the file byte for byte, and no fault
withheld the reply to the end datagram (refused, reply dropped, delayed past
the 5 s wait). Any other success is a wrong verdict; so is a failure when no
fault could make a correct sender fail (none, duplicate acknowledgements,
garbage). Everything else is an expected failure.

Resources: one fleet download against many devices at once, sampled through
/proc while it runs, must come back to the descriptors and threads of a
one-device download once all jobs but one have ended; a long-lived simulator
serving clean downloads in a row must keep its descriptors, threads and
resident memory flat. Exit status 1 when any run was judged wrong, a check
failed or resources grew; 2 on a bad command line.

Datagrams go only to 127.0.94.x-127.0.98.x (one address per run) and
127.0.99.x (resource and valgrind checks), port 21818. As root the whole soak
runs in a private network namespace with only `lo` up (--host-network: not).
"""

import argparse
import collections
import concurrent.futures
import dataclasses
import hashlib
import json
import math
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ACK_WAIT = 5.0  # seconds the sender waits for each acknowledgement
MAX_PAYLOAD = 8000
SPECIAL_SIZES = (0, 1, 7999, 8000, 8001, 15999, 16000, 16001)
KIB = 1024
MIB = 1024 * 1024
# Loopback addresses: runs cycle over 127.0.94.1 .. 127.0.98.250; the
# resource and valgrind checks use 127.0.99.x.
RUN_OCTETS = range(94, 99)
HOSTS_PER_OCTET = 250
FLEET_SIZE = 2 * MIB
SERVE_SIZE = 1 * MIB

# Fault kinds, each drawn equally often (round-robin over shuffled rounds, so
# a short soak still meets every kind). Benign kinds must succeed.
KINDS = (
    "clean",
    "refuse",
    "drop-reply",
    "delay-near-limit",
    "delay-over-limit",
    "duplicate",
    "duplicate+refuse-end",
    "duplicate+refuse",
    "duplicate+drop-reply",
    "garbage",
    "garbage+refuse",
    "garbage+duplicate",
    "kill",
)

LIVE = set()  # processes this soak started and has not reaped yet
LIVE_LOCK = threading.Lock()
STOPPING = threading.Event()  # set on Ctrl-C: no new processes


def say(text):
    print(text, flush=True)


def datagrams_for(size):
    return 2 + math.ceil(size / MAX_PAYLOAD)


def expected_md5(data):
    # The sender puts an all-zero digest in the header of an empty file.
    return hashlib.md5(data).hexdigest() if data else "0" * 32


def run_address(index):
    octet = RUN_OCTETS[(index // HOSTS_PER_OCTET) % len(RUN_OCTETS)]
    return f"127.0.{octet}.{1 + index % HOSTS_PER_OCTET}"


# ---------------------------------------------------------------- processes

def spawn(argv, stdout, stderr):
    with LIVE_LOCK:
        if STOPPING.is_set():
            raise RuntimeError("the soak is stopping")
        child = subprocess.Popen(argv, stdout=stdout, stderr=stderr, stdin=subprocess.DEVNULL)
        LIVE.add(child)
    return child


def reap(child):
    """True once `child` has ended (and is reaped); never blocks."""
    if child.returncode is not None:
        return True
    try:
        pid, status = os.waitpid(child.pid, os.WNOHANG)
        if not pid:
            return False
        child.returncode = os.waitstatus_to_exitcode(status)
    except ChildProcessError:  # reaped by the Ctrl-C clean-up on another thread
        child.returncode = -signal.SIGKILL
    with LIVE_LOCK:
        LIVE.discard(child)
    return True


def wait_child(child, timeout, watch=None):
    """Waits up to `timeout` seconds for `child` to end; True once it has. With a
    `watch` dict, keeps the child's peak resident memory in watch["hwm_kib"]
    (from /proc: the rusage of a child counts the memory of this process,
    which the child shared until its exec)."""
    deadline = time.monotonic() + timeout
    while True:
        if watch is not None:
            sample = sample_process(child.pid, 0)
            if sample:
                watch["hwm_kib"] = max(watch.get("hwm_kib", 0), sample.hwm_kib)
        if reap(child):
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.01 if watch is None else 0.02)


def end_child(child, sig=signal.SIGKILL, timeout=5.0):
    """Sends `sig` to a child of ours (by its pid) and reaps it; SIGKILL after `timeout`."""
    if child.returncode is not None:
        return
    try:
        os.kill(child.pid, sig)
    except ProcessLookupError:
        pass
    if not wait_child(child, timeout):
        os.kill(child.pid, signal.SIGKILL)
        wait_child(child, 60)


def end_all_children():
    with LIVE_LOCK:
        STOPPING.set()
        children = list(LIVE)
    for child in children:
        end_child(child)


class Devsim:
    """One korvane-devsim process on ADDRESS, its output in files under `folder`."""

    def __init__(self, bindir, address, folder, flags=()):
        self.address = address
        self.out_dir = os.path.join(folder, "received")
        self.stdout_path = os.path.join(folder, "devsim.out")
        self.stderr_path = os.path.join(folder, "devsim.err")
        self.argv = [os.path.join(bindir, "korvane-devsim"), "--bind", address,
                     "--out", self.out_dir, *flags]
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.child = spawn(self.argv, out, err)

    def ready(self, timeout=10.0):
        """True once it listens; False (it is ended) when it did not start."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with open(self.stderr_path, "rb") as err:
                if err.read().startswith(b"listening on "):
                    return True
            if reap(self.child):
                break
            time.sleep(0.02)
        self.stop()
        return False

    def stop(self):
        end_child(self.child, signal.SIGINT)

    def kill(self):
        end_child(self.child, signal.SIGKILL)

    def records(self):
        with open(self.stdout_path, encoding="utf-8", errors="replace") as out:
            lines = [line for line in out.read().splitlines() if line.strip()]
        return [json.loads(line) for line in lines]

    def stderr_text(self):
        with open(self.stderr_path, encoding="utf-8", errors="replace") as err:
            return err.read().strip()


@dataclasses.dataclass
class Sample:
    at: float
    fds: int
    threads: int
    rss_kib: int
    hwm_kib: int


def sample_process(pid, start):
    """Descriptors, threads and memory of a live process; None once it is a zombie or gone."""
    try:
        with open(f"/proc/{pid}/status", encoding="ascii") as status:
            fields = dict(line.split(":", 1) for line in status.read().splitlines() if ":" in line)
        if fields["State"].strip()[:1] in ("Z", "X"):
            return None
        fds = len(os.listdir(f"/proc/{pid}/fd"))
        return Sample(at=time.monotonic() - start, fds=fds, threads=int(fields["Threads"]),
                      rss_kib=int(fields["VmRSS"].split()[0]),
                      hwm_kib=int(fields["VmHWM"].split()[0]))
    except (OSError, KeyError, ValueError):
        return None


def mode(values):
    return collections.Counter(values).most_common(1)[0][0] if values else None


# ------------------------------------------------------------------ the plan

@dataclasses.dataclass
class Plan:
    index: int
    kind: str
    size: int
    refuse: int = 0  # ordinal of the refused datagram (1 = header), 0: none
    drop: int = 0  # ordinal of the datagram whose reply is dropped, 0: none
    delay_ms: int = 0
    duplicate: bool = False
    garbage: bool = False
    kill_after: float = 0.0  # seconds after the CLI starts, 0: no kill
    fast: bool = False  # korvane-cli download --fast: same verdicts expected

    @property
    def datagrams(self):
        return datagrams_for(self.size)

    def devsim_flags(self):
        flags = []
        if self.refuse:
            flags += ["--refuse", str(self.refuse)]
        if self.drop:
            flags += ["--drop-reply", str(self.drop)]
        if self.delay_ms:
            flags += ["--delay", str(self.delay_ms)]
        if self.duplicate:
            flags.append("--duplicate-acks")
        if self.garbage:
            flags.append("--garbage")
        return flags

    def describe(self):
        faults = " ".join(self.devsim_flags())
        if self.kill_after:
            faults = (faults + " " if faults else "") + f"SIGKILL after {self.kill_after:.2f} s"
        pace = ", --fast" if self.fast else ""
        return f"size {self.size} ({self.datagrams} datagrams), {faults or 'no faults'}{pace}"


def random_size(rng, max_size, low=1):
    pick = rng.random()
    if pick < 0.4:  # log-uniform: many small files
        return min(max_size, int(math.exp(rng.uniform(math.log(low), math.log(max_size)))))
    if pick < 0.8:
        return rng.randint(low, min(max_size, 256 * KIB))
    return rng.randint(min(max_size, 256 * KIB), max_size)


def pick_ordinal(rng, datagrams):
    """A datagram to spoil: the header or the end a quarter of the time each, else any."""
    pick = rng.random()
    if pick < 0.25:
        return 1
    if pick < 0.5:
        return datagrams
    return rng.randint(1, datagrams)


def make_plans(seed, runs, max_size):
    rng = random.Random(f"korvane-soak:{seed}")
    specials = list(SPECIAL_SIZES)
    rng.shuffle(specials)
    plans = []
    order = []
    for index in range(runs):
        if not order:
            order = list(KINDS)
            rng.shuffle(order)
        kind = order.pop()
        if kind == "delay-near-limit":  # small files only: a run stays short
            size = rng.choice((0, 1, 7999, 8000, rng.randint(2, 7998)))
        elif kind == "delay-over-limit":
            size = 0
        elif kind == "kill":
            size = rng.randint(400 * KIB, max(400 * KIB, max_size))
        elif specials:
            size = specials.pop()
        elif rng.random() < 0.2:
            size = rng.choice(SPECIAL_SIZES)
        else:
            size = random_size(rng, max_size)
        plan = Plan(index=index, kind=kind, size=size)
        n = plan.datagrams
        plan.duplicate = "duplicate" in kind
        plan.garbage = "garbage" in kind
        if kind == "duplicate+refuse-end":
            plan.refuse = n
        elif kind.endswith("refuse"):
            plan.refuse = pick_ordinal(rng, n)
        elif kind.endswith("drop-reply"):
            plan.drop = pick_ordinal(rng, n)
        elif kind == "delay-near-limit":
            plan.delay_ms = rng.randint(4500, 4900)
        elif kind == "delay-over-limit":
            plan.delay_ms = rng.randint(5100, 6000)
        elif kind == "kill":
            # Somewhere in the middle of a transfer at ~9-10 ms a datagram.
            plan.kill_after = round(rng.uniform(0.05, 0.8) * n * 0.0095, 3)
        # A third of the rest at network speed (a kill is timed for the usual pace).
        plan.fast = kind != "kill" and rng.random() < 1 / 3
        plans.append(plan)
    return plans


def firmware_bytes(seed, plan):
    return random.Random(f"korvane-soak:{seed}:{plan.index}:data").randbytes(plan.size)


# ------------------------------------------------------------- one run + verdict

@dataclasses.dataclass
class Outcome:
    plan: Plan
    address: str
    verdict: str = ""  # success, expected-failure, false-success, false-failure, broken
    notes: list = dataclasses.field(default_factory=list)  # why a verdict is wrong
    problems: list = dataclasses.field(default_factory=list)  # other faults found
    near_limit: bool = False
    killed: bool = False
    kill_moot: bool = False  # the CLI had ended before the kill was due
    peak_rss_kib: int = 0
    cli_exit: int = None
    cli_json: dict = None
    cli_stdout: str = ""
    cli_stderr: str = ""
    records: list = dataclasses.field(default_factory=list)
    wall: float = 0.0


def run_one(args, seed, plan, workdir):
    try:
        return run_and_judge(args, seed, plan, workdir)
    except Exception as e:
        # One run that breaks the soak itself is reported, not fatal.
        outcome = Outcome(plan=plan, address=run_address(plan.index), verdict="broken")
        outcome.problems.append(f"the soak failed on this run: {e!r}")
        return outcome


def run_and_judge(args, seed, plan, workdir):
    address = run_address(plan.index)
    folder = os.path.join(workdir, f"run{plan.index}")
    os.makedirs(folder)
    outcome = Outcome(plan=plan, address=address)
    data = firmware_bytes(seed, plan)
    firmware = os.path.join(folder, "firmware.bin")
    with open(firmware, "wb") as f:
        f.write(data)
    try:
        device = Devsim(args.bin, address, folder, plan.devsim_flags())
        if not device.ready():
            outcome.verdict = "broken"
            outcome.problems.append(f"korvane-devsim did not start: {device.stderr_text()}")
            return outcome
        try:
            run_cli(args, plan, device, firmware, folder, outcome)
        finally:
            device.stop()
        outcome.records = device.records()
        judge(plan, data, firmware, outcome)
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)
    return outcome


def run_cli(args, plan, device, firmware, folder, outcome):
    out_path = os.path.join(folder, "cli.out")
    err_path = os.path.join(folder, "cli.err")
    argv = [os.path.join(args.bin, "korvane-cli"), "download", "--json", "--quiet",
            *(["--fast"] if plan.fast else []), "--ip", device.address, firmware]
    # Every datagram may cost a full wait at most once (the first missing
    # reply ends the job); the rest is slack for a loaded machine.
    limit = plan.datagrams * (0.05 + plan.delay_ms / 1000) + 2 * ACK_WAIT + 30
    start = time.monotonic()
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        cli = spawn(argv, out, err)
    ended = False
    watch = {}
    if plan.kill_after:
        ended = wait_child(cli, plan.kill_after, watch)
        if ended:
            outcome.kill_moot = True
        else:
            device.kill()
            outcome.killed = True
    if not ended:
        ended = wait_child(cli, limit - (time.monotonic() - start), watch)
    if not ended:
        end_child(cli)
        outcome.problems.append(f"korvane-cli still ran after {limit:.0f} s; killed")
    outcome.peak_rss_kib = watch.get("hwm_kib", 0)
    outcome.wall = time.monotonic() - start
    outcome.cli_exit = cli.returncode
    with open(out_path, encoding="utf-8", errors="replace") as out:
        outcome.cli_stdout = out.read()
    with open(err_path, encoding="utf-8", errors="replace") as err:
        outcome.cli_stderr = err.read()


JSON_KEYS = {"address", "file", "length", "md5", "datagrams", "acknowledged", "result",
             "reason", "seconds", "mode"}


def check_json(plan, data, firmware, outcome):
    """The CLI's one JSON line and exit code; returns True for "succeeded"."""
    lines = outcome.cli_stdout.splitlines()
    if len(lines) != 1:
        outcome.problems.append(f"expected one JSON line on stdout, got {len(lines)}")
        return None
    try:
        got = json.loads(lines[0])
    except json.JSONDecodeError as e:
        outcome.problems.append(f"stdout is not JSON ({e})")
        return None
    outcome.cli_json = got
    problems = outcome.problems
    if set(got) != JSON_KEYS:
        problems.append(f"JSON keys {sorted(got)}")
        return None
    n = plan.datagrams
    expected = {"address": outcome.address, "file": firmware, "length": plan.size,
                "md5": expected_md5(data), "datagrams": n,
                "mode": "fast" if plan.fast else "described"}
    for key, value in expected.items():
        if got[key] != value:
            problems.append(f"JSON {key} is {got[key]!r}, expected {value!r}")
    succeeded = got["result"] == "succeeded"
    if got["result"] not in ("succeeded", "failed"):
        problems.append(f"JSON result {got['result']!r}")
    if outcome.cli_exit != (0 if succeeded else 1):
        problems.append(f"exit code {outcome.cli_exit} with result {got['result']!r}")
    if succeeded != (got["reason"] is None) or (got["reason"] is not None
                                                and not isinstance(got["reason"], str)):
        problems.append(f"JSON reason {got['reason']!r} with result {got['result']!r}")
    acked = got["acknowledged"]
    if not isinstance(acked, int) or not 0 <= acked <= n:
        problems.append(f"JSON acknowledged {acked!r} of {n}")
    elif succeeded and acked != n:
        problems.append(f"succeeded with acknowledged {acked} != datagrams {n}")
    elif not succeeded and acked == n:
        problems.append(f"failed with every one of {n} datagrams acknowledged")
    spoiled = min(x for x in (plan.refuse, plan.drop, n + 1) if x)
    # A duplicate of the previous acknowledgement that comes in after the
    # spoiled datagram went out may rightly release a header or data wait
    # (replies carry no sequence the sender compares), so with duplicates only
    # the end decides.
    exact = not (plan.duplicate or plan.delay_ms or outcome.killed) and spoiled <= n
    if not succeeded and exact and acked != spoiled - 1:
        # Every datagram before the spoiled one is acknowledged exactly once.
        problems.append(f"acknowledged {acked}, expected {spoiled - 1} (datagram {spoiled} "
                        f"was {'refused' if spoiled == plan.refuse else 'not answered'})")
    seconds = got["seconds"]
    if not isinstance(seconds, (int, float)) or seconds < 0:
        problems.append(f"JSON seconds {seconds!r}")
    elif not succeeded and exact and seconds < ACK_WAIT * 0.9:
        problems.append(f"gave up after {seconds} s: a missing acknowledgement is waited "
                        f"for {ACK_WAIT:.0f} s")
    return succeeded


def judge(plan, data, firmware, outcome):
    if outcome.problems:  # hung
        outcome.verdict = "broken"
        return
    succeeded = check_json(plan, data, firmware, outcome)
    if succeeded is None:
        outcome.verdict = "broken"
        return
    records = outcome.records
    if len(records) > 1:
        outcome.problems.append(f"the device finished {len(records)} transfers, not one")
    record = records[-1] if records else None
    if record and record.get("verdict") != "ok":
        # A sender that stops at the first missing acknowledgement never
        # lets the device finish a damaged image.
        outcome.problems.append(f"the device finished a damaged transfer: {record}")
    n = plan.datagrams
    identical = False
    if record and record.get("verdict") == "ok":
        try:
            with open(record["path"], "rb") as stored:
                identical = stored.read() == data
        except OSError:
            identical = False
    withheld = []
    if plan.refuse == n:
        withheld.append("the end datagram was refused")
    if plan.drop == n:
        withheld.append("the reply to the end datagram was dropped")
    if plan.delay_ms >= ACK_WAIT * 1000:
        withheld.append(f"every reply came {plan.delay_ms} ms late")
    outcome.near_limit = 0 < plan.delay_ms < ACK_WAIT * 1000
    if succeeded:
        notes = list(withheld)
        if not record:
            notes.append("the device finished no transfer"
                         + (" (killed before the end)" if outcome.killed else ""))
        elif record.get("verdict") != "ok":
            notes.append(f"the device's verdict was {record.get('verdict')!r}")
        elif not identical:
            notes.append("the stored image differs from the file")
        outcome.verdict = "false-success" if notes else "success"
        outcome.notes = notes
        spoiled = plan.refuse or plan.drop
        if not notes and spoiled and not plan.duplicate:
            # The image arrived, but the sender went on without the device's
            # answer to this datagram: nothing the device sent could release
            # its wait (garbage must be dropped).
            outcome.problems.append(f"succeeded though the device never acknowledged datagram "
                                    f"{spoiled}")
    else:
        benign = not (plan.refuse or plan.drop or plan.delay_ms or outcome.killed)
        outcome.verdict = "false-failure" if benign else "expected-failure"
        if benign:
            outcome.notes = [f"failed with only harmless faults: {outcome.cli_json.get('reason')}"]


# ------------------------------------------------------------------ resources

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


VALGRIND = ["valgrind", "--error-exitcode=99", "--leak-check=full",
            "--errors-for-leak-kinds=definite"]


def valgrind_summary(log_path):
    with open(log_path, encoding="utf-8", errors="replace") as log:
        text = log.read()
    errors = re.findall(r"ERROR SUMMARY: ([\d,]+) errors", text)
    lost = re.findall(r"definitely lost: ([\d,]+) bytes in ([\d,]+) blocks", text)

    def number(text):
        return int(text.replace(",", ""))

    return {"errors": number(errors[-1]) if errors else None,
            "lost_bytes": number(lost[-1][0]) if lost else 0,
            "lost_blocks": number(lost[-1][1]) if lost else 0,
            "in_use": re.findall(r"in use at exit: ([^\n]*)", text)[-1:] or ["?"]}


def valgrind_check(args, workdir, report):
    """korvane-cli under memcheck: a download to two devices (one succeeds, one
    has its end datagram refused) and a ping of 127.0.0.1."""
    if not shutil.which("valgrind"):
        report.problems.append("valgrind is not installed (scripts/install-deps.sh)")
        return
    folder = os.path.join(workdir, "valgrind")
    os.makedirs(folder)
    firmware = os.path.join(folder, "firmware.bin")
    size = 100 * KIB
    with open(firmware, "wb") as f:
        f.write(random.Random("korvane-soak:valgrind").randbytes(size))
    cli = os.path.join(args.bin, "korvane-cli")
    for sub in ("ok", "refusing"):
        os.makedirs(os.path.join(folder, sub))
    devices = [Devsim(args.bin, "127.0.99.211", os.path.join(folder, "ok"), []),
               Devsim(args.bin, "127.0.99.212", os.path.join(folder, "refusing"),
                      ["--refuse", str(datagrams_for(size))])]
    checks = (("download", [cli, "download", "--json", "--quiet", "--ip", devices[0].address,
                            "--ip", devices[1].address, firmware], 1),
              ("ping", [cli, "ping", "--ip", "127.0.0.1"], 0))
    try:
        if not all(device.ready() for device in devices):
            report.problems.append("valgrind: a korvane-devsim did not start")
            return
        for name, argv, expected_exit in checks:
            log = os.path.join(folder, f"{name}.log")
            done = subprocess.run(VALGRIND + [f"--log-file={log}"] + argv, capture_output=True,
                                  timeout=300, check=False)
            summary = valgrind_summary(log)
            summary.update(exit=done.returncode, expected_exit=expected_exit)
            report.valgrind[name] = summary
            if (done.returncode != expected_exit or summary["errors"] != 0
                    or summary["lost_bytes"] != 0):
                report.problems.append(f"valgrind {name}: exit {done.returncode} (expected "
                                       f"{expected_exit}), {summary['errors']} errors, "
                                       f"{summary['lost_bytes']} bytes definitely lost; see "
                                       f"{done.stdout!r} {done.stderr[-400:]!r}")
    finally:
        for device in devices:
            device.stop()


# --------------------------------------------------------------------- report

@dataclasses.dataclass
class Report:
    problems: list = dataclasses.field(default_factory=list)
    grew: list = dataclasses.field(default_factory=list)
    fleet: dict = None
    serve: dict = None
    valgrind: dict = dataclasses.field(default_factory=dict)


def repro(args, seed, outcome):
    plan = outcome.plan
    flags = " ".join(plan.devsim_flags())
    return (f"    rerun: scripts/soak.py --seed {seed} --runs {plan.index + 1} --only {plan.index}"
            f"  (korvane-devsim --bind {outcome.address} --out DIR {flags}; "
            f"korvane-cli download --json --quiet {'--fast ' if plan.fast else ''}"
            f"--ip {outcome.address} FILE of {plan.size} "
            f"bytes{'; SIGKILL the simulator after %.2f s' % plan.kill_after if plan.kill_after else ''})")


def show_outcome(args, seed, outcome, total):
    plan = outcome.plan
    bad = outcome.verdict in ("false-success", "false-failure", "broken") or outcome.problems
    if not (bad or args.verbose):
        return
    result = outcome.cli_json.get("result") if outcome.cli_json else f"exit {outcome.cli_exit}"
    extra = " (kill came after the CLI ended)" if outcome.kill_moot else ""
    say(f"run {plan.index + 1}/{total} [{plan.kind}] {outcome.address} {plan.describe()}: "
        f"{result} in {outcome.wall:.1f} s -> {outcome.verdict.upper() if bad else outcome.verdict}"
        f"{extra}")
    for note in outcome.notes:
        say(f"    wrong verdict: {note}")
    for problem in outcome.problems:
        say(f"    problem: {problem}")
    if bad:
        say(f"    cli: {outcome.cli_stdout.strip()}")
        if outcome.cli_stderr.strip():
            say(f"    cli stderr: {outcome.cli_stderr.strip()[-300:]}")
        say(f"    device: {outcome.records}")
        say(repro(args, seed, outcome))


def summarize(args, seed, outcomes, report, elapsed):
    count = collections.Counter(o.verdict for o in outcomes)
    wrong = count["false-success"] + count["false-failure"]
    other = sum(1 for o in outcomes if o.problems) + len(report.problems)
    # Memory of each one-shot CLI run against its file (the queue is the file
    # in 8200-byte records): base = the largest peak of a small file's run.
    small = [o.peak_rss_kib for o in outcomes if o.plan.size <= 64 * KIB and o.peak_rss_kib]
    base = max(small) if small else 0
    peak = max(outcomes, key=lambda o: o.peak_rss_kib, default=None)
    for o in outcomes:
        if base and o.plan.size > MIB and o.peak_rss_kib > base + 1.1 * o.plan.size / KIB + 2048:
            report.grew.append(f"run {o.plan.index + 1}: peak RSS {o.peak_rss_kib} KiB for a "
                               f"{o.plan.size}-byte file (small files: {base} KiB)")

    say("")
    say(f"{'fault kind':<22} {'runs':>5} {'succeeded':>10} {'exp. fail':>10} {'wrong':>6} "
        f"{'other':>6}")
    for kind in KINDS:
        mine = [o for o in outcomes if o.plan.kind == kind]
        if not mine:
            continue
        c = collections.Counter(o.verdict for o in mine)
        say(f"{kind:<22} {len(mine):>5} {c['success']:>10} {c['expected-failure']:>10} "
            f"{c['false-success'] + c['false-failure']:>6} "
            f"{sum(1 for o in mine if o.problems):>6}")
    say("")
    rows = [
        ("seed", f"{seed}"),
        ("runs", f"{len(outcomes)} ({args.jobs} at a time, {elapsed:.0f} s)"),
        ("successes", f"{count['success']}"),
        ("expected failures", f"{count['expected-failure']} ("
         f"{sum(1 for o in outcomes if o.near_limit and o.verdict == 'expected-failure')} at a "
         f"delay near the 5 s limit; kills: "
         f"{sum(1 for o in outcomes if o.killed)} mid-transfer, "
         f"{sum(1 for o in outcomes if o.kill_moot)} after the CLI had ended)"),
        ("wrong verdicts", f"{wrong} (must be 0): {count['false-success']} false success, "
         f"{count['false-failure']} false failure"),
        ("other problems", f"{other}"),
    ]
    if peak and peak.peak_rss_kib:
        rows.append(("peak RSS (CLI)", f"{peak.peak_rss_kib / 1024:.1f} MiB (run {peak.plan.index + 1},"
                     f" a {peak.plan.size / MIB:.2f} MiB file; small files {base / 1024:.1f} MiB)"))
    if report.fleet:
        one, fleet = report.fleet["single"], report.fleet["fleet"]
        rows.append(("CLI descriptors", f"one device {one['fds']} (peak {one['peak_fds']}); fleet of "
                     f"{args.fleet}: peak {fleet['peak_fds']}, after {args.fleet - 1} jobs ended "
                     f"{fleet['fds']}"))
        rows.append(("CLI threads", f"one device {one['threads']} (peak {one['peak_threads']}); "
                     f"fleet: peak {fleet['peak_threads']}, after {args.fleet - 1} jobs ended "
                     f"{fleet['threads']}"))
        rows.append(("CLI fleet peak RSS", f"{fleet['peak_rss_kib'] / 1024:.1f} MiB for "
                     f"{args.fleet} devices x {FLEET_SIZE / MIB:.0f} MiB (one device "
                     f"{one['peak_rss_kib'] / 1024:.1f} MiB)"))
    if report.serve:
        s = report.serve
        rows.append((f"devsim, {s['count']} downloads",
                     f"descriptors {s['first'].fds} -> {s['last'].fds}, threads "
                     f"{s['first'].threads} -> {s['last'].threads}, RSS "
                     f"{s['first'].rss_kib / 1024:.1f} -> {s['last'].rss_kib / 1024:.1f} MiB "
                     f"(max {s['max_rss_kib'] / 1024:.1f})"))
    for name, v in report.valgrind.items():
        rows.append((f"valgrind {name}", f"{v['errors']} errors, definitely lost {v['lost_bytes']}"
                     f" bytes in {v['lost_blocks']} blocks, in use at exit {v['in_use'][0]}; "
                     f"exit {v['exit']} (expected {v['expected_exit']})"))
    rows.append(("resources", "flat" if not report.grew else "GREW"))
    for label, value in rows:
        say(f"{label:<22} {value}")
    for line in report.grew:
        say(f"resources grew: {line}")
    for line in report.problems:
        say(f"problem: {line}")
    return 1 if wrong or other or report.grew else 0


# ----------------------------------------------------------------------- main

def enter_private_network(argv):
    """As root, re-runs this script in a network namespace of its own with only lo up."""
    if os.environ.get("KORVANE_SOAK_NETNS") or os.geteuid() != 0:
        return
    if not (shutil.which("unshare") and shutil.which("ip")):
        return
    if subprocess.run(["unshare", "-n", "true"], capture_output=True, check=False).returncode:
        return
    os.environ["KORVANE_SOAK_NETNS"] = "1"
    say("soak: in a private network namespace (loopback only)")
    os.execvp("unshare", ["unshare", "-n", "--", "sh", "-c", 'ip link set lo up && exec "$@"',
                          "sh", sys.executable, os.path.abspath(__file__), *argv])


def parse_args(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=None, help="default: from the clock")
    parser.add_argument("--runs", type=int, default=300)
    parser.add_argument("--jobs", type=int, default=8, help="runs at a time (mostly waiting)")
    parser.add_argument("--max-size", type=int, default=3 * MIB, help="largest firmware file")
    parser.add_argument("--fleet", type=int, default=32,
                        help="devices of the fleet resource check (0: skip)")
    parser.add_argument("--serve", type=int, default=20,
                        help="downloads the long-lived simulator serves (0: skip)")
    parser.add_argument("--valgrind", action="store_true", help="also run memcheck")
    parser.add_argument("--only", default="", help="run only these run numbers (0-based, a,b,c)")
    parser.add_argument("--bin", default=os.path.join(root, "build", "bin"))
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    parser.add_argument("--host-network", action="store_true",
                        help="do not enter a private network namespace")
    parser.add_argument("--verbose", action="store_true", help="one line per run")
    args = parser.parse_args(argv)
    # Runs at a time must not share an address: each gets its own of 1250.
    if args.runs < 0 or not 1 <= args.jobs <= HOSTS_PER_OCTET or not 0 <= args.fleet <= 99 \
            or args.serve < 0 or args.max_size < 400 * KIB:
        parser.error(f"--runs >= 0, --jobs 1..{HOSTS_PER_OCTET}, --fleet 0..99, --serve >= 0, "
                     "--max-size >= 409600")
    return args


def main(argv):
    args = parse_args(argv)
    if not args.host_network:
        enter_private_network(argv)
    for program in ("korvane-cli", "korvane-devsim"):
        if not os.access(os.path.join(args.bin, program), os.X_OK):
            sys.exit(f"soak: {args.bin}/{program} is missing; build first")
    seed = args.seed if args.seed is not None else int(time.time() * 1000) % 1_000_000_007
    plans = make_plans(seed, args.runs, args.max_size)
    if args.only:
        wanted = {int(i) for i in args.only.split(",")}
        plans = [p for p in plans if p.index in wanted]
    say(f"soak: seed {seed}, {len(plans)} runs, {args.jobs} at a time "
        f"(rerun with --seed {seed})")
    workdir = tempfile.mkdtemp(prefix="korvane-soak-")
    report = Report()
    outcomes = []
    start = time.monotonic()
    try:
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            futures = [pool.submit(run_one, args, seed, plan, workdir) for plan in plans]
            try:
                for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
                    outcome = future.result()
                    outcomes.append(outcome)
                    show_outcome(args, seed, outcome, args.runs)
                    if done % 25 == 0 and not args.verbose:
                        say(f"soak: {done}/{len(plans)} runs done")
            except KeyboardInterrupt:
                # Runs still queued never start; the running ones end with their processes.
                for future in futures:
                    future.cancel()
                end_all_children()
                raise
        elapsed = time.monotonic() - start
        if args.fleet and not args.only:
            say(f"soak: resources of a {args.fleet}-device fleet download")
            fleet_check(args, workdir, report)
        if args.serve and not args.only:
            say(f"soak: resources of one simulator over {args.serve} downloads")
            serve_check(args, workdir, report)
        if args.valgrind and not args.only:
            say("soak: valgrind memcheck of korvane-cli download and ping")
            valgrind_check(args, workdir, report)
    finally:
        end_all_children()
        if args.keep:
            say(f"soak: scratch folder kept: {workdir}")
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    outcomes.sort(key=lambda o: o.plan.index)
    return summarize(args, seed, outcomes, report, elapsed)


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except KeyboardInterrupt:
        end_all_children()
        sys.exit(130)
