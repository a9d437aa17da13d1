"""-ExportCsv and -ImportCsv on the real program, in a scratch configuration
directory.

Usage: csv_command_test.py <path of pelmoran>
"""
import os
import random
import re
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = None

ENDPOINTS = (
    "name,protocol,timeout,port,tcp,ip_address,baud_rate,parity,stop_bits,word_length,pad0,"
    "reserved1,reserved2,rts_control,dtr_control,reserved3,reserved4,pad1_0,pad1_1\r\n"
    "PLC1,1,2000,1502,1,127.0.0.1,0,0,0,0,0,0,0,0,0,0,0,0,0\r\n"
    "\"COM, 3\",3,750,3,0,0.0.0.0,9600,2,2,7,0,0,0,1,1,0,0,0,0\r\n")
SCANS = (
    "file,endpoint,port,slave_node,point_type,point_address,scan_length,poll_frequency,"
    "delimiter\r\n"
    "{dir}/boiler.scn,PLC1,0,1,3,100,12,1000,.\r\n"
    "{dir}/valves.scn,\"COM, 3\",0,7,1,1,2,500,_\r\n")
TAGS = (
    "scan_file,tag_index,tag_name,point_type,data_type,data_type_text,low_limit,high_limit,"
    "bit,string_registers,byte_order,scaled,raw_low,raw_high,eng_low,eng_high\r\n"
    "{dir}/boiler.scn,0,PLC1.NODE1.40100,3,26,Float 64 (ABCD),-1.5,1e+30,0,1,,0,0,100,0,100\r\n"
    "{dir}/boiler.scn,1,PLC1.NODE1.40103,3,35,ASCII String (BA),0,100,0,3,BA,0,0,100,0,100\r\n"
    "{dir}/boiler.scn,2,PLC1.NODE1.40104,3,12,Integer 32 (BADC),0,100,0,1,,1,0,4095,"
    "-0.3333333333333333,250\r\n"
    "{dir}/valves.scn,0,\"COM, 3_NODE7_00001\",1,0,UNSIGNED,0,100,0,1,,0,0,100,0,100\r\n")

# A file, the text to find in it, what to put instead, and the refusal.
BAD_ROWS = [
    ("endpoints.csv", "PLC1,1,", "PLC1,13,",
     'endpoints.csv row 2: protocol "13" is not a whole number from 0 to 12'),
    ("scans.csv", "PLC1,0,1,3,", "PLC2,0,1,3,",
     'scans.csv row 2: the endpoint "PLC2" is not in endpoints.csv'),
    ("tags.csv", ",3,35,", ",3,36,",
     'tags.csv row 3: data_type "36" is not a whole number from 0 to 35'),
    ("tags.csv", "-1.5,", "low,",
     'tags.csv row 2: low_limit "low" is not a number'),
    ("tags.csv", "\r\n{dir}/valves", "\r\n\"{dir}/valves",
     "tags.csv row 5: text after the closing quote of a field"),
]


class CsvCommands(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.config = os.path.join(self.tmp.name, "config")
        self.source = os.path.join(self.tmp.name, "source")
        os.mkdir(self.config)
        self.env = dict(os.environ, PELMORAN_CONFIG_DIR=self.config,
                        XDG_CONFIG_HOME=self.tmp.name, HOME=self.tmp.name)
        self.texts = {name: text.format(dir=self.config) for name, text in
                      (("endpoints.csv", ENDPOINTS), ("scans.csv", SCANS), ("tags.csv", TAGS))}
        self.write(self.source, self.texts)

    def tearDown(self):
        self.tmp.cleanup()

    @staticmethod
    def write(directory, texts):
        os.makedirs(directory, exist_ok=True)
        for name, text in texts.items():
            with open(os.path.join(directory, name), "w", newline="") as f:
                f.write(text)

    def run_program(self, *args):
        return subprocess.run([PROGRAM, *args], env=self.env, timeout=30,
                              capture_output=True, text=True)

    def read_config(self):
        with open(os.path.join(self.config, "pelmoran.tst"), "rb") as f:
            return f.read()

    def test_import_then_export_gives_the_same_files(self):
        result = self.run_program("-ImportCsv", self.source)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "imported 2 endpoints, 2 scans and 4 tags into "
                         f"{self.config}/pelmoran.tst\n")
        self.assertEqual(sorted(os.listdir(self.config)),
                         ["boiler.scn", "pelmoran.tst", "valves.scn"])
        out = os.path.join(self.tmp.name, "new", "out")
        result = self.run_program("-ExportCsv", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, f"exported 2 endpoints, 2 scans and 4 tags to {out}\n")
        for name, text in self.texts.items():
            with open(os.path.join(out, name), newline="") as f:
                self.assertEqual(f.read(), text, name)

    def test_a_bad_row_is_refused_and_the_configuration_stays(self):
        self.assertEqual(self.run_program("-ImportCsv", self.source).returncode, 0)
        before = self.read_config()
        for name, old, new, refusal in BAD_ROWS:
            with self.subTest(refusal):
                bad = os.path.join(self.tmp.name, "bad")
                texts = dict(self.texts)
                old, new = old.format(dir=self.config), new.format(dir=self.config)
                self.assertIn(old, texts[name])
                texts[name] = texts[name].replace(old, new, 1)
                self.write(bad, texts)
                result = self.run_program("-ImportCsv", bad)
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stdout, "")
                self.assertEqual(result.stderr, f"pelmoran: {refusal}\n")
                self.assertEqual(self.read_config(), before)

    def test_a_command_without_a_directory_is_refused(self):
        for switch in ("-ExportCsv", "-ImportCsv"):
            with self.subTest(switch):
                result = self.run_program(switch)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stderr, "pelmoran: the command needs a directory\n")

    def many_scans(self, slave_node, count=250):
        """A configuration of count scans of one tag each, told apart by slave_node."""
        head = [line + "\r\n" for line in (ENDPOINTS.split("\r\n")[:2])]
        scans = [SCANS.split("\r\n")[0] + "\r\n"]
        tags = [TAGS.split("\r\n")[0] + "\r\n"]
        for n in range(count):
            path = f"{self.config}/scan{n}.scn"
            scans.append(f"{path},PLC1,0,{slave_node},3,{n},2,1000,.\r\n")
            tags.append(f"{path},0,x,3,0,UNSIGNED,0,100,0,1,,0,0,100,0,100\r\n")
        return {"endpoints.csv": "".join(head), "scans.csv": "".join(scans),
                "tags.csv": "".join(tags)}

    def exported(self):
        out = os.path.join(self.tmp.name, "export")
        result = self.run_program("-ExportCsv", out)
        self.assertEqual(result.returncode, 0, result.stderr)
        texts = {}
        for name in ("endpoints.csv", "scans.csv", "tags.csv"):
            with open(os.path.join(out, name), newline="") as f:
                texts[name] = f.read()
        return texts

    def test_an_import_killed_at_any_moment_leaves_the_old_or_the_new_configuration(self):
        sources = {}
        for name, node in (("a", 1), ("b", 2)):
            sources[name] = os.path.join(self.tmp.name, name)
            self.write(sources[name], self.many_scans(node))
        saved = {}
        took = 0.0
        for name in ("b", "a"):
            started = time.monotonic()
            self.assertEqual(self.run_program("-ImportCsv", sources[name]).returncode, 0)
            took = max(took, time.monotonic() - started)
            saved[name] = self.exported()
        state = "a"
        rng = random.Random(7)
        for attempt in range(15):
            other = "b" if state == "a" else "a"
            with self.subTest(attempt=attempt):
                process = subprocess.Popen([PROGRAM, "-ImportCsv", sources[other]], env=self.env,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    process.wait(timeout=rng.uniform(0.0, took))
                except subprocess.TimeoutExpired:
                    process.kill()
                process.wait()
                found = self.exported()
                self.assertTrue(found in (saved[state], saved[other]),
                                "a mix of the old and the new configuration")
                state = state if found == saved[state] else other
                leftovers = [f for f in os.listdir(self.config)
                             if re.search(r"\.tmp-\d+-\d+$|\.commit$", f)]
                self.assertEqual(leftovers, [])


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main()
