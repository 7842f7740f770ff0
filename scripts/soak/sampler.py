"""Descriptors, threads and memory of a running process, from /proc."""

import collections
import dataclasses
import os
import time

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
