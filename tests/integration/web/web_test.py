"""The program's HTTP server, run by pelmoran -Headless against the simulator:
its /metrics pass promtool and are scraped by a real Prometheus server, its
/health follows the simulator down and up, and only the OPC UA users get in.

Usage: web_test.py <pelmoran> <pelmoran-sim> <pelmoran-democonfig> <promtool> <prometheus>
                   [<node> <chromium>]
"""
import base64
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "ops"))
from ops_support import Simulator, free_port, program_environment, stop_process, wait_for  # noqa

PROGRAM = SIM = DEMOCONFIG = PROMTOOL = PROMETHEUS = NODE = CHROMIUM = None
HERE = os.path.dirname(os.path.abspath(__file__))
READER, WRITER, PASSWORD = "viewer", "engineer", "correct horse 7"
SERVING = re.compile(r"HTTP: serving (https://127\.0\.0\.1:\d+/)")


def credentials(user, password):
    return "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


class WebServerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="pelmoran-web-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.program = os.path.join(self.dir, "pelmoran")
        shutil.copy2(PROGRAM, self.program)
        self.sim = Simulator(SIM, "--tcp", "0", "--tick", "200")
        self.addCleanup(lambda: self.sim.stop())
        self.sim_port = self.sim.tcp_port()
        subprocess.run([DEMOCONFIG, self.dir, str(self.sim_port)], check=True, timeout=30,
                       capture_output=True)
        with open(os.path.join(self.dir, "pelmoran.ini"), "w") as f:
            f.write("[Http]\nEnabled=1\nPort=0\n")
        self.env = program_environment(self.dir)
        for user, role in ((READER, []), (WRITER, ["-ReadWrite"])):
            subprocess.run([self.program, "-AddUser", user, *role], input=PASSWORD + "\n",
                           text=True, env=self.env, check=True, timeout=60, capture_output=True)
        self.stderr = open(os.path.join(self.dir, "stderr.log"), "w+")
        self.addCleanup(self.stderr.close)
        self.proc = subprocess.Popen([self.program, "-Headless"], env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.addCleanup(stop_process, self.proc)
        found = wait_for(lambda: SERVING.search(self.log()), 30)
        self.assertTrue(found, "no HTTP server; program said:\n" + self.log())
        self.url = found.group(1)
        # The server's certificate is the program's own, not one a CA signed.
        self.tls = ssl.create_default_context()
        self.tls.check_hostname = False
        self.tls.verify_mode = ssl.CERT_NONE

    def log(self):
        self.stderr.flush()
        with open(self.stderr.name) as f:
            return f.read()

    def get(self, path, user=READER, password=PASSWORD, method="GET", body=None):
        request = urllib.request.Request(self.url + path.lstrip("/"), method=method,
                                         data=body.encode() if body is not None else None)
        if user:
            request.add_header("Authorization", credentials(user, password))
        try:
            with urllib.request.urlopen(request, context=self.tls, timeout=30) as answer:
                return answer.status, answer.read().decode(), dict(answer.headers)
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode(), dict(error.headers)

    def metric(self, text, name, **labels):
        wanted = ",".join('%s="%s"' % item for item in labels.items())
        match = re.search(r"^%s%s (\S+)$" % (re.escape(name), re.escape(
            "{%s}" % wanted if wanted else "")), text, re.M)
        return float(match.group(1)) if match else None

    def polled(self):
        status, text, _ = self.get("/metrics")
        if status == 200 and self.metric(text, "pelmoran_endpoint_up", endpoint="SIM") == 1 \
                and self.metric(text, "pelmoran_endpoint_responses_total", endpoint="SIM"):
            return text
        return None

    def test_metrics_pass_promtool_and_count_the_exchanges(self):
        text = wait_for(self.polled, 30, 0.5)
        self.assertTrue(text, "the endpoint never counted answers:\n" + self.log())
        _, _, headers = self.get("/metrics")
        self.assertTrue(headers["Content-Type"].startswith("text/plain; version=0.0.4"))
        check = subprocess.run([PROMTOOL, "check", "metrics"], input=text, text=True,
                               capture_output=True, timeout=60)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertGreater(self.metric(text, "pelmoran_slave_responses_total",
                                       endpoint="SIM", slave="1"), 0)
        self.assertEqual(self.metric(text, "pelmoran_slave_demoted", endpoint="SIM", slave="1"), 0)
        self.assertGreater(self.metric(text, "process_resident_memory_bytes"), 0)

    def test_prometheus_scrapes_it(self):
        self.assertTrue(wait_for(self.polled, 30, 0.5), self.log())
        port = free_port()
        config = os.path.join(self.dir, "prometheus.yml")
        with open(config, "w") as f:
            f.write("""global:
  scrape_interval: 1s
scrape_configs:
  - job_name: pelmoran
    scheme: https
    tls_config: {insecure_skip_verify: true}
    basic_auth: {username: %s, password: "%s"}
    static_configs: [{targets: ["%s"]}]
""" % (READER, PASSWORD, self.url.split("/")[2]))
        server = subprocess.Popen([PROMETHEUS, "--config.file=" + config,
                                   "--storage.tsdb.path=" + os.path.join(self.dir, "tsdb"),
                                   "--web.listen-address=127.0.0.1:%d" % port],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(stop_process, server)
        query = "http://127.0.0.1:%d/api/v1/query?query=pelmoran_slave_responses_total" % port

        def scraped():
            try:
                with urllib.request.urlopen(query, timeout=5) as answer:
                    result = json.load(answer)["data"]["result"]
            except (OSError, ValueError):
                return None
            return result if result and float(result[0]["value"][1]) > 0 else None

        result = wait_for(scraped, 60, 0.5)
        self.assertTrue(result, "Prometheus never scraped the gateway")
        self.assertEqual(result[0]["metric"]["endpoint"], "SIM")

    def test_health_follows_the_slave(self):
        healthy = lambda: self.get("/health")[0] == 200  # noqa: E731
        self.assertTrue(wait_for(healthy, 30, 0.5), self.get("/health")[1])
        self.sim.stop()
        down = wait_for(lambda: (lambda a: a if a[0] == 503 else None)(self.get("/health")), 30,
                        0.5)
        self.assertTrue(down, "health stayed good with the slave gone")
        self.assertIn("SIM", down[1])
        status = json.loads(self.get("/api/status")[1])
        self.assertFalse([e for e in status["endpoints"] if e["name"] == "SIM"][0]["up"])
        self.sim = Simulator(SIM, "--tcp", str(self.sim_port), "--tick", "200")
        self.assertTrue(wait_for(healthy, 30, 0.5), self.get("/health")[1])

    def test_only_the_users_get_in(self):
        cases = [  # user, password, status
            (None, None, 401),
            (READER, "wrong", 401),
            ("nobody", PASSWORD, 401),
            (READER, PASSWORD, 200),
            (WRITER, PASSWORD, 200),
        ]
        for user, password, status in cases:
            got, body, headers = self.get("/metrics", user, password)
            self.assertEqual(got, status, (user, password, body))
            if status == 401:
                self.assertIn("Basic", headers.get("WWW-Authenticate", ""))

    def test_a_scan_changed_through_the_api_is_checked_saved_and_polled(self):
        # The configuration is restored a moment after start-up.
        def restored():
            return json.loads(self.get("/api/config")[1])["endpoints"]
        self.assertTrue(wait_for(restored, 30, 0.2))
        config = json.loads(self.get("/api/config")[1])
        self.assertEqual([e["name"] for e in config["endpoints"]], ["SIM"])
        scan = [s for s in config["scans"] if s["file"].endswith("demo-holding.scn")][0]
        path = "/api/scans/" + urllib.parse.quote(scan["file"], safe="")
        refused = [  # who, body, status, message
            (READER, '{"poll_frequency": 250}', 403, "changing needs a read-write user"),
            (WRITER, '{"poll_frequency": ', 400, "the body is not JSON"),
            (WRITER, '{"speed": 1}', 400, 'no column "speed" in scans'),
            (WRITER, '{"slave_node": 300}', 422, "scans.csv row"),
            (WRITER, '{"endpoint": "NOWHERE"}', 422, "scans.csv row"),
        ]
        for user, body, status, message in refused:
            got, text, _ = self.get(path, user, method="PUT", body=body)
            self.assertEqual(got, status, (body, text))
            self.assertIn(message, text, body)
        self.assertEqual(json.loads(self.get("/api/config")[1])["scans"], config["scans"])
        saved = os.path.getmtime(os.path.join(self.dir, "pelmoran.tst"))
        got, text, _ = self.get(path, WRITER, method="PUT", body='{"poll_frequency": 250}')
        self.assertEqual(got, 200, text)
        self.assertEqual(json.loads(text)["poll_frequency"], "250")
        self.assertNotEqual(os.path.getmtime(os.path.join(self.dir, "pelmoran.tst")), saved)
        changed = json.loads(self.get("/api/config")[1])["scans"]
        self.assertEqual([s["poll_frequency"] for s in changed if s["file"] == scan["file"]],
                         ["250"])

        def polled_again():
            status = json.loads(self.get("/api/status")[1])
            scans = [s for s in status["scans"] if s["file"] == scan["file"]]
            return scans and scans[0]["polls"] > 0 and scans[0]["statusText"] == "OK"
        self.assertTrue(wait_for(polled_again, 30, 0.5), self.get("/api/status")[1])

    @unittest.skipUnless(NODE or len(sys.argv) > 7, "needs node and chromium")
    def test_the_page_in_chromium(self):
        browser = subprocess.Popen([NODE, os.path.join(HERE, "page_test.mjs"), CHROMIUM, self.url,
                                    WRITER, PASSWORD, "demo-holding.scn"],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: browser.poll() is None and browser.kill())

        def heard(wanted):
            line = browser.stdout.readline().strip()
            if not line.startswith(wanted):
                browser.kill()
                self.fail("the page said %r, not %r: %s" % (line, wanted, browser.stderr.read()))
            return line

        heard("GOOD")
        self.sim.stop()
        browser.stdin.write("next\n")
        browser.stdin.flush()
        heard("BAD")
        self.sim = Simulator(SIM, "--tcp", str(self.sim_port), "--tick", "200")
        browser.stdin.write("next\n")
        browser.stdin.flush()
        heard("GOOD")
        self.assertIn("scans.csv row", heard("refused "))
        heard("saved")
        heard("POLLED")
        browser.stdin.close()
        self.assertEqual(browser.wait(timeout=60), 0, browser.stderr.read())
        browser.stdout.close()
        browser.stderr.close()

    def raw(self, data):
        """What the server answers to bytes sent as they are, up to its close."""
        host, port = self.url.split("/")[2].split(":")
        with socket.create_connection((host, int(port)), timeout=30) as plain:
            with self.tls.wrap_socket(plain) as tls:
                tls.sendall(data)
                answer = b""
                while b"\r\n\r\n" not in answer:
                    chunk = tls.recv(65536)
                    if not chunk:
                        break
                    answer += chunk
                return answer

    def test_hostile_requests_get_a_clear_status_and_the_rest_keeps_serving(self):
        auth = ("Authorization: %s\r\n" % credentials(READER, PASSWORD)).encode()
        head = b"Host: gateway\r\n" + auth
        cases = [  # what, bytes, statuses accepted
            ("oversized header", b"GET /metrics HTTP/1.1\r\n" + head + b"X-Big: " + b"a" * 20000 +
             b"\r\n\r\n", (400, 431)),
            ("oversized body", b"POST /metrics HTTP/1.1\r\n" + head +
             b"Content-Length: 100000000\r\n\r\n", (413,)),
            ("path too long", b"GET /" + b"a" * 10000 + b" HTTP/1.1\r\n" + head + b"\r\n",
             (414,)),
            ("path traversal", b"GET /../../../../etc/passwd HTTP/1.1\r\n" + head + b"\r\n",
             (400, 404)),
            ("encoded traversal", b"GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n" + head + b"\r\n",
             (400, 404)),
            ("not HTTP", b"\x16\x03garbage\r\n\r\n", (400,)),
            ("no credentials", b"GET /metrics HTTP/1.1\r\nHost: gateway\r\n\r\n", (401,)),
        ]
        for what, data, statuses in cases:
            answer = self.raw(data)
            status = int(answer.split(b" ")[1]) if answer.startswith(b"HTTP/1.1 ") else None
            self.assertIn(status, statuses, "%s: %r" % (what, answer[:200]))
            self.assertNotIn(b"root:", answer, what)
        # Slow clients that never end their header hold a worker each until
        # the read timeout, then get 400 and are let go; the others still get
        # their answers meanwhile.
        host, port = self.url.split("/")[2].split(":")
        slow = []
        for _ in range(3):
            tls = self.tls.wrap_socket(socket.create_connection((host, int(port)), timeout=30))
            tls.sendall(b"GET /metrics HTTP/1.1\r\nHost: gat")
            slow.append(tls)
        self.addCleanup(lambda: [s.close() for s in slow])
        self.assertEqual(self.get("/metrics")[0], 200)
        for tls in slow:
            answer = b""
            for chunk in iter(lambda: tls.recv(1024), b""):
                answer += chunk
            self.assertTrue(answer.startswith(b"HTTP/1.1 400 "), answer)
        self.assertEqual(self.get("/metrics")[0], 200)


if __name__ == "__main__":
    PROGRAM, SIM, DEMOCONFIG, PROMTOOL, PROMETHEUS = sys.argv[1:6]
    if len(sys.argv) > 7:
        NODE, CHROMIUM = sys.argv[6:8]
    del sys.argv[1:8]
    unittest.main(verbosity=2)
