"""/metrics of a gateway with 1,000 scans against the OPC UA read of the same
counters (the Diagnostics folder's variables) from the same program: the
time one scrape takes, over one kept-alive HTTPS connection, beside one Read
request of every variable over one session (node-opcua).

Usage: metrics_bench.py <build dir> [scans] [rounds]
  e.g. /usr/bin/python3 bench/web/metrics_bench.py build 1000 20
"""
import base64
import csv
import http.client
import json
import os
import re
import shutil
import ssl
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "integration", "ops"))
from ops_support import Simulator, program_environment, stop_process, wait_for  # noqa: E402

MODULES = os.path.join(HERE, "..", "..", "tests", "integration", "opcua")
USER, PASSWORD = "bench", "bench password 1"
DIAGNOSTICS = ("Status", "StatusText", "Polls", "LastGoodTime", "ActualPollPeriodMs")


def widen(folder, scans):
    """The demo configuration's first scan copied until there are `scans`."""
    with open(os.path.join(folder, "scans.csv"), newline="") as f:
        rows = list(csv.reader(f))
    with open(os.path.join(folder, "tags.csv"), newline="") as f:
        tags = list(csv.reader(f))
    first = rows[1]
    own = [t for t in tags[1:] if t[0] == first[0]]
    rows, tags = rows[:1], tags[:1]
    for i in range(scans):
        name = "bench-%04d.scn" % i
        rows.append([name] + first[1:])
        tags += [[name] + t[1:] for t in own]
    for file, table in (("scans.csv", rows), ("tags.csv", tags)):
        with open(os.path.join(folder, file), "w", newline="") as f:
            csv.writer(f).writerows(table)


def main():
    build = sys.argv[1]
    scans = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 20
    folder = tempfile.mkdtemp(prefix="pelmoran-metrics-bench-")
    program = os.path.join(folder, "pelmoran")
    shutil.copy2(os.path.join(build, "shell", "pelmoran"), program)
    sim = Simulator(os.path.join(build, "tools", "pelmoran-sim", "pelmoran-sim"), "--tcp", "0")
    process = None
    try:
        subprocess.run([os.path.join(build, "tools", "pelmoran-democonfig", "pelmoran-democonfig"),
                        folder, str(sim.tcp_port())], check=True, capture_output=True)
        env = program_environment(folder)
        csvs = os.path.join(folder, "csv")
        subprocess.run([program, "-ExportCsv", csvs], env=env, check=True, capture_output=True)
        widen(csvs, scans)
        subprocess.run([program, "-ImportCsv", csvs], env=env, check=True, capture_output=True)
        subprocess.run([program, "-AddUser", USER], input=PASSWORD + "\n", text=True, env=env,
                       check=True, capture_output=True)
        with open(os.path.join(folder, "pelmoran.ini"), "w") as f:
            f.write("[Http]\nEnabled=1\nPort=0\n")
        log = open(os.path.join(folder, "stderr.log"), "w+")
        process = subprocess.Popen([program, "-Headless"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=log)
        serving = wait_for(lambda: re.search(r"HTTP: serving https://([\d.]+):(\d+)/",
                                             open(log.name).read()), 60)
        tls = ssl.create_default_context()
        tls.check_hostname = False
        tls.verify_mode = ssl.CERT_NONE
        connection = http.client.HTTPSConnection(serving.group(1), int(serving.group(2)),
                                                 context=tls, timeout=60)
        auth = {"Authorization": "Basic " +
                base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()}

        def scrape():
            connection.request("GET", "/metrics", headers=auth)
            answer = connection.getresponse()
            return answer.read().decode()

        def all_polled():
            text = scrape()
            return text if text.count("pelmoran_scan_polls_total{") == scans and \
                "pelmoran_scan_last_good_timestamp_seconds{" in text else None

        text = wait_for(all_polled, 120, 1)
        if not text:
            raise RuntimeError("the scans never all polled")
        keys = re.findall(r'pelmoran_scan_polls_total\{endpoint="([^"]+)",scan="(\d+)"\}', text)
        start = time.perf_counter()
        for _ in range(rounds):
            size = len(scrape())
        scrape_ms = (time.perf_counter() - start) * 1000 / rounds

        names = ["Diagnostics.%s.Scan%s.%s" % (e, k, d) for e, k in keys for d in DIAGNOSTICS]
        names_file = os.path.join(folder, "names.txt")
        with open(names_file, "w") as f:
            f.write("\n".join(names))
        read = subprocess.run(["node", os.path.join(HERE, "diag_read.mjs"), MODULES,
                               env["PELMORAN_OPCUA_ENDPOINT"], str(rounds), names_file],
                              capture_output=True, text=True, timeout=600)
        result = [l for l in read.stdout.splitlines() if l.startswith("RESULT ")]
        if not result:
            raise RuntimeError("OPC UA read failed: " + read.stdout + read.stderr)
        opcua = json.loads(result[0][len("RESULT "):])
        print("scans %d, rounds %d" % (scans, rounds))
        print("/metrics: %.1f ms a scrape, %d bytes, %d samples" %
              (scrape_ms, size, sum(1 for l in text.splitlines() if l and l[0] != "#")))
        print("OPC UA Read of %d diagnostics variables (%d good): %.1f ms a read" %
              (opcua["variables"], opcua["good"], opcua["ms"]))
        print("ratio /metrics : OPC UA read = %.2f" % (scrape_ms / opcua["ms"]))
    finally:
        if process:
            stop_process(process)
        sim.stop()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
