"""The demonstration configuration, restored by pelmoran -Headless, polls the
simulator and serves its values with good quality to an OPC UA client; when
the simulator stops the tags turn bad, and good again once it is back. The
program's standard error tells each of these changes once, with a timestamp.

Usage: demo_test.py <pelmoran> <pelmoran-sim> <pelmoran-democonfig> <node>
                    <folder holding node-opcua-client's node_modules>
"""
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from ops_support import Simulator, program_environment, wait_for

PROGRAM = SIM = DEMOCONFIG = NODE = MODULES = None
HERE = os.path.dirname(os.path.abspath(__file__))

COUNTER, FLOAT_LOW, FLOAT_HIGH = "SIM.NODE1.40001", "SIM.NODE1.40011", "SIM.NODE1.40013"
LONG_LOW, LONG_HIGH = "SIM.NODE1.40015", "SIM.NODE1.40017"
TAGS = [COUNTER, FLOAT_LOW, FLOAT_HIGH, LONG_LOW, LONG_HIGH, "SIM.NODE1.30001",
        "SIM.NODE1.00001", "SIM.NODE1.10001", "SIM.NODE1.40021"]


LINE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)? pelmoran: (.*)$")
HOLDING = "scan demo-holding.scn on SIM: "


class DemoHeadlessTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="pelmoran-demo-")
        # The program looks for pelmoran.tst beside itself: a copy of its own.
        self.program = os.path.join(self.dir, "pelmoran")
        shutil.copy2(PROGRAM, self.program)
        self.sim = Simulator(SIM, "--tcp", "0", "--tick", "200")
        # Whichever simulator runs at the end, also when setUp fails and
        # tearDown does not run.
        self.addCleanup(lambda: self.sim.stop())
        self.port = self.sim.tcp_port()
        subprocess.run([DEMOCONFIG, self.dir, str(self.port)], check=True, timeout=30,
                       capture_output=True)
        self.env = program_environment(self.dir)
        self.url = self.env["PELMORAN_OPCUA_ENDPOINT"]
        self.stderr = open(os.path.join(self.dir, "stderr.log"), "w+")
        self.proc = subprocess.Popen([self.program, "-Headless"], env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr)

    def tearDown(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def log(self):
        self.stderr.flush()
        with open(self.stderr.name) as f:
            return f.read()

    def messages(self):
        """The program's lines, each checked for its timestamp."""
        lines = [line for line in self.log().splitlines() if line.strip()]
        for line in lines:
            self.assertRegex(line, LINE)
        return [LINE.match(line).group(2) for line in lines]

    def said_after(self, start, wanted):
        """The index of the first message from start on that wanted accepts."""
        for i, message in enumerate(self.messages()[start:], start):
            if wanted(message):
                return i + 1
        return None

    def read(self):
        result = subprocess.run([NODE, os.path.join(HERE, "opcua_read.mjs"), MODULES, self.url,
                                 *TAGS], capture_output=True, text=True, timeout=60)
        # The client library prints notes of its own around the answer.
        answers = [line[len("RESULT "):] for line in result.stdout.splitlines()
                   if line.startswith("RESULT ")]
        if result.returncode != 0 or len(answers) != 1:
            return None
        return json.loads(answers[0])

    def all_good(self):
        values = self.read()
        if values and all(v["status"] == "Good" for v in values.values()):
            return values
        return None

    def none_good(self):
        values = self.read()
        if values and all(v["status"] != "Good" for v in values.values()):
            return values
        return None

    def test_demo_polls_the_simulator_with_good_quality_and_recovers(self):
        first = wait_for(self.all_good, 30, 0.5)
        self.assertTrue(first, "tags never turned good; program said:\n" + self.log())
        self.assertEqual(first[FLOAT_LOW]["value"], first[FLOAT_HIGH]["value"])
        self.assertEqual(first[LONG_LOW]["value"], first[LONG_HIGH]["value"])
        self.assertGreaterEqual(first[LONG_LOW]["value"], 65530)
        later = wait_for(lambda: (lambda v: v if v and v[COUNTER]["value"] >
                                  first[COUNTER]["value"] else None)(self.all_good()), 15, 0.5)
        self.assertTrue(later, "the counter did not move")
        start = self.messages()
        self.assertIn("OPC UA endpoint " + self.url, start)
        self.assertIn("configuration file " + os.path.join(self.dir, "pelmoran.tst"), start)
        # One line when the scan turned good, not one per poll.
        self.assertEqual([m for m in start if m.startswith(HOLDING)], [HOLDING + "GOOD"])
        mark = len(start)

        # The slave goes away: the tags keep their last values with a bad quality.
        self.sim.stop()
        self.assertTrue(wait_for(self.none_good, 30, 0.5),
                        "tags stayed good without the slave; program said:\n" + self.log())
        lost = wait_for(lambda: self.said_after(mark, lambda m: m.startswith(HOLDING) and
                                                m != HOLDING + "GOOD"), 10)
        self.assertTrue(lost, "no line for the failing scan:\n" + self.log())
        self.assertTrue(self.said_after(mark, lambda m: m == "endpoint SIM not connected"),
                        "no line for the lost connection:\n" + self.log())
        # It comes back on the same port: the endpoint reconnects and polls again.
        self.sim = Simulator(SIM, "--tcp", str(self.port), "--tick", "200")
        self.assertTrue(wait_for(self.all_good, 30, 0.5),
                        "tags did not recover; program said:\n" + self.log())
        found = wait_for(lambda: self.said_after(lost, lambda m: m == "endpoint SIM connected"), 10)
        self.assertTrue(found, "no line for the connection found again:\n" + self.log())
        self.assertTrue(wait_for(lambda: self.said_after(lost, lambda m: m == HOLDING + "GOOD"), 10),
                        "no line for the scan good again:\n" + self.log())
        self.assertIsNone(self.proc.poll(), "the program ended")


if __name__ == "__main__":
    PROGRAM, SIM, DEMOCONFIG, NODE, MODULES = sys.argv[1:6]
    del sys.argv[1:6]
    unittest.main()
