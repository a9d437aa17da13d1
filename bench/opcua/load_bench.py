"""The tag server against a reference OPC UA server (node-opcua's) under the
same load and the same client, in one run: Float tags given a new value every
100 ms, all monitored at 100 ms with queue size 10 through one subscription,
first on the machine as it is ("idle") and then beside a CPU hog (stress-ng).
Two clients: one CreateMonitoredItems request at a time, and all of them sent
without waiting for the answers (pipelined). For each case it prints, for
both servers and as the ratio tag server / reference:

- the time to create all items, or how many were created before the
  client's time-out;
- notifications delivered against offered (rounds of updates the server made
  in the measured window, times the items created);
- the server process's CPU share (user and system time over the window) and
  its resident memory (peak and at the end);
- the time a Read of one tag takes, asked every 100 ms by a second client
  from the start of creation to the end of the window (median, 99th
  percentile and the longest).

Usage: load_bench.py --build DIR [--tags 50000,200000] [--seconds 10]
                     [--create-timeout 120] [--hog-cpus 2] [--quick]
"""
import argparse
import os
import queue
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
STRESS = shutil.which("stress-ng") or "/usr/bin/stress-ng"
SERVERS = ("pelmoran", "node-opcua")
CLIENTS = ("serial", "pipelined")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rpartition(")")[2].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS


def memory_mb(pid):
    """Resident memory now and at its peak, in MB."""
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                values[key] = int(rest.split()[0]) * 1024 / 1e6
    return values.get("VmRSS", 0.0), values.get("VmHWM", 0.0)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Lines:
    """A child process whose stdout lines are read on a thread of their own."""

    def __init__(self, argv, stdin=subprocess.DEVNULL):
        self.proc = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.strip())
        self.lines.put(None)

    def expect(self, prefix, timeout):
        """The words of the next line starting with prefix; None on time-out
        or when the child ended."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if line is None:
                return None
            if line.startswith(prefix):
                return line.split()

    def stop(self, timeout=30):
        if self.proc.stdin:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Server(Lines):
    """load_host or reference_server.mjs: "PORT p", then "rounds n" on asking."""

    def __init__(self, argv, start_timeout):
        super().__init__(argv, stdin=subprocess.PIPE)
        words = self.expect("PORT", start_timeout)
        if words is None:
            self.stop()
            raise RuntimeError("%s did not start" % argv[0])
        self.port = int(words[1])

    def rounds(self):
        self.proc.stdin.write("?\n")
        self.proc.stdin.flush()
        # A starved server may take long to answer; the count is of when it did.
        words = self.expect("rounds", 300)
        if words is None:
            raise RuntimeError("the server never said how many rounds it made")
        return int(words[1])


def run_case(args, server_name, tags, client_mode, pki):
    if server_name == "pelmoran":
        argv = [args.host, str(tags), str(args.interval)]
    else:
        argv = [args.node, os.path.join(HERE, "reference_server.mjs"), str(free_port()),
                str(tags), str(args.interval), pki]
    server = Server(argv, args.start_timeout)
    pid = server.proc.pid
    result = {"rss_before": memory_mb(pid)[0]}
    reader = Lines([args.client, str(server.port), "read", "BENCH.0"], stdin=subprocess.PIPE)
    command = [args.client, str(server.port), str(tags), str(args.seconds),
               "--batch", str(args.batch), "--interval", str(args.interval),
               "--queue", str(args.queue), "--create-timeout", str(args.create_timeout)]
    if client_mode == "pipelined":
        command.append("--pipelined")
    client = Lines(command)
    try:
        created = client.expect("created", args.create_timeout + 60)
        if created is None:
            raise RuntimeError("the client never finished creating items")
        result["created"], result["create_s"] = int(created[1]), float(created[2])
        if result["created"] == 0:
            raise RuntimeError("the client created no item")
        if client.expect("ready", 60) is None:
            raise RuntimeError("the client never got ready")
        start, cpu0, rounds0 = time.monotonic(), cpu_seconds(pid), server.rounds()
        delivered = client.expect("delivered", args.seconds + 60)
        end, cpu1, rounds1 = time.monotonic(), cpu_seconds(pid), server.rounds()
        if delivered is None:
            raise RuntimeError("the client never reported what it counted")
        wall = end - start
        result["offered"] = (rounds1 - rounds0) * result["created"] / wall
        result["delivered"] = int(delivered[1]) / wall
        result["cpu"] = (cpu1 - cpu0) / wall
        result["rss"], result["rss_peak"] = memory_mb(pid)
        reader.proc.stdin.close()
        reads = reader.expect("reads", 30)
        result["reads"] = [float(v) for v in reads[2:]] if reads else [0.0, 0.0, 0.0]
        return result
    finally:
        client.stop(10)
        reader.stop(10)
        server.stop()


def percent(part, whole):
    return 100.0 * part / whole if whole else 0.0


def describe(r, tags):
    if "error" in r:
        return r["error"]
    made = ("all in %.2f s" % r["create_s"] if r["created"] == tags
            else "%d in %.0f s" % (r["created"], r["create_s"]))
    return ("created %-15s delivered %6.1f%% of %8.0f/s  CPU %.2f  RSS %4.0f MB (peak %4.0f)  "
            "Read ms %.1f/%.1f/%.1f" % (made, percent(r["delivered"], r["offered"]),
                                        r["offered"], r["cpu"], r["rss"], r["rss_peak"],
                                        *r["reads"]))


def ratio(a, b):
    return "%.3g" % (a / b) if b else "-"


def compare(ours, ref, tags):
    """Tag server / reference for each figure (below 1 is better for time,
    CPU, memory and Read; above 1 better for delivered). The reference may
    offer fewer changes than asked when its own updates fall behind, so both
    the rate delivered and the share of what each offered are compared."""
    if "error" in ours or "error" in ref:
        return "no ratio: a run failed"
    def create_time(r):
        # Items per second created stands in when not all were created.
        return r["create_s"] * tags / max(r["created"], 1)
    return ("time per item created %s, delivered/s %s, delivered share %s, CPU %s, RSS %s, "
            "Read p99 %s" % (
                ratio(create_time(ours), create_time(ref)),
                ratio(ours["delivered"], ref["delivered"]),
                ratio(percent(ours["delivered"], ours["offered"]),
                      percent(ref["delivered"], ref["offered"])),
        ratio(ours["cpu"], ref["cpu"]), ratio(ours["rss"], ref["rss"]),
        ratio(ours["reads"][1], ref["reads"][1])))


class Hog:
    def __init__(self, cpus):
        self.proc = subprocess.Popen([STRESS, "--cpu", str(cpus), "--quiet"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)


def main(argv):
    args = arguments(argv)
    pki = tempfile.mkdtemp(prefix="pelmoran-load-bench-")
    print("Float tags updated every %d ms, items at %d ms, queue size %d, %d items a request; "
          "%d s measured after %d s settling; client time-out for creating %d s"
          % (args.interval, args.interval, args.queue, args.batch, args.seconds, 2,
             args.create_timeout))
    print("Read ms: median/99th percentile/longest of a Read asked every 100 ms throughout")
    failed = False
    try:
        for condition in args.conditions:
            hog = Hog(args.hog_cpus) if condition == "hog" else None
            try:
                print("\n== %s (load average %s at the start) ==" % (
                    condition if not hog else "beside stress-ng --cpu %d" % args.hog_cpus,
                    " ".join("%.1f" % v for v in os.getloadavg())))
                for tags in args.tags:
                    for mode in args.clients:
                        results = {}
                        for name in SERVERS:
                            try:
                                results[name] = run_case(args, name, tags, mode, pki)
                            except RuntimeError as e:
                                results[name] = {"error": str(e)}
                                failed = True
                            print("%7d items, %-9s client, %-10s %s" % (
                                tags, mode, name, describe(results[name], tags)), flush=True)
                        print("%7d items, %-9s client, ratio      %s" % (
                            tags, mode, compare(results["pelmoran"], results["node-opcua"], tags)),
                            flush=True)
            finally:
                if hog:
                    hog.stop()
        print("\nload average at the end: %s" % " ".join("%.1f" % v for v in os.getloadavg()))
    finally:
        shutil.rmtree(pki, ignore_errors=True)
    return 1 if failed else 0


def arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="build folder")
    parser.add_argument("--tags", default="50000,200000",
                        help="comma-separated item counts (50000,200000)")
    parser.add_argument("--seconds", type=int, default=10, help="measured seconds (10)")
    parser.add_argument("--create-timeout", type=int, default=120,
                        help="seconds the client gives creating the items (120)")
    parser.add_argument("--hog-cpus", type=int, default=os.cpu_count() or 2,
                        help="stress-ng CPU workers beside the servers (one a core)")
    parser.add_argument("--conditions", default="idle,hog")
    parser.add_argument("--clients", default=",".join(CLIENTS))
    parser.add_argument("--batch", type=int, default=1000, help="items a request (1000)")
    parser.add_argument("--interval", type=int, default=100)
    parser.add_argument("--queue", type=int, default=10)
    parser.add_argument("--start-timeout", type=int, default=600,
                        help="seconds a server may take to make its tags (600)")
    parser.add_argument("--node", default=shutil.which("node") or "node")
    parser.add_argument("--quick", action="store_true",
                        help="5,000 items, 5 s, idle only: checks that it all runs")
    args = parser.parse_args(argv)
    if args.quick:
        args.tags, args.seconds, args.conditions = "5000", 5, "idle"
    args.tags = [int(t) for t in args.tags.split(",")]
    args.conditions = args.conditions.split(",")
    args.clients = args.clients.split(",")
    args.host = os.path.join(args.build, "bench", "opcua", "load_host")
    args.client = os.path.join(args.build, "bench", "opcua", "opcua_bench_client")
    if not os.path.isdir(os.path.join(HERE, "node_modules")):
        parser.error("npm ci in %s first (scripts/deps.sh does it)" % HERE)
    return args


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
