"""One run: a korvane-devsim with the plan's faults, one korvane-cli download
against it (killing the device mid-transfer when planned), then the judge."""

import os
import shutil
import time

from soak.judge import judge
from soak.plan import ACK_WAIT, Outcome, firmware_bytes, run_address
from soak.processes import Devsim, end_child, spawn, wait_child

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
