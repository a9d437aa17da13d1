"""Shared pieces of the operations tests: starting the simulator, free ports,
and stopping every process a test started."""
import os
import re
import signal
import socket
import subprocess
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Simulator:
    """pelmoran-sim as a child process; the ports and devices it prints."""

    def __init__(self, program, *args):
        self.proc = subprocess.Popen([program, *args], stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        self.lines = []
        wanted = sum(1 for a in args if a in ("--tcp", "--rtu", "--ascii")) or 1
        deadline = time.monotonic() + 10
        while len(self.lines) < wanted and time.monotonic() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            self.lines.append(line.strip())
        if len(self.lines) < wanted:
            self.stop()
            raise RuntimeError("pelmoran-sim did not start: %r" % self.lines)

    def tcp_port(self):
        for line in self.lines:
            m = re.search(r"Modbus/TCP listening on \S+ port (\d+)$", line)
            if m:
                return int(m.group(1))
        return None

    def device(self, kind):
        for line in self.lines:
            m = re.search(r"Modbus %s on (\S+) " % kind, line)
            if m:
                return m.group(1)
        return None

    def stop(self):
        stop_process(self.proc)
        # Once more, as a cleanup after a test that stopped it itself.
        if self.proc.stdout.closed:
            return ""
        rest = self.proc.stdout.read()
        self.proc.stdout.close()
        return rest


def stop_process(process):
    """SIGTERM, as a service manager ends the program; killed after 10 s."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wait_for(predicate, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = predicate()
        if result:
            return result
        time.sleep(interval)
    return predicate()


def program_environment(config_dir):
    """No display, a private configuration home, an OPC UA port of its own."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["HOME"] = config_dir
    env["XDG_CONFIG_HOME"] = config_dir
    env["PELMORAN_OPCUA_ENDPOINT"] = "opc.tcp://127.0.0.1:%d" % free_port()
    env["PELMORAN_RESTORE_DELAY_MS"] = "200"
    env["PELMORAN_RECONNECT_PERIOD_MS"] = "500"
    return env
