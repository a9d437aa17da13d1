"""Daniels/ENRON 32-bit registers through the whole gateway: pelmoran -Headless
polls a Daniels RTU endpoint on a socat pseudo-terminal, where a slave of the
tests' own serves registers 7001-7999 as 32 bits each. Tag 47002 must show
register 7002, and a client's write to it must change register 7002 and no
other.

Usage: enron_test.py <pelmoran> <node> <folder holding node-opcua-client's
       node_modules> <hostile_slave.py>
"""
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import unittest

from file_layout import configuration, endpoint, scan
from ops_support import program_environment, wait_for

PROGRAM = NODE = MODULES = SLAVE = None
HERE = os.path.dirname(os.path.abspath(__file__))
COM = 7


class Process:
    def __init__(self, argv, **kwargs):
        self.proc = subprocess.Popen(argv, **kwargs)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class EnronThroughTheGatewayTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="pelmoran-enron-")
        # Cleanups rather than tearDown, which a failing setUp skips.
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.socat = self.start(["socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"],
                                stderr=subprocess.PIPE, text=True)
        devices = []
        while len(devices) < 2:
            line = self.socat.proc.stderr.readline()
            self.assertTrue(line, "socat made no pseudo-terminals")
            m = re.search(r"PTY is (\S+)", line)
            if m:
                devices.append(m.group(1))
        self.slave = self.start(["/usr/bin/python3", SLAVE, "--transport", "rtu", "--dialect",
                                 "enron", "--device", devices[1]], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
        self.assertTrue(self.slave.proc.stdout.readline().startswith("ready"))
        self.command("set 7001 %d" % struct.unpack("<I", struct.pack("<i", -5))[0])
        self.command("set 7002 20000000")
        self.command("set 7003 33")
        scan_path = os.path.join(self.dir, "enron.scn")
        with open(scan_path, "wb") as f:
            # WORD Swapped LONG: the register's high word first.
            f.write(scan("E", 7001, 4, 200, port=COM, data_type=7))
        with open(os.path.join(self.dir, "pelmoran.tst"), "wb") as f:
            # A Daniels/ENRON RTU endpoint "E" on COM 7.
            f.write(configuration([endpoint("E", COM, 1000, protocol=3, tcp=False)], [scan_path]))
        self.env = program_environment(self.dir)
        self.env["PELMORAN_CONFIG_DIR"] = self.dir
        self.env["PELMORAN_COM%d" % COM] = devices[0]
        self.stderr = open(os.path.join(self.dir, "stderr.log"), "w+")
        self.addCleanup(self.stderr.close)
        self.start([PROGRAM, "-Headless"], env=self.env, stdout=subprocess.DEVNULL,
                   stderr=self.stderr)

    def start(self, argv, **kwargs):
        process = Process(argv, **kwargs)
        self.addCleanup(process.stop)
        return process

    def command(self, line):
        self.slave.proc.stdin.write(line + "\n")
        self.slave.proc.stdin.flush()
        return self.slave.proc.stdout.readline().strip()

    def node(self, script, *args):
        result = subprocess.run([NODE, os.path.join(HERE, script), MODULES,
                                 self.env["PELMORAN_OPCUA_ENDPOINT"], *args],
                                capture_output=True, text=True, timeout=60)
        for line in result.stdout.splitlines():
            if line.startswith("RESULT "):
                return line[len("RESULT "):]
        return None

    def read(self, *tags):
        out = self.node("opcua_read.mjs", *tags)
        return json.loads(out) if out else None

    def test_each_register_is_one_tag_that_reads_and_writes_that_register(self):
        tags = ["E.NODE1.47001", "E.NODE1.47002"]
        first = wait_for(lambda: (lambda r: r if r and all(r[t]["status"] == "Good"
                                                           for t in tags) else None)(
            self.read(*tags)), 30, interval=0.5)
        self.assertIsNotNone(first, "the tags never turned good")
        self.assertEqual(first["E.NODE1.47001"]["value"], -5)
        self.assertEqual(first["E.NODE1.47002"]["value"], 20000000)
        self.assertIsNone(self.read("E.NODE1.47003")["E.NODE1.47003"]["value"],
                          "no tag names a register the scan does not hold as its own")

        self.assertEqual(self.node("opcua_write.mjs", "E.NODE1.47002", "123456"), "Good")
        written = wait_for(lambda: self.command("get 7002 1") == "values 123456", 10)
        self.assertTrue(written, "the write did not reach register 7002")
        self.assertEqual(self.command("get 7001 1"),
                         "values %d" % struct.unpack("<I", struct.pack("<i", -5))[0])
        self.assertEqual(self.command("get 7003 1"), "values 33", "a register no tag shows")
        shown = wait_for(lambda: self.read("E.NODE1.47002")["E.NODE1.47002"]["value"] == 123456,
                         10, interval=0.5)
        self.assertTrue(shown, "the tag did not show what was written")


if __name__ == "__main__":
    PROGRAM, NODE, MODULES, SLAVE = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1])
