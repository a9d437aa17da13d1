"""MQTT benchmark: pelmoran -Headless polls 50,000 holding registers that change
at every read (25 scans of 2000 at 1000 ms, one Modbus/TCP endpoint) and
publishes them through a local mosquitto to a subscriber that counts the
metrics it receives. Offered is what the slave answered (each register read is
a changed tag), delivered what the subscriber counted; the gateway's CPU and
resident memory come from /proc. Then a reference publisher sends payloads of
the same size (a Sparkplug DDATA of as many metrics as the gateway's carried
on average, or one JSON document) as fast as the broker confirms them, through
the same broker to the same subscriber: the ceiling of that path.

Usage: mqtt_bench.py --program PELMORAN --peer MQTT_BENCH_PEER [--format sparkplug|json|both]
                     [--seconds 30] [--tags 50000] [--qos 1]
"""
import argparse
import math
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "integration", "ops"))

from file_layout import configuration, endpoint, scan  # noqa: E402
from ops_support import free_port, program_environment, stop_process, wait_for  # noqa: E402

MOSQUITTO = "/usr/sbin/mosquitto"
SCAN_LENGTH = 2000
POLL_MS = 1000
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """User and system time of a process, from /proc/<pid>/stat."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rpartition(")")[2].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def rss_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


class Peer:
    """mqtt_bench_peer answering a line on stdin with its counts."""

    def __init__(self, *args):
        self.proc = subprocess.Popen(list(args), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)
        self.first = self.proc.stdout.readline().split()
        if not self.first:
            raise RuntimeError("%s did not start" % " ".join(args))

    def ask(self):
        self.proc.stdin.write("?\n")
        self.proc.stdin.flush()
        return [int(v) for v in self.proc.stdout.readline().split()[1:]]

    def stop(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=20)
        self.proc.stdout.close()


class Sample:
    """Everything counted at one moment."""

    def __init__(self, slave, counter, gateway, broker):
        self.time = time.monotonic()
        self.offered = slave.ask()[0]
        (self.messages, self.bytes, self.metrics, self.born, self.historical,
         self.undecodable) = counter.ask()
        self.gateway_cpu = cpu_seconds(gateway.pid) if gateway else 0.0
        self.broker_cpu = cpu_seconds(broker.pid)


def rate(later, earlier, field):
    return (getattr(later, field) - getattr(earlier, field)) / (later.time - earlier.time)


class Run:
    def __init__(self, args, fmt):
        self.args, self.format = args, fmt
        self.dir = tempfile.mkdtemp(prefix="pelmoran-mqtt-bench-")
        self.children = []

    def broker(self):
        self.port = free_port()
        conf = os.path.join(self.dir, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\nuser %s\n"
                    % (self.port, pwd.getpwuid(os.getuid()).pw_name))
            # A subscriber that falls behind is measured, not cut off by a queue limit.
            f.write("max_queued_messages 0\nmax_inflight_messages 1000\n")
        proc = subprocess.Popen([MOSQUITTO, "-c", conf], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        self.children.append(proc)
        return proc

    def listening(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=0.2):
                return True
        except OSError:
            return False

    def configure(self, slave_port):
        paths = []
        for k in range(math.ceil(self.args.tags / SCAN_LENGTH)):
            length = min(SCAN_LENGTH, self.args.tags - k * SCAN_LENGTH)
            paths.append(os.path.join(self.dir, "scan%02d.scn" % k))
            with open(paths[-1], "wb") as f:
                f.write(scan("BENCH", k * SCAN_LENGTH + 1, length, POLL_MS))
        with open(os.path.join(self.dir, "pelmoran.tst"), "wb") as f:
            f.write(configuration([endpoint("BENCH", slave_port, 3000)], paths))
        with open(os.path.join(self.dir, "pelmoran.ini"), "w") as f:
            f.write("[Mqtt]\nEnabled=1\nHost=127.0.0.1\nPort=%d\nFormat=%s\nEdgeNodeId=bench\n"
                    "TopicPrefix=bench\nQos=%d\n" % (self.port, self.format, self.args.qos))

    def gateway(self):
        env = program_environment(self.dir)
        env["PELMORAN_CONFIG_DIR"] = self.dir
        self.log = open(os.path.join(self.dir, "program.log"), "w+")
        proc = subprocess.Popen([self.args.program, "-Headless"], env=env,
                                stdout=subprocess.DEVNULL, stderr=self.log)
        self.children.append(proc)
        return proc

    def measure(self):
        broker = self.broker()
        wait_for(self.listening, 10)
        slave = Peer(self.args.peer, "slave", str(self.args.tags))
        counter = Peer(self.args.peer, "count", str(self.port), self.format)
        try:
            self.configure(int(slave.first[1]))
            gateway = self.gateway()
            everyone = (lambda s: s.born) if self.format == "sparkplug" else (lambda s: s.metrics)
            born = wait_for(lambda: everyone(Sample(slave, counter, gateway, broker))
                            >= self.args.tags, 60, 0.5)
            if not born:
                raise RuntimeError("the tags were never all published; the program said:\n"
                                   + self.tail())
            # One poll cycle more, so that start-up is behind us.
            time.sleep(2 * POLL_MS / 1000)
            start = Sample(slave, counter, gateway, broker)
            first = peak = rss_mib(gateway.pid)
            while time.monotonic() - start.time < self.args.seconds:
                time.sleep(1)
                peak = max(peak, rss_mib(gateway.pid))
            end = Sample(slave, counter, gateway, broker)
            last = rss_mib(gateway.pid)
            stop_process(gateway)
            measured = self.figures(start, end, peak, gateway.returncode)
            measured["rss_growth"] = (last - first) / (end.time - start.time)
            self.drain(slave, counter, broker)
            measured.update(self.reference(slave, counter, broker, measured))
            return measured
        finally:
            counter.stop()
            slave.stop()

    def figures(self, start, end, peak, status):
        messages = end.messages - start.messages
        metrics = end.metrics - start.metrics
        return {
            "offered": rate(end, start, "offered"),
            "delivered": rate(end, start, "metrics"),
            "messages": rate(end, start, "messages"),
            "payload": (end.bytes - start.bytes) / messages if messages else 0,
            "per_message": metrics / messages if messages else 0,
            "historical": end.historical - start.historical,
            "undecodable": end.undecodable,
            "gateway_cpu": 100 * rate(end, start, "gateway_cpu"),
            "broker_cpu": 100 * rate(end, start, "broker_cpu"),
            "rss": peak,
            "exit": status,
        }

    def drain(self, slave, counter, broker):
        """Until the subscriber has had what the broker still held for it."""
        def quiet():
            before = Sample(slave, counter, None, broker).messages
            time.sleep(1)
            return Sample(slave, counter, None, broker).messages == before
        wait_for(quiet, 120, 0)

    def reference(self, slave, counter, broker, measured):
        """The same broker and subscriber fed by the reference publisher."""
        per_message = max(1, round(measured["per_message"]))
        before = Sample(slave, counter, None, broker)
        out = subprocess.run([self.args.peer, "publish", str(self.port), str(self.args.qos),
                              self.format, str(per_message), str(self.args.reference_seconds)],
                             capture_output=True, text=True, timeout=self.args.reference_seconds
                             + 120).stdout.split()
        published, sent_bytes, seconds = int(out[1]), int(out[2]), float(out[3])
        wanted = before.metrics + published * per_message
        # Counted once the subscriber has everything, or as far as it got.
        wait_for(lambda: Sample(slave, counter, None, broker).metrics >= wanted, 60, 0.2)
        after = Sample(slave, counter, None, broker)
        return {
            "ref_published": published * per_message / seconds,
            "ref_received": (after.metrics - before.metrics) / (after.time - before.time),
            "ref_payload": sent_bytes / published if published else 0,
            "ref_broker_cpu": 100 * rate(after, before, "broker_cpu"),
        }

    def tail(self):
        self.log.seek(0)
        return self.log.read()[-3000:]

    def close(self):
        for proc in self.children:
            stop_process(proc)
        shutil.rmtree(self.dir, ignore_errors=True)


def report(fmt, m, args):
    print("\n%s, %d tags at %d ms, QoS %d, %d s measured" % (fmt, args.tags, POLL_MS, args.qos,
                                                            args.seconds))
    rows = [
        ("changes offered by the slave", "%.0f metrics/s" % m["offered"]),
        ("metrics delivered to the subscriber", "%.0f metrics/s (%.1f%% of offered)"
         % (m["delivered"], 100 * m["delivered"] / m["offered"] if m["offered"] else 0)),
        ("messages", "%.1f/s, %.1f metrics and %.0f bytes each"
         % (m["messages"], m["per_message"], m["payload"])),
        ("gateway CPU", "%.1f%% of one core" % m["gateway_cpu"]),
        ("gateway resident memory", "%.1f MiB at its peak, growing %.2f MiB/s"
         % (m["rss"], m["rss_growth"])),
        ("broker CPU", "%.1f%% of one core" % m["broker_cpu"]),
        ("historical / undecodable", "%d / %d" % (m["historical"], m["undecodable"])),
        ("gateway exit status on SIGTERM", "%s" % m["exit"]),
        ("reference, same payloads", "%.0f metrics/s published, %.0f received, %.0f bytes each"
         % (m["ref_published"], m["ref_received"], m["ref_payload"])),
        ("gateway / reference", "%.2f" % (m["delivered"] / m["ref_received"]
                                          if m["ref_received"] else 0)),
    ]
    for label, value in rows:
        print("  %-38s %s" % (label, value))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--peer", required=True)
    parser.add_argument("--format", choices=["sparkplug", "json", "both"], default="both")
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--reference-seconds", type=float, default=10)
    parser.add_argument("--tags", type=int, default=50000)
    parser.add_argument("--qos", type=int, choices=[0, 1, 2], default=1)
    args = parser.parse_args()
    failed = False
    for fmt in (["sparkplug", "json"] if args.format == "both" else [args.format]):
        run = Run(args, fmt)
        try:
            report(fmt, run.measure(), args)
        except RuntimeError as e:
            print("%s: %s" % (fmt, e))
            failed = True
        finally:
            run.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
