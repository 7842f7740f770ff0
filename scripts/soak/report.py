"""What the soak prints: each wrong run with the command that repeats it, the
table of fault kinds and the summary."""

import collections
import dataclasses

from soak.plan import FLEET_SIZE, KIB, KINDS, MIB


def say(text):
    print(text, flush=True)


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
