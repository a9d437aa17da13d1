"""A client's write answers with the truth: pelmoran -Headless with a pymodbus
slave, an endpoint with nothing behind it and one whose device never answers,
written by node-opcua. Each Write comes back with how it ended at the device.

Usage: client_write_test.py <pelmoran> <node> <folder holding node-opcua-client's
       node_modules> <modbus_slave.py>
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

from file_layout import configuration, endpoint, scan
from ops_support import free_port, program_environment, stop_process, wait_for

PROGRAM = NODE = MODULES = SLAVE = None
HERE = os.path.dirname(os.path.abspath(__file__))
# The slave holds registers 0-255; a write past them is answered with exception 02.
REFUSED = 301


class SilentDevice:
    """Accepts Modbus/TCP connections and never answers."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen()
        self.port = self.listener.getsockname()[1]
        self.peers = []
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                peer, _ = self.listener.accept()
            except OSError:
                return
            self.peers.append(peer)

    def close(self):
        self.listener.close()
        for peer in self.peers:
            peer.close()


class ClientWriteTest(unittest.TestCase):
    # Each piece is undone by a cleanup registered as soon as it exists, so
    # that a setUp failing half way (a client that does not load, tags that
    # never turn good) leaves no process behind: tearDown would not run.
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="pelmoran-write-")
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.slave = subprocess.Popen(["/usr/bin/python3", SLAVE], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.slave.stdout.close)
        self.addCleanup(self.slave.stdin.close)
        self.addCleanup(stop_process, self.slave)
        line = self.slave.stdout.readline()
        self.assertTrue(line.startswith("PORT "), line)
        self.silent = SilentDevice()
        self.addCleanup(self.silent.close)
        endpoints = [endpoint("LIVE", int(line.split()[1]), 1000),
                     endpoint("DEAD", free_port(), 1000),
                     endpoint("MUTE", self.silent.port, 3000)]
        # The silent device's scan never polls within a test: its writes alone go there.
        scans = [("live.scn", scan("LIVE", 1, 4, 200)),
                 ("refused.scn", scan("LIVE", REFUSED, 1, 200)),
                 ("dead.scn", scan("DEAD", 1, 1, 200)),
                 ("mute.scn", scan("MUTE", 1, 1, 600000))]
        paths = []
        for name, data in scans:
            paths.append(os.path.join(self.dir, name))
            with open(paths[-1], "wb") as f:
                f.write(data)
        with open(os.path.join(self.dir, "pelmoran.tst"), "wb") as f:
            f.write(configuration(endpoints, paths))
        self.env = program_environment(self.dir)
        self.env["PELMORAN_CONFIG_DIR"] = self.dir
        self.stderr = open(os.path.join(self.dir, "stderr.log"), "w+")
        self.addCleanup(self.stderr.close)
        self.program = subprocess.Popen([PROGRAM, "-Headless"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.addCleanup(stop_process, self.program)
        good = wait_for(lambda: self.read("LIVE.NODE1.40001")["status"] == "Good", 30, 0.3)
        self.assertTrue(good, "the live tags never turned good")

    def node(self, script, *args):
        result = subprocess.run([NODE, os.path.join(HERE, script), MODULES,
                                 self.env["PELMORAN_OPCUA_ENDPOINT"], *args],
                                capture_output=True, text=True, timeout=60)
        for line in result.stdout.splitlines():
            if line.startswith("RESULT "):
                return json.loads(line[len("RESULT "):])
        self.fail("%s gave no result: %s" % (script, result.stderr[-2000:]))

    def read(self, tag):
        return self.node("opcua_read.mjs", tag)[tag]

    def writes(self, *requests):
        return self.node("opcua_client_writes.mjs", "writes", json.dumps(list(requests)))

    def test_each_write_tells_how_it_ended_at_the_device(self):
        refused = "LIVE.NODE1.4%04d" % REFUSED
        cases = [
            ("acknowledged by the slave", [["LIVE.NODE1.40002", "Int32", 4321]], ["Good"]),
            ("no slave behind the endpoint", [["DEAD.NODE1.40001", "Int32", 1]],
             ["BadNotConnected"]),
            ("exception 02 from the slave", [[refused, "Int32", 1]], ["BadDeviceFailure"]),
            ("a value that does not convert", [["LIVE.NODE1.40001", "String", "not a number"]],
             ["BadTypeMismatch"]),
            ("one Write, several values",
             [["LIVE.NODE1.40003", "Int32", 7], [refused, "Int32", 2],
              ["DEAD.NODE1.40001", "Int32", 3], ["LIVE.NODE1.40004", "String", "x"]],
             ["Good", "BadDeviceFailure", "BadNotConnected", "BadTypeMismatch"]),
        ]
        answers = self.writes(*[values for _, values, _ in cases])
        for (what, _, expected), answer in zip(cases, answers):
            self.assertEqual(answer, expected, what)
        shown = wait_for(lambda: self.read("LIVE.NODE1.40002")["value"] == 4321, 10, 0.3)
        self.assertTrue(shown, "the acknowledged value was not read back")
        self.assertEqual(self.read("LIVE.NODE1.40003")["value"], 7)

    def test_a_write_after_the_slave_stopped_is_not_good(self):
        self.slave.send_signal(signal.SIGTERM)
        self.slave.wait(timeout=10)
        bad = wait_for(lambda: self.read("LIVE.NODE1.40001")["status"] != "Good", 20, 0.3)
        self.assertTrue(bad, "the tags stayed good without their slave")
        self.assertEqual(self.writes([["LIVE.NODE1.40001", "Int32", 9]]), [["BadNotConnected"]])

    def test_a_client_writing_to_a_silent_device_stalls_nobody_else(self):
        seen = self.node("opcua_client_writes.mjs", "beside", "LIVE.NODE1.40001",
                         "MUTE.NODE1.40001")
        self.assertEqual(seen["status"], "BadTimeout")
        self.assertTrue(seen["readBeforeWrite"], "the writer's own read waited for its write")
        # A stalled server would answer the write first and publish after it.
        self.assertGreaterEqual(seen["publishesDuringWrite"], 2,
                                "the subscriber heard nothing while the write was out")


if __name__ == "__main__":
    PROGRAM, NODE, MODULES, SLAVE = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1])
