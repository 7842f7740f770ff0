"""The verdict on one run: what korvane-cli reported against what the
simulated device actually did."""

import hashlib
import json

from soak.plan import ACK_WAIT

JSON_KEYS = {"address", "file", "length", "md5", "datagrams", "acknowledged", "result",
             "reason", "attempts", "seconds", "mode"}


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
    # The file's own MD5 (an empty file's too, though its header carries
    # zeros); one attempt, as the soak asks for no retries.
    expected = {"address": outcome.address, "file": firmware, "length": plan.size,
                "md5": hashlib.md5(data).hexdigest(), "datagrams": n, "attempts": 1,
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
