"""The pelmoran program as a process, with no display at all.

Usage: process_test.py <path of pelmoran>
"""
import os
import re
import select
import signal
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = None
REGISTRATION = "pelmoran/Korvane.Modbus_OPC_Server.registration"
UNIT = "systemd/user/pelmoran.service"


def bare_environment(config_home):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["XDG_CONFIG_HOME"] = config_home
    env["HOME"] = config_home
    # The tag server must not need a fixed port.
    env["PELMORAN_OPCUA_ENDPOINT"] = "opc.tcp://127.0.0.1:0"
    return env


class RegistrationSwitches(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.env = bare_environment(self.dir.name)

    def tearDown(self):
        self.dir.cleanup()

    def run_program(self, *args):
        return subprocess.run([PROGRAM, *args], env=self.env, timeout=30,
                              capture_output=True)

    def path(self, relative):
        return os.path.join(self.dir.name, relative)

    def test_regserver_writes_the_record_and_ends(self):
        result = self.run_program("-RegServer")
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(self.path(REGISTRATION)) as f:
            record = f.read()
        directory = os.path.dirname(os.path.realpath(PROGRAM)) + "/"
        self.assertIn("ServerCommand=" + directory + "pelmoran.EXE -Minimize\n", record)
        self.assertIn("ProgID=Korvane.Modbus_OPC_Server\n", record)
        self.assertFalse(os.path.exists(self.path(UNIT)))

    def test_every_writing_of_the_switch_registers(self):
        for switch in ("/RegServer", "-REGSERVER", "-Minimize -RegServer"):
            os.makedirs(self.path("pelmoran"), exist_ok=True)
            if os.path.exists(self.path(REGISTRATION)):
                os.remove(self.path(REGISTRATION))
            result = self.run_program(*switch.split())
            self.assertEqual(result.returncode, 0, switch)
            self.assertTrue(os.path.exists(self.path(REGISTRATION)), switch)

    def test_service_then_unregserver(self):
        self.assertEqual(self.run_program("-Service").returncode, 0)
        with open(self.path(UNIT)) as f:
            unit = f.read()
        self.assertIn('"-Headless"', unit)
        self.assertIn("Type=notify\nNotifyAccess=main\nWatchdogSec=30\n", unit)
        self.assertIn('ExecStart="' + os.path.realpath(PROGRAM) + '"', unit)
        result = self.run_program("-UnregServer", "-Minimize")
        self.assertEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(self.path(REGISTRATION)))
        self.assertFalse(os.path.exists(self.path(UNIT)))


class WindowProgram(unittest.TestCase):
    def test_without_a_display_it_says_so_and_ends(self):
        with tempfile.TemporaryDirectory() as home:
            result = subprocess.run([PROGRAM, "-Minimize"], env=bare_environment(home),
                                    timeout=30, capture_output=True)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"start it with -Headless", result.stderr)

    def test_offscreen_window_program_ends_on_sigterm(self):
        with tempfile.TemporaryDirectory() as home:
            env = bare_environment(home)
            env["QT_QPA_PLATFORM"] = "offscreen"
            process = subprocess.Popen([PROGRAM], env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE)
            try:
                # Written at start-up, after the signals are watched: the end
                # comes in order from here on.
                registration = os.path.join(home, REGISTRATION)
                deadline = time.monotonic() + 20
                while not os.path.exists(registration) and time.monotonic() < deadline:
                    self.assertIsNone(process.poll())
                    time.sleep(0.05)
                self.assertTrue(os.path.exists(registration))
                process.send_signal(signal.SIGTERM)
                _, err = process.communicate(timeout=20)
            finally:
                if process.poll() is None:
                    process.kill()
                    process.wait()
        self.assertEqual(process.returncode, 0, err)


class Headless(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.env = bare_environment(self.dir.name)

    def tearDown(self):
        self.dir.cleanup()

    def start(self):
        process = subprocess.Popen([PROGRAM, "-Headless"], env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def wait_running(self, process, seconds=20):
        # The start-up lines end with the configuration's: the program is up.
        seen = b""
        deadline = time.monotonic() + seconds
        while b"configuration file" not in seen:
            remaining = deadline - time.monotonic()
            self.assertGreater(remaining, 0, "no start-up lines: %r" % seen)
            ready, _, _ = select.select([process.stderr], [], [], remaining)
            chunk = os.read(process.stderr.fileno(), 4096) if ready else b""
            if ready and not chunk:
                self.fail("pelmoran -Headless ended by itself: %r" % seen)
            seen += chunk
        return seen

    def end_with(self, sig):
        process = self.start()
        early = self.wait_running(process)
        process.send_signal(sig)
        try:
            _, err = process.communicate(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            self.fail("pelmoran -Headless did not end after signal %d" % sig)
        err = early + err
        self.assertEqual(process.returncode, 0, err)
        return err

    def test_sigterm_ends_cleanly(self):
        self.end_with(signal.SIGTERM)

    def test_sigint_ends_cleanly(self):
        self.end_with(signal.SIGINT)

    def test_a_normal_start_registers_again(self):
        self.end_with(signal.SIGTERM)
        self.assertTrue(os.path.exists(os.path.join(self.dir.name, REGISTRATION)))

    def test_start_up_lines_name_the_endpoint_and_the_configuration(self):
        err = self.end_with(signal.SIGTERM).decode()
        directory = os.path.dirname(os.path.realpath(PROGRAM)) + "/"
        self.assertRegex(err, r"\d{4}-\d\d-\d\dT[\d:.]+ pelmoran: "
                              r"OPC UA endpoint opc\.tcp://127\.0\.0\.1:\d+\n")
        self.assertRegex(err, r" pelmoran: (no )?configuration file (at )?" +
                         re.escape(directory + "pelmoran.tst") + "\n")


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main(verbosity=2)
