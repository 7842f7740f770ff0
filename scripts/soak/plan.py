"""What the soak runs: the fault kinds, the seeded plan of each run with its
address and firmware, and the record of how a run went."""

import dataclasses
import math
import random

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


def datagrams_for(size):
    return 2 + math.ceil(size / MAX_PAYLOAD)


def run_address(index):
    octet = RUN_OCTETS[(index // HOSTS_PER_OCTET) % len(RUN_OCTETS)]
    return f"127.0.{octet}.{1 + index % HOSTS_PER_OCTET}"


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
