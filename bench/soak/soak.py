"""Soak run: pelmoran -Headless for a number of minutes against two simulators,
one that stays up and one that is stopped and started again on a cycle, with
an OPC UA client subscribed to every tag and writing. Prints the program's
resident memory, open descriptors and threads after a warm-up and at the end,
and their growth per hour (least squares over all samples); the steady
simulator's figures are printed beside them for comparison.

Fails (status 1) when the program dies, does not end in order, never
reconnects to the cycled slave, or the client sees nothing.

Usage: soak.py --build DIR [--minutes N] [--cycle SECONDS] [--sample SECONDS]
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
MODULES = os.path.join(SOURCE, "tests", "integration", "opcua")
# Memory points of both endpoints' memory scans: the client writes there.
WRITTEN = r"^(STEADY|CYCLED)\.NODE1\.4002\d$"
WRITE_INTERVAL_MS = 500
FIGURES = (("rss_kib", "RSS (KiB)"), ("fds", "descriptors"), ("threads", "threads"))


def parse_status(text):
    """Resident memory (KiB) and threads from the text of /proc/PID/status."""
    fields = dict(line.split(":", 1) for line in text.splitlines() if ":" in line)
    return int(fields["VmRSS"].split()[0]), int(fields["Threads"])


def figures(pid):
    with open("/proc/%d/status" % pid) as f:
        rss_kib, threads = parse_status(f.read())
    return {"rss_kib": rss_kib, "fds": len(os.listdir("/proc/%d/fd" % pid)), "threads": threads}


def growth_per_hour(samples):
    """Least-squares slope of [(seconds, value), ...], per hour."""
    if len(samples) < 2:
        return 0.0
    n = len(samples)
    mean_t = sum(t for t, _ in samples) / n
    mean_v = sum(v for _, v in samples) / n
    spread = sum((t - mean_t) ** 2 for t, _ in samples)
    if spread == 0:
        return 0.0
    return sum((t - mean_t) * (v - mean_v) for t, v in samples) / spread * 3600


def table(name, samples):
    """Lines: each figure at the first and last sample, and its growth per hour."""
    lines = ["%-28s %12s %12s %14s" % (name, "start", "end", "growth/hour")]
    for key, label in FIGURES:
        series = [(t, s[key]) for t, s in samples]
        lines.append("  %-26s %12d %12d %+14.1f" % (label, series[0][1], series[-1][1],
                                                   growth_per_hour(series)))
    return lines


def reconnections(log, endpoint):
    """How often the program's log says the endpoint came back after a loss."""
    states = re.findall(r"pelmoran: endpoint %s (not connected|connected)$" % re.escape(endpoint),
                        log, re.M)
    return sum(1 for before, after in zip(states, states[1:])
               if before == "not connected" and after == "connected")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop(proc, timeout=20):
    """SIGTERM, then SIGKILL; the exit status."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return proc.returncode


class Simulator:
    """pelmoran-sim serving Modbus/TCP on a port that survives restarts."""

    def __init__(self, program, port):
        self.program, self.port, self.proc = program, port, None

    def start(self):
        self.proc = subprocess.Popen([self.program, "--tcp", str(self.port), "--tick", "200"],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        line = self.proc.stdout.readline()
        if "listening" not in line:
            raise RuntimeError("pelmoran-sim did not start: %r" % line)

    def stop(self):
        if self.proc:
            stop(self.proc)
            self.proc.stdout.close()
            self.proc = None


class Soak:
    def __init__(self, args):
        self.args = args
        self.dir = tempfile.mkdtemp(prefix="pelmoran-soak-")
        self.children = []
        self.log = open(os.path.join(self.dir, "program.log"), "w+")
        self.steady = Simulator(args.sim, free_port())
        self.cycled = Simulator(args.sim, free_port())

    def close(self):
        for proc in reversed(self.children):
            stop(proc)
        self.steady.stop()
        self.cycled.stop()
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def program_log(self):
        self.log.flush()
        with open(self.log.name) as f:
            return f.read()

    def wait_for_log(self, pattern, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if re.search(pattern, self.program_log(), re.M):
                return True
            if self.program.poll() is not None:
                return False
            time.sleep(0.2)
        return False

    def start(self):
        self.steady.start()
        self.cycled.start()
        subprocess.run([self.args.config, self.dir, str(self.steady.port), str(self.cycled.port)],
                       check=True, timeout=30)
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        self.url = "opc.tcp://127.0.0.1:%d" % free_port()
        env.update(HOME=self.dir, XDG_CONFIG_HOME=self.dir, PELMORAN_CONFIG_DIR=self.dir,
                   PELMORAN_OPCUA_ENDPOINT=self.url, PELMORAN_RESTORE_DELAY_MS="200",
                   PELMORAN_RECONNECT_PERIOD_MS="1000")
        self.program = subprocess.Popen([self.args.program, "-Headless"], env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.log)
        self.children.append(self.program)
        if not self.wait_for_log(r"scan steady-demo-memory\.scn on STEADY: GOOD", 60):
            raise RuntimeError("the program never polled the steady slave:\n" + self.program_log())

    def start_client(self, seconds):
        self.client = subprocess.Popen(
            [self.args.node, os.path.join(HERE, "soak_client.mjs"), self.args.modules, self.url,
             str(seconds), WRITTEN, str(WRITE_INTERVAL_MS)],
            stdout=subprocess.PIPE, text=True)
        self.children.append(self.client)

    def client_counts(self):
        out, _ = self.client.communicate(timeout=60)
        line = next((l for l in out.splitlines() if l.startswith("CLIENT ")), None)
        if self.client.returncode != 0 or line is None:
            raise RuntimeError("the OPC UA client failed (status %s)" % self.client.returncode)
        return json.loads(line[len("CLIENT "):])

    def cycle(self, until, sample_every, samples):
        """Stops and starts the cycled slave until the time is up, sampling
        both processes on the way; the number of cycles."""
        cycles, up, next_toggle = 0, True, time.monotonic() + self.args.cycle / 2
        next_sample = time.monotonic()
        while time.monotonic() < until:
            if self.program.poll() is not None:
                raise RuntimeError("the program ended:\n" + self.program_log())
            now = time.monotonic()
            if now >= next_sample:
                samples["program"].append((now, figures(self.program.pid)))
                samples["sim"].append((now, figures(self.steady.proc.pid)))
                next_sample += sample_every
            if now >= next_toggle:
                if up:
                    self.cycled.stop()
                else:
                    self.cycled.start()
                    cycles += 1
                up = not up
                next_toggle += self.args.cycle / 2
            time.sleep(min(0.2, max(0.0, until - now)))
        if not up:
            self.cycled.start()
        return cycles

    def run(self):
        measured = self.args.minutes * 60
        self.start()
        self.start_client(self.args.cycle + measured)
        # The first cycle lets every lazily made buffer, thread and socket exist.
        self.cycle(time.monotonic() + self.args.cycle, self.args.cycle, {"program": [], "sim": []})
        samples = {"program": [], "sim": []}
        sample_every = min(self.args.sample, max(measured / 10, 1))
        cycles = self.cycle(time.monotonic() + measured, sample_every, samples)
        now = time.monotonic()
        samples["program"].append((now, figures(self.program.pid)))
        samples["sim"].append((now, figures(self.steady.proc.pid)))
        counts = self.client_counts()
        status = stop(self.program)
        return self.report(samples, cycles, counts, status)

    def report(self, samples, cycles, counts, status):
        log = self.program_log()
        back = reconnections(log, "CYCLED")
        print("soak: %g min after a %g s warm-up; slave CYCLED stopped and started %d times, "
              "the program reconnected %d times" % (self.args.minutes, self.args.cycle, cycles,
                                                    back))
        print("\n".join(table("pelmoran -Headless", samples["program"])))
        print("\n".join(table("pelmoran-sim (steady slave)", samples["sim"])))
        print("client: %(tags)d tags, %(notifications)d notifications, %(writes)d writes "
              "(%(goodWrites)d good)" % counts)
        faults = []
        if status != 0:
            faults.append("the program ended with status %s on SIGTERM" % status)
        if back == 0:
            faults.append("the program never reconnected to the cycled slave")
        if counts["notifications"] == 0 or counts["goodWrites"] == 0:
            faults.append("the client saw no notification or had no write taken")
        for fault in faults:
            print("soak: FAILED: " + fault)
        if faults:
            print(log, file=sys.stderr)
        return 1 if faults else 0


def arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="build folder holding the program")
    parser.add_argument("--minutes", type=float, default=10.0, help="measured time (10)")
    parser.add_argument("--cycle", type=float, default=20.0,
                        help="seconds of one stop and start of the cycled slave (20)")
    parser.add_argument("--sample", type=float, default=30.0, help="seconds between samples (30)")
    parser.add_argument("--node", default=shutil.which("node") or "node")
    parser.add_argument("--modules", default=MODULES,
                        help="folder whose node_modules holds node-opcua-client")
    args = parser.parse_args(argv)
    args.program = os.path.join(args.build, "shell", "pelmoran")
    args.sim = os.path.join(args.build, "tools", "pelmoran-sim", "pelmoran-sim")
    args.config = os.path.join(args.build, "bench", "soak", "soak_config")
    return args


def main(argv):
    soak = Soak(arguments(argv))
    try:
        return soak.run()
    finally:
        soak.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
