"""Why a tag is bad, and since when: pelmoran -Headless polling a pymodbus slave,
read by node-opcua. While the slave answers, each answer restamps the tag's
source time; once it is stopped the tag keeps its last value and says why, and
the endpoint's diagnostics variable says it is no longer connected. The
diagnostics are browsed as a folder tree beside the tags.

Usage: tag_status_test.py <pelmoran> <node> <folder holding node-opcua-client's
       node_modules> <modbus_slave.py>
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

from file_layout import configuration, endpoint, scan
from ops_support import program_environment, stop_process, wait_for

PROGRAM = NODE = MODULES = SLAVE = None
HERE = os.path.dirname(os.path.abspath(__file__))
TAG = "LIVE.NODE1.40002"
CONNECTED = "Diagnostics.LIVE.Connected"
REQUESTS = "Diagnostics.LIVE.NODE1.Requests"
WIRE_REQUESTS = "Diagnostics.LIVE.Requests"
LAST_GOOD = "Diagnostics.LIVE.Scan2.LastGoodTime"
# modbus_slave.py holds 100 + 7 * p in holding register p.
TAG_VALUE = 100 + 7 * 1
LOST = ("BadNotConnected", "BadTimeout")


class TagStatusTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="pelmoran-status-")
        # Cleanups rather than tearDown, which a failing setUp skips.
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        self.slave = subprocess.Popen(["/usr/bin/python3", SLAVE], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, text=True)
        self.addCleanup(self.slave.stdout.close)
        self.addCleanup(self.slave.stdin.close)
        self.addCleanup(stop_process, self.slave)
        line = self.slave.stdout.readline()
        self.assertTrue(line.startswith("PORT "), line)
        path = os.path.join(self.dir, "live.scn")
        with open(path, "wb") as f:
            f.write(scan("LIVE", 1, 2, 200))
        with open(os.path.join(self.dir, "pelmoran.tst"), "wb") as f:
            f.write(configuration([endpoint("LIVE", int(line.split()[1]), 1000)], [path]))
        self.env = program_environment(self.dir)
        self.env["PELMORAN_CONFIG_DIR"] = self.dir
        self.stderr = open(os.path.join(self.dir, "stderr.log"), "w+")
        self.addCleanup(self.stderr.close)
        self.program = subprocess.Popen([PROGRAM, "-Headless"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.addCleanup(stop_process, self.program)

    def read(self, *tags):
        result = subprocess.run([NODE, os.path.join(HERE, "opcua_read.mjs"), MODULES,
                                 self.env["PELMORAN_OPCUA_ENDPOINT"], *tags],
                                capture_output=True, text=True, timeout=60)
        for line in result.stdout.splitlines():
            if line.startswith("RESULT "):
                return json.loads(line[len("RESULT "):])
        self.fail("opcua_read.mjs gave no result: %s" % result.stderr[-2000:])

    def browse(self, *nodes):
        result = subprocess.run([NODE, os.path.join(HERE, "opcua_browse.mjs"), MODULES,
                                 self.env["PELMORAN_OPCUA_ENDPOINT"], *nodes],
                                capture_output=True, text=True, timeout=60)
        for line in result.stdout.splitlines():
            if line.startswith("RESULT "):
                return json.loads(line[len("RESULT "):])
        self.fail("opcua_browse.mjs gave no result: %s" % result.stderr[-2000:])

    def test_the_diagnostics_are_a_folder_tree_beside_the_tags(self):
        folder, endpoint = "ns=1;i=1", "ns=1;s=Diagnostics.LIVE"
        good = wait_for(lambda: self.read(TAG)[TAG]["status"] == "Good", 30, 0.3)
        self.assertTrue(good, "the tag never turned good")
        # The refresh after the first good answer; before it, the null DateTime.
        dated = wait_for(lambda: (self.read(LAST_GOOD)[LAST_GOOD]["value"] or "") > "2000", 10, 0.3)
        self.assertTrue(dated, "no last good time: %r" % self.read(LAST_GOOD))
        tree = self.browse(folder, endpoint, endpoint + ".NODE1")
        top = {r["name"]: r for r in tree[folder]}
        self.assertEqual(top["Diagnostics"]["class"], "Object")
        self.assertEqual(top["Diagnostics"]["reference"], "Organizes")
        self.assertIn(TAG, top)
        self.assertFalse(any(name.startswith("Diagnostics.") for name in top), sorted(top))
        children = {r["name"]: r for r in tree[endpoint]}
        scans = [name for name in children if name.startswith("Scan")]
        self.assertEqual(len(scans), 1, sorted(children))
        for name in ("NODE1", scans[0]):
            self.assertEqual((children[name]["class"], children[name]["reference"]),
                             ("Object", "Organizes"))
        self.assertEqual(children["Connected"]["reference"], "HasComponent")
        slave = {r["name"]: r["id"] for r in tree[endpoint + ".NODE1"]}
        self.assertEqual(slave["Timeouts"], "ns=1;s=Diagnostics.LIVE.NODE1.Timeouts")
        self.assertLessEqual({"Requests", "Responses", "Timeouts", "ChecksumErrors", "Mismatches",
                              "Exceptions", "LastRoundTripMs", "Demoted", "LastError"}, set(slave))
        scan = self.browse(endpoint + "." + scans[0])[endpoint + "." + scans[0]]
        self.assertIn("LastGoodTime", {r["name"] for r in scan})
        # A DateTime reads as a time; the tag's source time is the same
        # clock's, stamped by the library as the answer came.
        read = self.read(LAST_GOOD, TAG)
        self.assertRegex(read[LAST_GOOD]["value"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
        self.assertLessEqual(read[LAST_GOOD]["value"], read[TAG]["source"])

    def test_a_stopped_slave_leaves_its_last_value_and_the_reason(self):
        good = wait_for(lambda: self.read(TAG)[TAG]["status"] == "Good", 30, 0.3)
        self.assertTrue(good, "the tag never turned good")
        first = self.read(TAG)[TAG]
        self.assertEqual(first["value"], TAG_VALUE)
        restamped = wait_for(lambda: self.read(TAG)[TAG]["source"] > first["source"], 10, 0.3)
        self.assertTrue(restamped, "an unchanged value's source time stayed where it was")
        up = wait_for(lambda: self.read(CONNECTED)[CONNECTED]["value"] is True, 10, 0.3)
        self.assertTrue(up, "the endpoint's diagnostics never said it was connected")
        sent = self.read(REQUESTS)[REQUESTS]["value"]
        counting = wait_for(lambda: self.read(REQUESTS)[REQUESTS]["value"] > sent, 10, 0.3)
        self.assertTrue(counting, "the slave's request count stood still at %r" % sent)
        on_wire = self.read(WIRE_REQUESTS)[WIRE_REQUESTS]["value"]
        self.assertGreater(on_wire, 0, "the library counted no request on the wire")

        self.slave.send_signal(signal.SIGTERM)
        self.slave.wait(timeout=10)
        lost = wait_for(lambda: self.read(TAG)[TAG]["status"] in LOST, 20, 0.3)
        self.assertTrue(lost, "the tag never said its slave was gone: %r" % self.read(TAG))
        seen = self.read(TAG)[TAG]
        self.assertEqual(seen["value"], TAG_VALUE, "the last value is kept")
        self.assertGreaterEqual(seen["source"], first["source"])
        down = wait_for(lambda: self.read(CONNECTED)[CONNECTED]["value"] is False, 10, 0.3)
        self.assertTrue(down, "the endpoint's diagnostics still say it is connected")


if __name__ == "__main__":
    PROGRAM, NODE, MODULES, SLAVE = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1])
