"""pelmoran -Headless under valgrind memcheck: the demonstration configuration
polls the simulator, an OPC UA client subscribes to every tag and writes, the
simulator goes away and comes back, and SIGTERM ends the program. Any memcheck
error fails the test (invalid or mismatched frees, uninitialised reads,
definite leaks), not only leaks.

Usage: headless_memcheck_test.py <valgrind> <suppressions> <pelmoran> <pelmoran-sim>
           <pelmoran-democonfig> <node> <OPC UA client script> <folder holding node_modules>
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ops"))
from ops_support import Simulator, program_environment, wait_for  # noqa: E402

VALGRIND = SUPPRESSIONS = PROGRAM = SIM = DEMOCONFIG = NODE = CLIENT = MODULES = None
# Everything memcheck reports counts, leaks only when nothing points at the block.
MEMCHECK = ["--tool=memcheck", "--error-exitcode=1", "--leak-check=full",
            "--show-leak-kinds=definite", "--errors-for-leak-kinds=definite", "--num-callers=40"]
# Memory points of the demonstration: the client writes there.
WRITTEN = r"^SIM\.NODE1\.4002\d$"
CLIENT_SECONDS = 4
# Everything is many times slower under valgrind.
SLOW = 120


class HeadlessMemcheck(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="pelmoran-memcheck-")
        self.sim = Simulator(SIM, "--tcp", "0", "--tick", "200")
        self.port = self.sim.tcp_port()
        subprocess.run([DEMOCONFIG, self.dir, str(self.port)], check=True, timeout=30,
                       capture_output=True)
        self.env = program_environment(self.dir)
        self.env["PELMORAN_CONFIG_DIR"] = self.dir
        self.report = os.path.join(self.dir, "memcheck.log")
        self.stderr = open(os.path.join(self.dir, "stderr.log"), "w+")
        self.proc = subprocess.Popen(
            [VALGRIND, *MEMCHECK, "--suppressions=" + SUPPRESSIONS, "--log-file=" + self.report,
             PROGRAM, "-Headless"], env=self.env, stdout=subprocess.DEVNULL, stderr=self.stderr)

    def tearDown(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.sim.stop()
        self.stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def log(self):
        self.stderr.flush()
        with open(self.stderr.name) as f:
            return f.read()

    def said(self, pattern):
        return lambda: len(re.findall(pattern, self.log(), re.M))

    def good_after_the_loss(self):
        log = self.log()
        lost = log.rfind("endpoint SIM not connected")
        return re.search(r"on SIM: GOOD$", log[lost:], re.M) is not None

    def memcheck_report(self):
        with open(self.report) as f:
            return f.read()

    def run_client(self):
        return subprocess.run([NODE, CLIENT, MODULES, self.env["PELMORAN_OPCUA_ENDPOINT"],
                               str(CLIENT_SECONDS), WRITTEN, "250"],
                              capture_output=True, text=True, timeout=SLOW)

    def test_a_headless_run_has_no_memory_error(self):
        good = r"scan demo-memory\.scn on SIM: GOOD$"
        self.assertTrue(wait_for(self.said(good), SLOW, 0.5), "never polled:\n" + self.log())
        client = self.run_client()
        self.assertEqual(client.returncode, 0, client.stdout + client.stderr)
        self.assertRegex(client.stdout, r'CLIENT .*"goodWrites":[1-9]')

        self.sim.stop()
        self.assertTrue(wait_for(self.said(r"endpoint SIM not connected$"), SLOW, 0.5),
                        "the lost slave went unnoticed:\n" + self.log())
        self.sim = Simulator(SIM, "--tcp", str(self.port), "--tick", "200")
        # Only scans that polled while the slave was away log GOOD again: a
        # slow one may have missed the outage.
        self.assertTrue(wait_for(self.good_after_the_loss, SLOW, 0.5),
                        "never polled again:\n" + self.log())

        self.proc.send_signal(signal.SIGTERM)
        status = self.proc.wait(timeout=SLOW)
        report = self.memcheck_report()
        self.assertEqual(status, 0, "memcheck found errors:\n" + report)
        self.assertRegex(report, r"ERROR SUMMARY: 0 errors from 0 contexts")


if __name__ == "__main__":
    (VALGRIND, SUPPRESSIONS, PROGRAM, SIM, DEMOCONFIG, NODE, CLIENT,
     MODULES) = sys.argv[1:9]
    del sys.argv[1:9]
    unittest.main()
