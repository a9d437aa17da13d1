"""pelmoran -Headless with a configuration file beside the executable.

The configuration and scan files are written here byte by byte from the
published format, a pymodbus slave records every read it serves, and an
OPC UA client (node-opcua) reads the published tags. No operator acts.

Usage: headless_config_test.py <path of pelmoran> <node_modules directory>
"""
import json
import logging
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer

PROGRAM = None
NODE_MODULES = None
HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# The file format, written independently of the program's own writer.

def text(value):
    data = value.encode("utf-8")
    if len(data) < 0xFF:
        return struct.pack("<B", len(data)) + data
    if len(data) < 0xFFFE:
        return struct.pack("<BH", 0xFF, len(data)) + data
    return struct.pack("<BHI", 0xFF, 0xFFFF, len(data)) + data


def serial_settings():
    return struct.pack("<IBBBBIIIIBBxx", 19200, 0, 0, 8, 0, 0, 0, 3, 1, 0, 0)


def tcp_endpoint(name, port, protocol=1, timeout=1000, address=(127, 0, 0, 1)):
    return (text(name) + struct.pack("<iiiii", 0, protocol, timeout, port, 1) +
            bytes(address) + serial_settings())


def config_file(endpoints, scan_paths):
    out = struct.pack("<Hi", 3, len(endpoints)) + b"".join(endpoints)
    return out + struct.pack("<i", len(scan_paths)) + b"".join(text(p) for p in scan_paths)


def scan_file(endpoint, point_type, address, length, frequency, data_types,
              delimiter=".", slave=1):
    out = text("3.00") + text(endpoint) + text(delimiter)
    out += struct.pack("<iBBHHi", 502, slave, point_type, address, length, frequency)
    out += struct.pack("<i", len(data_types))
    for data_type in data_types:
        out += struct.pack("<iiff", point_type, data_type, 0.0, 100.0)
    return out


# A slave that remembers every read: (function code, wire address, count).

class RecordingContext(ModbusSlaveContext):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.reads = []
        self.lock = threading.Lock()

    def getValues(self, fc_as_hex, address, count=1):
        with self.lock:
            self.reads.append((fc_as_hex, address, count))
        return super().getValues(fc_as_hex, address, count)

    def count(self, read):
        with self.lock:
            return self.reads.count(read)


def start_slave():
    context = RecordingContext(
        co=ModbusSequentialDataBlock(0, [p % 2 for p in range(100)]),
        di=ModbusSequentialDataBlock(0, [0] * 100),
        hr=ModbusSequentialDataBlock(0, [500 + p for p in range(100)]),
        ir=ModbusSequentialDataBlock(0, [2000 + 3 * p for p in range(100)]),
        zero_mode=True)
    port = free_port()
    threading.Thread(target=StartTcpServer,
                     kwargs={"context": ModbusServerContext(slaves=context, single=True),
                             "address": ("127.0.0.1", port)},
                     daemon=True).start()
    for _ in range(200):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return context, port
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("the pymodbus slave did not start")


class HeadlessConfiguration(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="pelmoran-files-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        # The configuration is looked for beside the executable.
        self.program = os.path.join(self.dir, "pelmoran")
        shutil.copy2(PROGRAM, self.program)
        self.opcua_url = "opc.tcp://127.0.0.1:%d" % free_port()
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        self.env.update({"XDG_CONFIG_HOME": self.dir, "HOME": self.dir,
                         "PELMORAN_OPCUA_ENDPOINT": self.opcua_url})

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)

    def start(self, env=None):
        process = subprocess.Popen([self.program, "-Headless"], env=dict(self.env, **(env or {})),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # Standard error is read as it comes, so that a test can wait for a line.
        process.lines = []
        process.changed = threading.Condition()

        def read():
            for line in process.stderr:
                with process.changed:
                    process.lines.append(line.decode("utf-8", "replace"))
                    process.changed.notify_all()
        process.reader = threading.Thread(target=read, daemon=True)
        process.reader.start()

        def stop():
            if process.poll() is None:
                process.kill()
                process.wait()
            process.reader.join(timeout=20)
            process.stderr.close()
        self.addCleanup(stop)
        return process

    def stop(self, process):
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            self.fail("pelmoran did not end after SIGTERM")
        process.reader.join(timeout=20)
        err = "".join(process.lines)
        self.assertEqual(process.returncode, 0, err)
        return err

    def wait_for_line(self, process, text, seconds=20):
        with process.changed:
            return process.changed.wait_for(
                lambda: any(text in line for line in process.lines), timeout=seconds)

    def wait_for(self, condition, process, seconds=20):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return True
            self.assertIsNone(process.poll(), "pelmoran ended on its own")
            time.sleep(0.1)
        return False

    def read_tags(self, names):
        result = subprocess.run(["node", os.path.join(HERE, "read_tags.js"), self.opcua_url,
                                 *names],
                                env=dict(self.env, NODE_PATH=NODE_MODULES),
                                capture_output=True, timeout=60)
        # The client library prints notices of its own around the result.
        lines = [line for line in result.stdout.decode("utf-8", "replace").splitlines()
                 if line.startswith("{")]
        if result.returncode != 0 or len(lines) != 1:
            return None
        return json.loads(lines[0])

    def test_the_saved_scans_poll_and_publish_without_an_operator(self):
        slave, port = start_slave()
        self.write("holding.scn", scan_file("PLANT", 3, 11, 4, 200, [0, 0, 0, 0]))
        self.write("inputs.scn", scan_file("PLANT", 4, 1, 3, 300, [0, 0, 0], delimiter="_",
                                           slave=2))
        self.write("pelmoran.tst", config_file(
            [tcp_endpoint("PLANT", port)],
            [self.path("holding.scn"), "", self.path("missing.scn"), self.path("inputs.scn")]))
        process = self.start()

        # Point address 11 is the twelfth register, 10 on the wire.
        polled = self.wait_for(
            lambda: slave.count((3, 10, 4)) >= 3 and slave.count((4, 0, 3)) >= 3, process)
        self.assertTrue(polled, "reads seen: %s" % sorted(set(slave.reads)))

        names = ["PLANT.NODE1.40011", "PLANT.NODE1.40014", "PLANT_NODE2_30001",
                 "PLANT_NODE2_30003"]
        expected = [510.0, 513.0, 2000.0, 2006.0]
        if NODE_MODULES:
            values = {}

            def published():
                values.update(self.read_tags(names) or {})
                return all(values.get(n, {}).get("good") for n in names)
            self.assertTrue(self.wait_for(published, process, seconds=90), values)
            self.assertEqual([values[n]["value"] for n in names], expected)

        err = self.stop(process)
        # The missing scan is named on standard error; the empty name opens nothing.
        self.assertIn(self.path("missing.scn"), err)
        self.assertEqual(err.count("scan file"), 1, err)

    def test_no_configuration_beside_the_program_is_silent(self):
        # The restore then runs at the first turn of the event loop, which
        # comes before the end asked for once the start-up lines are out.
        process = self.start({"PELMORAN_RESTORE_DELAY_MS": "1"})
        self.assertTrue(self.wait_for_line(process, "no configuration file at"))
        self.assertIsNone(process.poll())
        err = self.stop(process)
        self.assertNotIn("File Open Error", err)
        # Only the start-up line says that there is none; no message names it.
        self.assertEqual(err.count("pelmoran.tst"), 1, err)
        self.assertIn("no configuration file at", err)

    def test_a_damaged_configuration_is_named_and_the_program_runs_on(self):
        slave, port = start_slave()
        self.write("holding.scn", scan_file("PLANT", 3, 1, 2, 200, [0, 0]))
        whole = config_file([tcp_endpoint("PLANT", port)], [self.path("holding.scn")])
        # Cut inside the scan's file name: the file is refused whole, so not
        # even the endpoint read before the cut is restored.
        self.write("pelmoran.tst", whole[:-5])
        process = self.start()
        message = self.path("pelmoran.tst") + " was not restored"
        self.assertTrue(self.wait_for_line(process, message))
        self.assertIsNone(process.poll())
        self.assertEqual(slave.count((3, 0, 2)), 0)
        err = self.stop(process)
        self.assertIn(message, err)


if __name__ == "__main__":
    logging.disable(logging.CRITICAL)
    PROGRAM = sys.argv.pop(1)
    NODE_MODULES = sys.argv.pop(1)
    if not os.path.isdir(os.path.join(NODE_MODULES, "node-opcua-client")):
        NODE_MODULES = ""
    unittest.main(verbosity=2)
