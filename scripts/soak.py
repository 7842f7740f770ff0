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
runs in a private network namespace with only `lo` up (scripts/in-private-net.sh;
--host-network: not).

The parts live in scripts/soak/: plan (what to run), processes (the children
it starts), runner (one run), judge (its verdict), sampler and resources (the
resource checks), memcheck (valgrind) and report (what is printed).
"""

import argparse
import concurrent.futures
import os
import shutil
import sys
import tempfile
import time

from soak.memcheck import valgrind_check
from soak.plan import HOSTS_PER_OCTET, KIB, MIB, make_plans
from soak.processes import end_all_children
from soak.report import Report, say, show_outcome, summarize
from soak.resources import fleet_check, serve_check
from soak.runner import run_one


def enter_private_network(argv):
    """Runs this script again through scripts/in-private-net.sh, once."""
    if "KORVANE_PRIVATE_NET" not in os.environ:
        here = os.path.dirname(os.path.abspath(__file__))
        os.execv(os.path.join(here, "in-private-net.sh"),
                 ["in-private-net.sh", os.path.abspath(__file__), *argv])


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
