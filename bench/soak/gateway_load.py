"""The whole gateway at 100,000 tags: pelmoran -Headless polls 800 scans of 125
holding registers every second on Modbus/TCP slaves of the benchmark's own
(mqtt_bench_peer slave: every register changes at every read, so each
register read is a change), serves every tag over OPC UA to a client that
monitors all of them (opcua_bench_client, queue size 10) and publishes them
over MQTT Sparkplug through a local mosquitto to a subscriber that counts the
metrics (mqtt_bench_peer count). Over the measured minutes it reports polls/s
completed against offered, OPC UA notifications and MQTT metrics delivered
against the changes read, and the gateway's CPU and resident memory, beside
a published figure for another edge gateway.

Usage: gateway_load.py --build DIR [--minutes 1] [--scans 800] [--registers 125]
                       [--slaves 4] [--qos 1]
"""
import argparse
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "mqtt"))
sys.path.insert(0, os.path.join(HERE, "..", "opcua"))

import mqtt_bench  # noqa: E402  (puts tests/integration/ops on the path)
from file_layout import configuration, endpoint, scan  # noqa: E402
from load_bench import Lines  # noqa: E402
from ops_support import program_environment, wait_for  # noqa: E402

POLL_MS = 1000
ENDPOINT_TIMEOUT_MS = 3000
OPCUA_INTERVAL_MS = 1000
OPCUA_QUEUE = 10
CREATE_TIMEOUT_S = 300
# Another edge gateway's published figure: 100,000 tags at 1 s.
PUBLISHED = {"rss_mb": 497, "cores": 4, "share": 0.30}


class GatewayLoad(mqtt_bench.Run):
    """mqtt_bench's broker and gateway, with many scans on several slaves and
    an OPC UA client beside the MQTT subscriber."""

    def __init__(self, args):
        args.tags = args.scans * args.registers
        super().__init__(args, "sparkplug")
        self.per_slave = -(-args.scans // args.slaves)

    def configure(self, slave_ports):
        endpoints, paths, names = [], [], []
        for s, port in enumerate(slave_ports):
            name = "S%d" % s
            endpoints.append(endpoint(name, port, ENDPOINT_TIMEOUT_MS))
            scans = min(self.per_slave, self.args.scans - s * self.per_slave)
            for k in range(scans):
                first = 1 + k * self.args.registers
                paths.append(os.path.join(self.dir, "%s-%03d.scn" % (name, k)))
                with open(paths[-1], "wb") as f:
                    f.write(scan(name, first, self.args.registers, POLL_MS))
                names += ["%s.NODE1.4%04d" % (name, r)
                          for r in range(first, first + self.args.registers)]
        with open(os.path.join(self.dir, "pelmoran.tst"), "wb") as f:
            f.write(configuration(endpoints, paths))
        with open(os.path.join(self.dir, "pelmoran.ini"), "w") as f:
            f.write("[Mqtt]\nEnabled=1\nHost=127.0.0.1\nPort=%d\nFormat=sparkplug\n"
                    "EdgeNodeId=bench\nTopicPrefix=bench\nQos=%d\n" % (self.port, self.args.qos))
        self.names = os.path.join(self.dir, "names.txt")
        with open(self.names, "w") as f:
            f.write("\n".join(names) + "\n")

    def gateway(self):
        """mqtt_bench's gateway, on an OPC UA port this run knows."""
        env = program_environment(self.dir)
        env["PELMORAN_CONFIG_DIR"] = self.dir
        self.opcua = int(env["PELMORAN_OPCUA_ENDPOINT"].rpartition(":")[2])
        self.log = open(os.path.join(self.dir, "program.log"), "w+")
        proc = subprocess.Popen([self.args.program, "-Headless"], env=env,
                                stdout=subprocess.DEVNULL, stderr=self.log)
        self.children.append(proc)
        return proc

    def sample(self, slaves, counter, gateway, client_count=0):
        read = sum(s.ask()[0] for s in slaves)
        counts = counter.ask()
        return {"time": time.monotonic(), "read": read, "metrics": counts[2],
                "cpu": mqtt_bench.cpu_seconds(gateway.pid), "notifications": client_count}

    def measure(self):
        broker = self.broker()
        wait_for(self.listening, 10)
        slaves = [mqtt_bench.Peer(self.args.peer, "slave", str(self.per_slave * self.args.registers))
                  for _ in range(self.args.slaves)]
        counter = mqtt_bench.Peer(self.args.peer, "count", str(self.port), "sparkplug")
        try:
            self.configure([int(s.first[1]) for s in slaves])
            gateway = self.gateway()
            if not wait_for(lambda: counter.ask()[3] >= self.args.tags, 300, 1):
                raise RuntimeError("the tags were never all born over MQTT; the program said:\n"
                                   + self.tail())
            return self.with_client(slaves, counter, gateway)
        finally:
            counter.stop()
            for s in slaves:
                s.stop()

    def with_client(self, slaves, counter, gateway):
        seconds = int(self.args.minutes * 60)
        client = Lines([self.args.client, str(self.opcua), str(self.args.tags), str(seconds),
                        "--names", self.names, "--interval", str(OPCUA_INTERVAL_MS),
                        "--queue", str(OPCUA_QUEUE), "--batch", "1000",
                        "--create-timeout", str(CREATE_TIMEOUT_S)])
        try:
            created = client.expect("created", CREATE_TIMEOUT_S + 60)
            if created is None or client.expect("ready", 60) is None:
                raise RuntimeError("the OPC UA client never got ready")
            if int(created[1]) == 0:
                raise RuntimeError("the OPC UA client found none of the tags")
            load = os.getloadavg()
            start = self.sample(slaves, counter, gateway)
            peak, words = mqtt_bench.rss_mib(gateway.pid), None
            while client.proc.poll() is None and time.monotonic() - start["time"] < seconds + 60:
                words = client.expect("delivered", 1)
                if words:
                    break
                peak = max(peak, mqtt_bench.rss_mib(gateway.pid))
            if not words:
                raise RuntimeError("the OPC UA client never reported what it counted")
            end = self.sample(slaves, counter, gateway, int(words[1]))
            load += os.getloadavg()
            return self.figures_of(start, end, peak, created, load)
        finally:
            client.stop(10)

    def figures_of(self, start, end, peak, created, load):
        wall = end["time"] - start["time"]
        changes = (end["read"] - start["read"]) / wall
        return {
            "seconds": wall, "created": int(created[1]), "create_s": float(created[2]),
            "offered_polls": self.args.scans * 1000 / POLL_MS,
            "polls": changes / self.args.registers, "changes": changes,
            "notifications": end["notifications"] / wall,
            "metrics": (end["metrics"] - start["metrics"]) / wall,
            "cpu": (end["cpu"] - start["cpu"]) / wall, "rss": peak * 1.048576,
            "load": load,
        }


def percent(part, whole):
    return 100.0 * part / whole if whole else 0.0


def report(args, m):
    cores = os.cpu_count() or 1
    published = PUBLISHED["share"] * PUBLISHED["cores"]
    print("pelmoran -Headless, %d tags: %d scans of %d holding registers at %d ms on %d "
          "Modbus/TCP slaves, all monitored over OPC UA and published over MQTT Sparkplug "
          "(QoS %d); %.1f min measured" % (args.tags, args.scans, args.registers, POLL_MS,
                                           args.slaves, args.qos, m["seconds"] / 60))
    print("load average at the start %s, at the end %s (%d cores)" % (
        " ".join("%.1f" % v for v in m["load"][:3]), " ".join("%.1f" % v for v in m["load"][3:]),
        cores))
    rows = [
        ("OPC UA items created", "%d of %d in %.1f s" % (m["created"], args.tags, m["create_s"])),
        ("polls/s", "%.1f of %.0f offered (%.1f%%)" % (m["polls"], m["offered_polls"],
                                                      percent(m["polls"], m["offered_polls"]))),
        ("changes read/s", "%.0f" % m["changes"]),
        ("OPC UA notifications/s", "%.0f (%.1f%% of changes)" % (
            m["notifications"], percent(m["notifications"], m["changes"]))),
        ("MQTT Sparkplug metrics/s", "%.0f (%.1f%% of changes)" % (
            m["metrics"], percent(m["metrics"], m["changes"]))),
        ("gateway CPU", "%.2f of a core (%.0f%% of %d cores)" % (m["cpu"], 100 * m["cpu"] / cores,
                                                                cores)),
        ("gateway resident memory", "%.0f MB at its peak" % m["rss"]),
        ("published figure to beat", "100,000 tags at 1 s in %d MB and %.0f%% of %d cores "
         "(%.1f cores)" % (PUBLISHED["rss_mb"], 100 * PUBLISHED["share"], PUBLISHED["cores"],
                           published)),
        ("gateway / published", "memory %.2f, CPU %.2f" % (m["rss"] / PUBLISHED["rss_mb"],
                                                          m["cpu"] / published)),
    ]
    for label, value in rows:
        print("  %-28s %s" % (label, value))


def arguments(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="build folder")
    parser.add_argument("--minutes", type=float, default=1.0,
                        help="measured minutes (1; 10 for the documented figure)")
    parser.add_argument("--scans", type=int, default=800)
    parser.add_argument("--registers", type=int, default=125)
    parser.add_argument("--slaves", type=int, default=4)
    parser.add_argument("--qos", type=int, choices=[0, 1, 2], default=1)
    args = parser.parse_args(argv)
    args.program = os.path.join(args.build, "shell", "pelmoran")
    args.peer = os.path.join(args.build, "bench", "mqtt", "mqtt_bench_peer")
    args.client = os.path.join(args.build, "bench", "opcua", "opcua_bench_client")
    return args


def main(argv):
    args = arguments(argv)
    run = GatewayLoad(args)
    try:
        report(args, run.measure())
        return 0
    except RuntimeError as e:
        print("gateway_load: %s" % e)
        return 1
    finally:
        run.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
