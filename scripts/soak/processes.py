"""The programs the soak starts: every child is tracked until reaped, so that
Ctrl-C or the end of the soak leaves none behind; korvane-devsim as a device."""

import json
import os
import signal
import subprocess
import threading
import time

from soak.sampler import sample_process

LIVE = set()  # processes this soak started and has not reaped yet
LIVE_LOCK = threading.Lock()
STOPPING = threading.Event()  # set on Ctrl-C: no new processes


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
