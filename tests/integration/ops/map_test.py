"""A device's register map through the whole gateway: a pymodbus slave whose
holding registers, input registers and coils are laid out by Python's struct
module from one table of map rows (with gaps between them), pelmoran -Headless
reading the map files beside its configuration, and node-opcua finding each
tag by browsing names alone, reading its value, type and units, and writing it
back: the registers must then be what struct lays out.

Usage: map_test.py <pelmoran> <node> <folder holding node-opcua-client's node_modules>
"""
import csv
import json
import logging
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer

from file_layout import configuration, endpoint
from ops_support import free_port, program_environment, stop_process, wait_for

PROGRAM = NODE = MODULES = None
HERE = os.path.dirname(os.path.abspath(__file__))
SLAVE = 7
DEVICE = "Meter"
TABLES = {"4": 3, "3": 4, "0": 1}  # a Modicon reference's digit: the function that reads it


def words(fmt, value, swap_words=False, swap_bytes=False):
    data = struct.pack(">" + fmt, value)
    if swap_bytes:
        data = b"".join(data[k:k + 2][::-1] for k in range(0, len(data), 2))
    out = [int.from_bytes(data[k:k + 2], "big") for k in range(0, len(data), 2)]
    return out[::-1] if swap_words else out


def text(value, registers):
    data = value.encode("ascii").ljust(2 * registers, b"\0")
    return [int.from_bytes(data[k:k + 2], "big") for k in range(0, len(data), 2)]


class Row:
    """A map row, the registers the slave starts with, what a client reads,
    and (for a read-write row) what it writes and the registers that leaves."""

    def __init__(self, name, address, data_type, start, read, ua_type, units="",
                 write=None, written=None, scale=None, extra=None, eu_range=None):
        self.name, self.address, self.data_type = name, address, data_type
        self.start, self.read, self.ua_type, self.units = start, read, ua_type, units
        self.write, self.written, self.scale = write, written, scale
        self.extra, self.eu_range = extra or {}, eu_range

    def csv(self):
        low_raw, high_raw, low_eng, high_eng = self.scale or ("", "", "", "")
        return dict(endpoint="DEV", slave=SLAVE, name=self.name, address=self.address,
                    type=self.data_type, raw_low=low_raw, raw_high=high_raw, eng_low=low_eng,
                    eng_high=high_eng, units=self.units, description="the " + self.name,
                    access="RW" if self.write is not None else "R", **self.extra)

    def table(self):
        return TABLES[self.address[0]]

    def offset(self):
        return int(self.address[1:]) - 1


ROWS = [
    Row("Voltage L1", "40001", 5, words("f", 230.5), 230.5, "Float", "V",
        231.25, words("f", 231.25)),
    Row("Energy", "40005", 9, words("I", 4000000001, swap_words=True), 4000000001, "UInt32",
        "kWh"),
    Row("Power", "40010", 0, [2500], 250.0, "Double", "kW", 500.0, [5000],
        scale=(0, 10000, 0, 1000), eu_range=[0, 1000]),
    Row("Serial", "40020", 34, text("PM-3000", 4), "PM-3000", "String",
        extra={"string_length": 4}),
    Row("Total", "40031", 18, words("q", -9007199254740993), "-9007199254740993", "Int64", "Wh",
        "9007199254740993", words("q", 9007199254740993)),
    Row("Setpoint", "40040", 1, words("h", -12), -12, "Float", "\u00b0C", -40.0,
        words("h", -40)),
    Row("Alarm", "40050", 33, [0b1001_1000], True, "Boolean", write=False,
        written=[0b1001_0000], extra={"bit": 3}),
    Row("Frequency", "30001", 14, words("f", 50.0, swap_bytes=True), 50.0, "Float", "Hz"),
    Row("Hours", "30012", 8, words("I", 123456), 123456, "UInt32", "h"),
    Row("Run", "00001", "", [1], True, "Boolean", write=False, written=[0]),
    Row("Trip", "00005", "", [0], False, "Boolean"),
]
COLUMNS = ["endpoint", "slave", "name", "address", "type", "bit", "string_length", "raw_low",
           "raw_high", "eng_low", "eng_high", "units", "description", "access", "poll_ms"]
DEVICE_COLUMNS = ["endpoint", "slave", "name", "base", "max_registers", "max_bits", "max_gap",
                  "pause_ms", "always_multiple_writes", "default_poll_ms"]


def start_slave():
    blocks = {3: [0] * 100, 4: [0] * 100, 1: [0] * 100}
    for row in ROWS:
        blocks[row.table()][row.offset():row.offset() + len(row.start)] = row.start
    context = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, blocks[3]),
                                 ir=ModbusSequentialDataBlock(0, blocks[4]),
                                 co=ModbusSequentialDataBlock(0, blocks[1]),
                                 di=ModbusSequentialDataBlock(0, [0] * 100), zero_mode=True)
    port = free_port()
    threading.Thread(target=StartTcpServer,
                     kwargs={"context": ModbusServerContext(slaves={SLAVE: context}, single=False),
                             "address": ("127.0.0.1", port)},
                     daemon=True).start()
    return context, port


class MapTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        logging.disable(logging.CRITICAL)
        cls.slave, port = start_slave()
        cls.dir = tempfile.mkdtemp(prefix="pelmoran-map-")
        with open(os.path.join(cls.dir, "pelmoran.tst"), "wb") as f:
            f.write(configuration([endpoint("DEV", port, 1000)], []))
        with open(os.path.join(cls.dir, "pelmoran.devices.csv"), "w", newline="") as f:
            out = csv.writer(f)
            out.writerow(DEVICE_COLUMNS)
            out.writerow(["DEV", SLAVE, DEVICE, 1, 125, 2000, 8, 0, 0, 200])
        with open(os.path.join(cls.dir, "pelmoran.maps.csv"), "w", newline="",
                  encoding="utf-8") as f:
            out = csv.DictWriter(f, COLUMNS)
            out.writeheader()
            out.writerows(row.csv() for row in ROWS)
        cls.env = program_environment(cls.dir)
        cls.env["PELMORAN_CONFIG_DIR"] = cls.dir
        cls.stderr = open(os.path.join(cls.dir, "stderr.log"), "w+")
        cls.program = subprocess.Popen([PROGRAM, "-Headless"], env=cls.env,
                                       stdout=subprocess.DEVNULL, stderr=cls.stderr)

    @classmethod
    def tearDownClass(cls):
        stop_process(cls.program)
        cls.stderr.close()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def node(self, *args):
        result = subprocess.run([NODE, os.path.join(HERE, "opcua_map.mjs"), MODULES,
                                 self.env["PELMORAN_OPCUA_ENDPOINT"], "DEV", DEVICE, *args],
                                capture_output=True, text=True, timeout=60)
        for line in result.stdout.splitlines():
            if line.startswith("RESULT "):
                return json.loads(line[len("RESULT "):])
        return None

    def all_good(self):
        values = self.node("read")
        if values and len(values) == len(ROWS) and all(
                v["status"] == "Good" for v in values.values()):
            return values
        return None

    def registers(self, row, count):
        return self.slave.getValues(row.table(), row.offset(), count)

    def test_1_every_row_reads_by_its_name_with_its_type_and_units(self):
        values = wait_for(self.all_good, 30, 0.3)
        self.assertIsNotNone(values, "the tags never all turned good: %r" % self.node("read"))
        for row in ROWS:
            with self.subTest(row.name):
                tag = values[row.name]
                self.assertEqual(tag["id"], "ns=1;s=DEV.%s.%s" % (DEVICE, row.name))
                self.assertEqual((tag["value"], tag["type"]), (row.read, row.ua_type))
                self.assertEqual(tag["units"], row.units or None)
                self.assertEqual(tag["description"], "the " + row.name)
                self.assertEqual(tag["range"], row.eu_range)

    def test_2_writes_reach_the_rows_registers_and_read_only_rows_refuse(self):
        self.assertIsNotNone(wait_for(self.all_good, 30, 0.3), "the tags never all turned good")
        writable = [row for row in ROWS if row.write is not None]
        read_only = [row for row in ROWS if row.write is None]
        statuses = self.node("write", json.dumps(
            [[row.name, row.ua_type, row.write] for row in writable]
            + [[row.name, row.ua_type, row.read] for row in read_only]))
        for row, status in zip(writable + read_only, statuses):
            with self.subTest(row.name):
                expected = "Good" if row.write is not None else "BadNotWritable"
                self.assertEqual(status, expected)
                wanted = row.written if row.write is not None else row.start
                self.assertEqual(self.registers(row, len(wanted)), wanted)


if __name__ == "__main__":
    PROGRAM, NODE, MODULES = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
