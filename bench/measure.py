#!/usr/bin/env python3
"""Runs one command and prints one JSON line about that child alone (wait4 gives
the usage of this one child, nothing else this process ran): exit_code, wall
and cpu seconds, maxrss_kib, and its stdout as `output`. When the first line
of stdout is a JSON object (korvane-cli --json), its fields are added too.
    bench/measure.py COMMAND [ARG ...]"""
import json
import os
import subprocess
import sys
import time

start = time.monotonic()
child = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
output = child.stdout.read()
_, status, usage = os.wait4(child.pid, 0)
result = {}
try:
    first = json.loads(output.splitlines()[0])
    if isinstance(first, dict):
        result.update(first)
except (IndexError, ValueError):
    pass
result.update(exit_code=os.waitstatus_to_exitcode(status), wall=time.monotonic() - start,
              cpu=usage.ru_utime + usage.ru_stime, maxrss_kib=usage.ru_maxrss, output=output)
print(json.dumps(result))
