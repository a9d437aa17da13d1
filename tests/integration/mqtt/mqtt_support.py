"""The pieces every MQTT test starts: a mosquitto of its own, a Modbus slave it
steers, pelmoran -Headless with an [Mqtt] section, and paho subscribers that
keep every message with the time it came. Sparkplug payloads are read with
the library's sparkplug_b.proto, compiled by protoc when first needed."""
import atexit
import importlib
import os
import pwd
import re
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time

import paho.mqtt.client as paho

HERE = os.path.dirname(os.path.abspath(__file__))
PROTO_DIR = os.path.join(HERE, "..", "..", "..", "mqtt")
sys.path.insert(0, os.path.join(HERE, "..", "ops"))

from file_layout import configuration, endpoint, text  # noqa: E402
from ops_support import free_port, program_environment, stop_process, wait_for  # noqa: E402

MOSQUITTO = "/usr/sbin/mosquitto"
SLAVE_SCRIPT = os.path.join(HERE, "mqtt_slave.py")
HOLDING, INPUT = 3, 4
GOOD_QUALITY = 192
BAD_QUALITY = 0
# Room for the gateway to connect, restore and poll on a loaded machine.
DEADLINE = 30

# Sparkplug data types by their documented numbers.
INT32, INT64, UINT32, UINT64, FLOAT, DOUBLE, BOOLEAN, STRING = 3, 4, 7, 8, 9, 10, 11, 12
# OPC UA status codes a client would get.
BAD_DEVICE_FAILURE = 0x808B0000
BAD_TYPE_MISMATCH = 0x80740000
BAD_OUT_OF_RANGE = 0x803C0000
BAD_SEVERITY = 0x80000000


def words_of(data):
    return [int.from_bytes(data[k:k + 2], "big") for k in range(0, len(data), 2)]


def scan_file(endpoint_name, address, length, poll_ms, tags, node=1, point_type=HOLDING):
    """A "4.00" scan (docs/files.md). Each tag is (data type, bit, string
    registers); none is scaled."""
    records = b"".join(struct.pack("<iiffiiidddd", point_type, t[0], 0.0, 100.0, t[1], t[2], 0,
                                   0.0, 100.0, 0.0, 100.0) for t in tags)
    return (text("4.00") + text(endpoint_name) + text(".")
            + struct.pack("<iBBHHii", 502, node, point_type, address, length, poll_ms, len(tags))
            + records)


def write_configuration(directory, endpoints, scans, mqtt):
    """endpoints: (name, port); scans: scan_file() bytes; mqtt: the [Mqtt] keys."""
    paths = []
    for k, data in enumerate(scans):
        paths.append(os.path.join(directory, "scan%02d.scn" % k))
        with open(paths[-1], "wb") as f:
            f.write(data)
    with open(os.path.join(directory, "pelmoran.tst"), "wb") as f:
        f.write(configuration([endpoint(name, port, 1000) for name, port in endpoints], paths))
    with open(os.path.join(directory, "pelmoran.ini"), "w") as f:
        f.write("[Mqtt]\n" + "".join("%s=%s\n" % item for item in mqtt.items()))


def started(test, process):
    """process, stopped when the test ends, however it ends: a cleanup runs
    even when setUp fails after it."""
    test.addCleanup(process.stop)
    return process


def temporary_directory(test, prefix):
    directory = tempfile.mkdtemp(prefix=prefix)
    test.addCleanup(shutil.rmtree, directory, True)
    return directory


class Broker:
    """mosquitto on a port of its own; lines are added to its configuration,
    which lets anyone in unless they say otherwise."""

    def __init__(self, directory, *lines, port=None):
        self.dir = directory
        self.port = port or free_port()
        self.conf = os.path.join(directory, "mosquitto.conf")
        self.log_path = os.path.join(directory, "mosquitto.log")
        with open(self.conf, "w") as f:
            f.write("listener %d 127.0.0.1\n" % self.port)
            # Started by root, mosquitto would become the user "mosquitto",
            # who may not write the test's private directory.
            f.write("user %s\n" % pwd.getpwuid(os.getuid()).pw_name)
            if not any(line.startswith("allow_anonymous") for line in lines):
                lines += ("allow_anonymous true",)
            f.write("".join(line + "\n" for line in lines))
            f.write("log_type all\n")
        self.proc = None
        self.start()

    def start(self):
        self.log = open(self.log_path, "a")
        self.proc = subprocess.Popen([MOSQUITTO, "-c", self.conf], stdout=self.log,
                                     stderr=subprocess.STDOUT)
        if not wait_for(self.listening, 10, 0.05):
            self.stop()
            raise RuntimeError("mosquitto did not start: " + self.text())

    def listening(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=0.2):
                return True
        except OSError:
            return False

    def stop(self):
        """SIGTERM: mosquitto closes every connection and saves what it keeps."""
        stop_process(self.proc)
        self.log.close()

    def text(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()


class Slave:
    """mqtt_slave.py: holding registers to set, read back and count reads of."""

    def __init__(self, registers=(), port=0):
        self.registers = list(registers)
        self.port = port
        self.start()

    def start(self):
        self.proc = subprocess.Popen(
            ["/usr/bin/python3", SLAVE_SCRIPT, "--port", str(self.port),
             "--registers", ",".join(str(r) for r in self.registers)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("PORT "):
            self.stop()
            raise RuntimeError("the slave did not start: %r" % line)
        self.port = int(line.split()[1])

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().split()

    def set(self, address, *values):
        self.ask("set %d %s" % (address, " ".join(str(v) for v in values)))

    def get(self, address, count=1):
        return [int(v) for v in self.ask("get %d %d" % (address, count))[1:]]

    def reads(self, address):
        return int(self.ask("reads %d" % address)[1])

    def set_and_wait_polled(self, address, value, timeout=DEADLINE):
        """Sets a register and returns once a read of it has been answered since."""
        before = self.reads(address)
        self.set(address, value)
        return wait_for(lambda: self.reads(address) > before, timeout, 0.02)

    def stop(self):
        stop_process(self.proc)
        for stream in (self.proc.stdin, self.proc.stdout):
            stream.close()


class Gateway:
    """pelmoran -Headless in a configuration directory of its own."""

    def __init__(self, program, directory):
        self.program = program
        self.dir = directory
        self.env = program_environment(directory)
        self.env["PELMORAN_CONFIG_DIR"] = directory
        self.log_path = os.path.join(directory, "stderr.log")
        self.proc = None

    def start(self):
        self.log = open(self.log_path, "a")
        self.proc = subprocess.Popen([self.program, "-Headless"], env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=self.log)

    def stop(self):
        if self.proc is not None:
            stop_process(self.proc)
            self.log.close()

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait()
        self.log.close()

    def text(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def wait_log(self, pattern, timeout=DEADLINE):
        return wait_for(lambda: re.search(pattern, self.text()), timeout, 0.1)


class Message:
    def __init__(self, topic, payload, retain, dup=False):
        self.topic, self.payload, self.retain, self.dup = topic, payload, retain, dup
        self.arrived = time.time()
        self.decoded = None

    def sparkplug(self):
        if self.decoded is None:
            self.decoded = decode(self.payload)
        return self.decoded


class Subscriber:
    """A paho client keeping every message it receives, in order of arrival."""

    def __init__(self, port, topic, client_id="", clean=True, protocol=paho.MQTTv311,
                 username=None, password=None, tls_ca=None):
        self.messages = []
        self.changed = threading.Condition()
        self.topic = topic
        if protocol == paho.MQTTv5:
            self.client = paho.Client(client_id=client_id, protocol=protocol)
        else:
            self.client = paho.Client(client_id=client_id, clean_session=clean, protocol=protocol)
        if username:
            self.client.username_pw_set(username, password)
        if tls_ca:
            self.client.tls_set(ca_certs=tls_ca, tls_version=ssl.PROTOCOL_TLS_CLIENT)
        self.client.reconnect_delay_set(min_delay=1, max_delay=1)
        self.client.on_connect = self.on_connect
        self.client.on_message = self.on_message
        self.subscribed = threading.Event()
        self.client.on_subscribe = lambda *_: self.subscribed.set()
        self.client.connect("localhost" if tls_ca else "127.0.0.1", port, keepalive=10)
        self.client.loop_start()
        if not self.subscribed.wait(DEADLINE):
            self.stop()
            raise RuntimeError("the subscriber never subscribed")

    def on_connect(self, client, userdata, flags, rc, properties=None):
        client.subscribe(self.topic, qos=1)

    def on_message(self, client, userdata, message):
        with self.changed:
            self.messages.append(Message(message.topic, message.payload, message.retain,
                                         bool(message.dup)))
            self.changed.notify_all()

    def wait(self, predicate, timeout=DEADLINE):
        """predicate(messages) until it is true or the deadline passes."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                result = predicate(list(self.messages))
                left = deadline - time.monotonic()
                if result or left <= 0:
                    return result
                self.changed.wait(left)

    def stop(self):
        self.client.loop_stop()
        self.client.disconnect()


_compiled = {}


def sparkplug():
    """The module protoc makes of sparkplug_b.proto, made once per run."""
    if "module" not in _compiled:
        out = tempfile.mkdtemp(prefix="pelmoran-proto-")
        atexit.register(shutil.rmtree, out, True)
        subprocess.run(["protoc", "--python_out=" + out, "-I", PROTO_DIR, "sparkplug_b.proto"],
                       check=True)
        sys.path.insert(0, out)
        _compiled["module"] = importlib.import_module("sparkplug_b_pb2")
    return _compiled["module"]


def decode(payload):
    message = sparkplug().Payload()
    message.ParseFromString(payload)
    return message


def signed(value, bits):
    return value - (1 << bits) if value >= 1 << (bits - 1) else value


def metric_value(metric):
    kind = metric.WhichOneof("value")
    if kind is None:
        return None
    value = getattr(metric, kind)
    if metric.datatype == INT32 and kind == "int_value":
        return signed(value, 32)
    if metric.datatype == INT64 and kind == "long_value":
        return signed(value, 64)
    return value


def properties(metric):
    out = {}
    for key, value in zip(metric.properties.keys, metric.properties.values):
        kind = value.WhichOneof("value")
        out[key] = getattr(value, kind) if kind else None
    return out


class SparkplugNode:
    """The messages of one edge node as a Sparkplug host sees them."""

    def __init__(self, subscriber, group, node):
        self.subscriber = subscriber
        self.prefix = "spBv1.0/%s/" % group
        self.node = node

    def of(self, messages):
        """(type, device, payload) of the messages this node published, in
        order: the commands a host sent it are not among them, nor a QoS 1
        message the broker delivered again after a restart (at least once)."""
        out = []
        delivered = set()
        for m in messages:
            parts = m.topic.split("/")
            again = m.dup and (m.topic, m.payload) in delivered
            delivered.add((m.topic, m.payload))
            if (m.topic.startswith(self.prefix) and len(parts) >= 4 and parts[3] == self.node
                    and not parts[2].endswith("CMD") and not again):
                out.append((parts[2], parts[4] if len(parts) > 4 else None, m.sparkplug()))
        return out

    def all(self):
        return self.of(self.subscriber.messages)

    def wait(self, predicate, timeout=DEADLINE):
        return self.subscriber.wait(lambda messages: predicate(self.of(messages)), timeout)

    def wait_count(self, kind, count, device=None, timeout=DEADLINE):
        """The first count messages of a type (and device), once there are so many."""
        def enough(seen):
            found = [p for t, d, p in seen if t == kind and (device is None or d == device)]
            return found if len(found) >= count else None
        return self.wait(enough, timeout)

    def wait_first_values(self, names, timeout=DEADLINE):
        """The first metric of each name that carries a value, in a birth or
        data message: births may come before the first poll, with no value."""
        def found(seen):
            out = {}
            for kind, _, payload in seen:
                for m in payload.metrics if kind in ("DBIRTH", "DDATA") else ():
                    if m.name in names and m.name not in out and metric_value(m) is not None:
                        out[m.name] = m
            return out if len(out) == len(names) else None
        return self.wait(found, timeout)

    def wait_value(self, name, predicate, kinds=("DDATA", "DBIRTH"), timeout=DEADLINE):
        """The first metric called name, in a message of one of kinds, that
        satisfies predicate(metric)."""
        def found(seen):
            for kind, _, payload in seen:
                if kind in kinds:
                    for metric in payload.metrics:
                        if metric.name == name and predicate(metric):
                            return metric
            return None
        return self.wait(found, timeout)

    def publish(self, kind, device, metrics):
        """A command to this node: metrics are (name, datatype, field, value)."""
        payload = sparkplug().Payload()
        payload.timestamp = int(time.time() * 1000)
        for name, datatype, field, value in metrics:
            metric = payload.metrics.add()
            metric.name = name
            metric.datatype = datatype
            setattr(metric, field, value)
        topic = "%s%s/%s" % (self.prefix, kind, self.node) + ("/" + device if device else "")
        info = self.subscriber.client.publish(topic, payload.SerializeToString(), qos=1)
        info.wait_for_publish()


def repeats(seen):
    """Metrics published again in DDATA with the value and quality they had."""
    last, out = {}, []
    for kind, device, payload in seen:
        for m in payload.metrics if kind in ("DBIRTH", "DDATA") else ():
            state = (metric_value(m), properties(m).get("Quality"))
            answer = "Write Status" in properties(m)
            if kind == "DDATA" and not answer and last.get((device, m.name)) == state:
                out.append((device, m.name, state))
            last[(device, m.name)] = state
    return out


def sequence_faults(seen):
    """Where seq does not run on by one modulo 256: NBIRTH starts at 0 and
    every other message but NDEATH follows the one before it."""
    faults = []
    previous = None
    for k, (kind, device, payload) in enumerate(seen):
        if kind == "NDEATH":
            continue
        expected = 0 if kind == "NBIRTH" else (None if previous is None else (previous + 1) % 256)
        if expected is not None and payload.seq != expected:
            faults.append((k, kind, device, payload.seq, expected))
        previous = payload.seq
    return faults
