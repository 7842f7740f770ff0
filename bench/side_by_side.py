#!/usr/bin/env python3
"""Fast mode against TFTP on one network path, in alternating rounds.

Starts the servers itself (korvane-devsim --out, in.tftpd -L -c -s, udp_floor
serve twice, optionally a fleet of simulators), then runs ROUNDS rounds of five
transfers of the same random file, in an order that rotates from round to round:

  fast      korvane-cli download --fast        -> korvane-devsim (writes the image)
  upload    curl -T FILE --tftp-blksize 8000   -> in.tftpd -c     (the direction Korvane sends)
  download  curl --tftp-blksize 8000 -o FILE   <- in.tftpd
  floor     udp_floor send                     -> udp_floor serve (as many round trips, no work)
  polled    udp_floor send --poll              -> udp_floor serve --poll (the same, both ends
                                                  looking before they sleep, as fast mode does)

and, when asked, the described cadence on a 100-datagram file and a fleet in
fast mode. Every arrival is checked by MD5. It prints, for each transfer, wall
MB/s (median and range of the rounds) and CPU microseconds per datagram of
client and server; the ratio fast/TFTP per round and its median; and a header
line with what was measured and the load average before.

CPU is the kernel's task clock of the process with its threads and its
children (perf_event_open, counting inherited from before the program starts):
in.tftpd serves each transfer from a child of its own that it never waits for
(SIGCHLD ignored), so /proc/PID/stat of the server would never see that
child's time. A server's figure is its count from just before the client
starts to the moment the server tree has gone idle after it. Without
perf_event_open (not root, or perf_event_paranoid) clients fall back to
wait4's usage and servers to /proc/PID/stat, and the header says that the
TFTP server's children are then missing.

    bench/side_by_side.py --bin DIR --work DIR --label TEXT --device ADDR --tftp ADDR
                          --floor ADDR [--floor-port N] [--server-prefix CMD]
                          [--size-mib N] [--rounds N] [--cadence] [--fleet ADDR...] [--fleet-mib N]

--server-prefix runs every server through CMD (e.g. "nsenter --net=/proc/PID/ns/net",
the device's end of a veth pair); clients run where this script runs.
Used by fast_vs_tftp.sh (loopback) and lan_shaped.sh (veth, MTU 1500).
"""
import argparse
import ctypes
import hashlib
import json
import os
import select
import shlex
import signal
import statistics
import struct
import subprocess
import sys
import time

MB = 1e6
BLOCK = 8000  # TFTP block size and Korvane's data payload alike

# ---------------------------------------------------------------- CPU counting

_libc = ctypes.CDLL(None, use_errno=True)
_SYS_PERF_EVENT_OPEN = 298  # x86-64
_PERF_TYPE_SOFTWARE, _PERF_COUNT_SW_TASK_CLOCK = 1, 1
_INHERIT = 1 << 1


def task_clock(pid):
    """A counter of the task clock (ns) of `pid` and of every thread and child it
    makes from now on, or None where the kernel does not allow it."""
    attr = struct.pack('=IIQQQQQ', _PERF_TYPE_SOFTWARE, 64, _PERF_COUNT_SW_TASK_CLOCK,
                       0, 0, 0, _INHERIT).ljust(64, b'\0')  # perf_event_attr, first version
    fd = _libc.syscall(_SYS_PERF_EVENT_OPEN, ctypes.create_string_buffer(attr, 64), pid, -1, -1, 0)
    return fd if fd >= 0 else None


def proc_cpu_ns(pid):
    """utime + stime of `pid` (all its threads) from /proc, in ns."""
    with open(f'/proc/{pid}/stat') as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * 1e9 / os.sysconf('SC_CLK_TCK')


def state(pid, tid=None):
    try:
        with open(f'/proc/{pid}/task/{tid or pid}/stat') as f:
            return f.read().rsplit(')', 1)[1].split()[0]
    except OSError:
        return 'X'  # gone


class Started:
    """A program started stopped, its CPU counter attached, then let run."""

    def __init__(self, argv, prefix=(), stdout=subprocess.DEVNULL):
        # The shell stops itself before it becomes the program, so that the
        # counter is attached before the program's first instruction.
        self.popen = subprocess.Popen(
            [*prefix, 'sh', '-c', 'kill -STOP $$; exec "$@"', 'sh', *argv],
            stdout=stdout, stderr=subprocess.DEVNULL, start_new_session=True, bufsize=0)
        self.pid = self.popen.pid
        deadline = time.monotonic() + 5
        while state(self.pid) not in ('T', 't'):
            if self.popen.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f'{argv[0]} did not start')
            time.sleep(0.001)
        self.counter = task_clock(self.pid)
        self.started = time.monotonic()
        os.kill(self.pid, signal.SIGCONT)

    def cpu_ns(self):
        if self.counter is not None:
            return struct.unpack('=Q', os.read(self.counter, 8))[0]
        return proc_cpu_ns(self.pid)

    def tree(self):
        """(pid, tid) of every thread of the program and of its descendants."""
        out, todo = [], [self.pid]
        while todo:
            pid = todo.pop()
            try:
                tids = os.listdir(f'/proc/{pid}/task')
            except OSError:
                continue
            for tid in tids:
                out.append((pid, tid))
                try:
                    with open(f'/proc/{pid}/task/{tid}/children') as f:
                        todo += [int(c) for c in f.read().split()]
                except OSError:
                    pass
        return out

    def _signal_group(self, number):
        try:
            os.killpg(self.pid, number)
        except ProcessLookupError:
            pass

    def settle(self, limit=3.0):
        """Waits until no thread of the tree runs, twice in a row (bounded)."""
        deadline, quiet = time.monotonic() + limit, 0
        while quiet < 2 and time.monotonic() < deadline:
            busy = any(state(pid, tid) in ('R', 'D') for pid, tid in self.tree())
            quiet = 0 if busy else quiet + 1
            time.sleep(0.002)

    def stop(self):
        if self.popen.poll() is None:
            self._signal_group(signal.SIGTERM)  # its own group: its children too
            try:
                self.popen.wait(5)
            except subprocess.TimeoutExpired:
                pass
        # An in.tftpd child that is still waiting out its last acknowledgement
        # outlives SIGTERM by seconds (it catches it).
        self._signal_group(signal.SIGKILL)
        self.popen.wait()
        if self.counter is not None:
            os.close(self.counter)
            self.counter = None


def run_client(argv):
    """Runs a client to its end: (exit code, stdout, wall s, cpu s)."""
    child = Started(argv, stdout=subprocess.PIPE)
    try:
        output = child.popen.stdout.read().decode(errors='replace')
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - child.started
        child.popen.returncode = os.waitstatus_to_exitcode(status)
        cpu = child.cpu_ns() / 1e9 if child.counter is not None else usage.ru_utime + usage.ru_stime
    finally:
        child.stop()  # cut short (SIGINT): the client goes too
    return child.popen.returncode, output, wall, cpu


def md5_of(path):
    digest = hashlib.md5()
    with open(path, 'rb') as f:
        while chunk := f.read(1 << 20):
            digest.update(chunk)
    return digest.hexdigest()


# ------------------------------------------------------------------- the bench

class Bench:
    def __init__(self, a):
        self.a = a
        self.prefix = shlex.split(a.server_prefix)
        self.bin = a.bin
        self.servers = []
        self.work = a.work
        self.tftp_dir = os.path.join(self.work, 'tftp')
        self.received = os.path.join(self.work, 'received')
        self.file = os.path.join(self.tftp_dir, 'image.bin')
        self.length = a.size_mib * 2**20
        self.korvane_datagrams = (self.length + BLOCK - 1) // BLOCK + 2  # header, chunks, end
        self.tftp_datagrams = self.length // BLOCK + 1 + 1  # last block short (maybe empty), request

    def server(self, argv, stdout=subprocess.DEVNULL):
        s = Started(argv, self.prefix, stdout)
        self.servers.append(s)
        return s

    def prepare(self):
        os.makedirs(self.tftp_dir)
        os.chmod(self.work, 0o711)  # in.tftpd runs as nobody, chrooted into tftp/
        os.chmod(self.tftp_dir, 0o777)  # ... and creates the uploads there
        with open(self.file, 'wb') as f:
            f.write(os.urandom(self.length))
        os.chmod(self.file, 0o644)
        self.md5 = md5_of(self.file)
        self.small = os.path.join(self.work, 'small.bin')  # 100 datagrams
        with open(self.small, 'wb') as f:
            f.write(os.urandom(98 * BLOCK))
        self.fleet_file = os.path.join(self.work, 'fleet.bin')
        with open(self.fleet_file, 'wb') as f:
            f.write(os.urandom(self.a.fleet_mib * 2**20))
        self.devsim = self.server([f'{self.bin}/korvane-devsim', '--bind', self.a.device,
                                   '--out', self.received], stdout=subprocess.PIPE)
        self.tftpd = self.server(['in.tftpd', '-L', '-c', '-s', '-u', 'nobody',
                                  '-a', f'{self.a.tftp}:69', self.tftp_dir])
        self.floor = self.server([f'{self.bin}/udp_floor', 'serve', self.a.floor,
                                  str(self.a.floor_port)])
        self.polled = self.server([f'{self.bin}/udp_floor', 'serve', '--poll', self.a.floor,
                                   str(self.a.floor_port + 1)])
        for address in self.a.fleet:
            self.server([f'{self.bin}/korvane-devsim', '--bind', address,
                         '--out', os.path.join(self.work, 'fleet-' + address)])
        time.sleep(0.5)
        for s in self.servers:
            if s.popen.poll() is not None:
                raise RuntimeError('a server did not start (address in use or not local?)')

    def devsim_line(self, limit=10.0):
        """The simulator's JSON line about the transfer that just ended."""
        out = self.devsim.popen.stdout
        ready, _, _ = select.select([out], [], [], limit)
        if not ready:
            raise RuntimeError('korvane-devsim reported no transfer')
        return json.loads(out.readline())

    def transfer(self, kind, round_no):
        """One transfer: dict of wall, client and server CPU (s), datagrams."""
        server = {'fast': self.devsim, 'upload': self.tftpd, 'download': self.tftpd,
                  'floor': self.floor, 'polled': self.polled}[kind]
        before = server.cpu_ns()
        fetched = os.path.join(self.work, 'fetched.bin')
        upload_name = f'up-{round_no}.bin'
        argv = {
            'fast': [f'{self.bin}/korvane-cli', 'download', '--fast', '--quiet', '--json',
                     '--ip', self.a.device, self.file],
            'upload': ['curl', '-s', '-T', self.file, '--tftp-blksize', str(BLOCK),
                       f'tftp://{self.a.tftp}/{upload_name}'],
            'download': ['curl', '-s', '--tftp-blksize', str(BLOCK), '-o', fetched,
                         f'tftp://{self.a.tftp}/image.bin'],
            'floor': [f'{self.bin}/udp_floor', 'send', self.a.floor, str(self.a.floor_port),
                      str(self.korvane_datagrams)],
            'polled': [f'{self.bin}/udp_floor', 'send', '--poll', self.a.floor,
                       str(self.a.floor_port + 1), str(self.korvane_datagrams)],
        }[kind]
        code, output, wall, cpu = run_client(argv)
        if code != 0:
            raise RuntimeError(f'{kind} round {round_no}: {argv[0]} exited {code}')
        result = {'wall': wall, 'client_cpu': cpu}
        if kind == 'fast':
            report = json.loads(output.splitlines()[0])
            device = self.devsim_line()
            if (report['result'] != 'succeeded' or device['verdict'] != 'ok'
                    or device['md5'] != self.md5):
                raise RuntimeError(f'fast round {round_no} did not arrive intact: {device}')
            os.remove(device['path'])
            result.update(datagrams=report['datagrams'], seconds=report['seconds'])
        elif kind == 'upload':
            result['datagrams'] = self.tftp_datagrams
            arrived = os.path.join(self.tftp_dir, upload_name)
        elif kind == 'download':
            result['datagrams'] = self.tftp_datagrams
            arrived = fetched
        else:
            result.update(datagrams=self.korvane_datagrams, seconds=float(output.split()[0]))
        server.settle()
        result['server_cpu'] = (server.cpu_ns() - before) / 1e9
        if kind in ('upload', 'download'):
            if md5_of(arrived) != self.md5:
                raise RuntimeError(f'TFTP {kind} round {round_no} arrived damaged')
            os.remove(arrived)
        return result

    def cadence(self):
        code, output, _, _ = run_client([f'{self.bin}/korvane-cli', 'download', '--quiet',
                                         '--json', '--ip', self.a.device, self.small])
        report = json.loads(output.splitlines()[0])
        line = self.devsim_line()
        if code != 0 or report['result'] != 'succeeded' or line['verdict'] != 'ok':
            raise RuntimeError('the described cadence did not arrive intact')
        os.remove(line['path'])
        return report['seconds'] / report['datagrams']

    def fleet(self, addresses):
        ips = [arg for address in addresses for arg in ('--ip', address)]
        code, output, wall, _ = run_client([f'{self.bin}/korvane-cli', 'download', '--fast',
                                            '--quiet', '--json', *ips, self.fleet_file])
        lines = [json.loads(line) for line in output.splitlines()]
        if code != 0 or len(lines) != len(addresses) or any(
                line['result'] != 'succeeded' for line in lines):
            raise RuntimeError('the fleet download failed')
        return wall

    def run(self):
        kinds = ['fast', 'upload', 'download', 'floor', 'polled']
        rounds, cadence, fleet = [], [], []
        for r in range(self.a.rounds):
            order = kinds[r % len(kinds):] + kinds[:r % len(kinds)]
            rounds.append({kind: self.transfer(kind, r + 1) for kind in order})
            if self.a.cadence:
                cadence.append(self.cadence())
            if self.a.fleet:  # one device alone, then all of them at once
                fleet.append((self.fleet(self.a.fleet[:1]), self.fleet(self.a.fleet)))
        return rounds, cadence, fleet

    def stop(self):
        for s in reversed(self.servers):
            s.stop()


def loadavg():
    with open('/proc/loadavg') as f:
        return ' '.join(f.read().split()[:3])


def report(a, bench, rounds, cadence, fleet, load_before, counted):
    length = bench.length
    names = {
        'fast': 'korvane-cli --fast -> korvane-devsim',
        'upload': 'curl -T (TFTP upload) -> in.tftpd',
        'download': 'curl (TFTP download) <- in.tftpd',
        'floor': 'udp_floor send -> udp_floor serve',
        'polled': 'the same, both --poll',
    }
    print(f'  {"":38}  {"wall MB/s":^24}  {"CPU us per datagram":^19}')
    print(f'  {"":38}  {"median":>7}  {"(min  -  max)":15}  {"client":>8} {"server":>8}')
    for kind, name in names.items():
        mbs = [length / r[kind]['wall'] / MB for r in rounds]
        per = lambda key: statistics.median(
            r[kind][key] / r[kind]['datagrams'] * 1e6 for r in rounds)
        print(f'  {name:38}  {statistics.median(mbs):7.1f}  ({min(mbs):6.1f} - {max(mbs):6.1f})'
              f'  {per("client_cpu"):8.1f} {per("server_cpu"):8.1f}')
    trips = lambda kind: statistics.median(r[kind]['seconds'] / r[kind]['datagrams'] * 1e6
                                           for r in rounds)
    print(f'  round trip: fast {trips("fast"):.1f} us (the job alone, without start-up, loading'
          f' and MD5), floor {trips("floor"):.1f} us sleeping, {trips("polled"):.1f} us polled')
    for tftp in ('upload', 'download'):
        ratios = [r[tftp]['wall'] / r['fast']['wall'] for r in rounds]  # MB/s over MB/s
        print(f'  ratio fast / TFTP {tftp:8}: median {statistics.median(ratios):.2f}'
              f'  (rounds: {", ".join(f"{x:.2f}" for x in ratios)})'
              + ('  target >= 1.3, aim 1.5' if tftp == 'upload' else ''))
    if cadence:
        per = statistics.median(cadence) * 1000
        print(f'  described cadence, 100 datagrams: {per:.2f} ms per datagram'
              f' ({BLOCK / per / 1000:.2f} MB/s; the receive loop sets ~10.15)')
    if fleet:
        one = statistics.median(f[0] for f in fleet)
        wall = statistics.median(f[1] for f in fleet)
        n = len(a.fleet)
        print(f'  fleet in fast mode: {n} devices x {a.fleet_mib} MiB in {wall:.2f} s, one alone'
              f' {one:.2f} s ({wall / one:.2f}x; {n * a.fleet_mib * 2**20 / wall / MB:.1f} MB/s'
              ' aggregate)')
    if not counted:
        print('  (no perf_event_open here: client CPU from wait4, server CPU from /proc/PID/stat;'
              ' in.tftpd\'s per-transfer children are NOT counted)')
    print(f'  load after: {loadavg()} (before: {load_before})')


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument('--bin', required=True)
    p.add_argument('--work', required=True)
    p.add_argument('--label', required=True)
    p.add_argument('--device', required=True)
    p.add_argument('--tftp', required=True)
    p.add_argument('--floor', required=True)
    p.add_argument('--floor-port', type=int, default=21818)
    p.add_argument('--server-prefix', default='')
    p.add_argument('--size-mib', type=int, default=64)
    p.add_argument('--rounds', type=int, default=5)
    p.add_argument('--cadence', action='store_true')
    p.add_argument('--fleet', nargs='*', default=[])
    p.add_argument('--fleet-mib', type=int, default=16)
    a = p.parse_args()

    # A SIGTERM or SIGINT still stops the servers (finally below).
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: sys.exit(130))
    load_before = loadavg()
    probe = task_clock(os.getpid())
    counted = probe is not None
    if counted:
        os.close(probe)
    print(f'{a.label}: {a.size_mib} MiB random file, {a.rounds} round{"s" if a.rounds != 1 else ""}, the five transfers in '
          f'an order that rotates each round; load average before: {load_before} '
          f'({os.cpu_count()} CPUs); CPU = '
          + ('task clock of process, threads and children' if counted else
             'wait4 / /proc/PID/stat'), flush=True)
    bench = Bench(a)
    try:
        bench.prepare()
        rounds, cadence, fleet = bench.run()
    finally:
        bench.stop()
    report(a, bench, rounds, cadence, fleet, load_before, counted)


if __name__ == '__main__':
    main()
