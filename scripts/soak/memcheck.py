"""valgrind memcheck of korvane-cli: a fleet download and a ping."""

import os
import random
import re
import shutil
import subprocess

from soak.plan import KIB, datagrams_for
from soak.processes import Devsim

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
