"""Every register data type through the whole gateway: a pymodbus slave whose
registers are laid out by Python's struct module, pelmoran -Headless reading
them from "4.00" scan files, and node-opcua reading the published values with
their OPC UA types and writing new ones, which must arrive at the slave laid
out as struct lays them out.

Usage: data_types_test.py <pelmoran> <node> <folder holding node-opcua-client's
       node_modules>
"""
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

from file_layout import configuration, endpoint, scan4
from ops_support import free_port, program_environment, stop_process, wait_for

PROGRAM = NODE = MODULES = None
HERE = os.path.dirname(os.path.abspath(__file__))


def words_of(data):
    return [int.from_bytes(data[k:k + 2], "big") for k in range(0, len(data), 2)]


def packed(fmt, value, order):
    """Registers holding value in a byte order: A is the most significant
    byte, registers listed as the device sends them."""
    if order == "ABCD":
        return words_of(struct.pack(">" + fmt, value))
    if order == "DCBA":
        return words_of(struct.pack("<" + fmt, value))
    if order == "CDAB":
        return packed(fmt, value, "ABCD")[::-1]
    return packed(fmt, value, "DCBA")[::-1]  # BADC


def bcd(value, order="ABCD"):
    digits = int(str(value), 16)
    width = 2 if value > 9999 else 1
    words = words_of(digits.to_bytes(2 * width, "big"))
    return words[::-1] if order == "CDAB" else words


def ascii_registers(text, count, order):
    data = text.encode("ascii").ljust(2 * count, b"\0")
    if order == "BA":
        data = b"".join(data[k:k + 2][::-1] for k in range(0, len(data), 2))
    return words_of(data)


ORDERS = ["ABCD", "CDAB", "BADC", "DCBA"]
FLOAT32 = {"ABCD": 5, "CDAB": 4, "BADC": 14, "DCBA": 15}
INT32 = {"ABCD": 7, "CDAB": 6, "BADC": 12, "DCBA": 13}
UINT32 = {"ABCD": 8, "CDAB": 9, "BADC": 10, "DCBA": 11}
INT64 = dict(zip(ORDERS, range(18, 22)))
UINT64 = dict(zip(ORDERS, range(22, 26)))
FLOAT64 = dict(zip(ORDERS, range(26, 30)))
PLAIN = (0, 1, 0, 0.0, 100.0, 0.0, 100.0)  # bit, string registers, unscaled


class Case:
    """One tag: its data type and format, the registers the slave starts
    with, the value and OPC UA type a client must read, the value a client
    writes, and the registers that write must leave at the slave."""

    def __init__(self, name, data_type, start, read, ua_type, write, written,
                 write_type=None, fmt=PLAIN, read_back=None):
        self.name, self.data_type, self.fmt = name, data_type, fmt
        self.start, self.read, self.ua_type = start, read, ua_type
        self.write, self.written = write, written
        self.write_type = write_type or ua_type
        self.read_back = write if read_back is None else read_back


def cases():
    out = [
        Case("UNSIGNED", 0, [65535], 65535, "Float", 40000, [40000]),
        Case("INTEGER", 1, packed("h", -2, "ABCD"), -2, "Float", -300,
             packed("h", -300, "ABCD")),
        Case("Unsigned 16 (BA)", 16, packed("H", 0x1234, "DCBA"), 0x1234, "Float", 0xBEEF,
             packed("H", 0xBEEF, "DCBA"), write_type="Int32"),
        Case("Integer 16 (BA)", 17, packed("h", -12345, "DCBA"), -12345, "Float", 31000,
             packed("h", 31000, "DCBA"), write_type="Int32"),
        Case("BCD 16", 30, bcd(9876), 9876, "Float", 4321, bcd(4321), write_type="UInt32"),
        Case("BCD 32 (ABCD)", 31, bcd(12345678), 12345678, "UInt32", 87654321, bcd(87654321)),
        Case("BCD 32 (CDAB)", 32, bcd(12345678, "CDAB"), 12345678, "UInt32", 99999999,
             bcd(99999999, "CDAB")),
        Case("Bit 13", 33, [0b0010_0000_0000_0101], True, "Boolean", False,
             [0b0000_0000_0000_0101], fmt=(13,) + PLAIN[1:]),
        Case("Bit 1", 33, [0b0010_0000_0000_0101], False, "Boolean", True,
             [0b0010_0000_0000_0111], fmt=(1,) + PLAIN[1:]),
        Case("ASCII String (AB)", 34, ascii_registers("PUMP-7", 4, "AB"), "PUMP-7", "String",
             "VALVE 12", ascii_registers("VALVE 12", 4, "AB"), fmt=(0, 4) + PLAIN[2:]),
        Case("ASCII String (BA)", 35, ascii_registers("abc", 3, "BA"), "abc", "String",
             "Hi!", ascii_registers("Hi!", 3, "BA"), fmt=(0, 3) + PLAIN[2:]),
        # A scaled reading of a 4-20 mA transmitter.
        Case("UNSIGNED scaled", 0, [2000], 12.0, "Double", 16.0, [3000], write_type="Double",
             fmt=(0, 1, 1, 0.0, 4000.0, 4.0, 20.0)),
        Case("UNSIGNED scaled, held to its range", 0, [1000], 8.0, "Double", 25.0, [4000],
             fmt=(0, 1, 1, 0.0, 4000.0, 4.0, 20.0), read_back=20.0),
        Case("Integer 32 (CDAB) scaled", 6, packed("i", -500000, "CDAB"), -50.0, "Double", 12.5,
             packed("i", 125000, "CDAB"), fmt=(0, 1, 1, -1000000.0, 1000000.0, -100.0, 100.0)),
        Case("Float 64 (DCBA) scaled", 29, packed("d", 0.5, "DCBA"), 50.0, "Double", 25.0,
             packed("d", 0.25, "DCBA"), fmt=(0, 1, 1, 0.0, 1.0, 0.0, 100.0)),
    ]
    for order in ORDERS:
        out += [
            Case("Float 32 (%s)" % order, FLOAT32[order], packed("f", -2.75, order), -2.75,
                 "Float", 1.5e-3, packed("f", 1.5e-3, order), read_back=struct.unpack(
                     "f", struct.pack("f", 1.5e-3))[0]),
            # Beyond 2^24: a Float would have lost the last digit.
            Case("Integer 32 (%s)" % order, INT32[order], packed("i", 16777217, order),
                 16777217, "Int32", -2147483647, packed("i", -2147483647, order)),
            Case("Unsigned 32 (%s)" % order, UINT32[order], packed("I", 4000000001, order),
                 4000000001, "UInt32", 4294967295, packed("I", 4294967295, order)),
            # Beyond 2^53: a Double would have lost the last digit.
            Case("Integer 64 (%s)" % order, INT64[order],
                 packed("q", -9007199254740993, order), "-9007199254740993", "Int64",
                 "9223372036854775807", packed("q", 9223372036854775807, order)),
            Case("Unsigned 64 (%s)" % order, UINT64[order],
                 packed("Q", 18446744073709551557, order), "18446744073709551557", "UInt64",
                 "9007199254740993", packed("Q", 9007199254740993, order)),
            Case("Float 64 (%s)" % order, FLOAT64[order], packed("d", 3.141592653589793, order),
                 3.141592653589793, "Double", -1e-300, packed("d", -1e-300, order)),
        ]
    # Writes take any numeric type the value converts from.
    out += [
        Case("Integer 32 written as Double", 6, packed("i", 1, "CDAB"), 1, "Int32", 123.0,
             packed("i", 123, "CDAB"), write_type="Double", read_back=123),
        Case("Unsigned 32 written as String", 8, packed("I", 1, "ABCD"), 1, "UInt32", "77",
             packed("I", 77, "ABCD"), write_type="String", read_back=77),
        Case("Float 64 written as Int64", 26, packed("d", 1.0, "ABCD"), 1.0, "Double",
             "-42", packed("d", -42.0, "ABCD"), write_type="Int64", read_back=-42.0),
    ]
    return out


# Writes a device must never see: (case index by name, type, value, status).
REFUSED = [
    ("Unsigned 16 (BA)", "Int32", 70000, "BadOutOfRange"),
    ("BCD 16", "Int32", 10000, "BadOutOfRange"),
    ("BCD 32 (ABCD)", "Int32", -1, "BadOutOfRange"),
    ("ASCII String (BA)", "String", "too long", "BadOutOfRange"),
    ("ASCII String (AB)", "String", "caf\u00e9", "BadOutOfRange"),
    ("Integer 32 (ABCD)", "String", "not a number", "BadTypeMismatch"),
    ("Unsigned 64 (ABCD)", "Int64", "-1", "BadOutOfRange"),
    ("UNSIGNED scaled", "Double", "NaN", "BadOutOfRange"),
]

SPACING = 10  # registers between two cases' first registers


def start_slave(registers):
    context = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, registers), zero_mode=True)
    port = free_port()
    threading.Thread(target=StartTcpServer,
                     kwargs={"context": ModbusServerContext(slaves=context, single=True),
                             "address": ("127.0.0.1", port)},
                     daemon=True).start()
    return context, port


class DataTypesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        logging.disable(logging.CRITICAL)
        cls.cases = cases()
        registers = [0] * (SPACING * len(cls.cases) + SPACING)
        for k, case in enumerate(cls.cases):
            registers[SPACING * k:SPACING * k + len(case.start)] = case.start
        cls.slave, port = start_slave(registers)
        cls.dir = tempfile.mkdtemp(prefix="pelmoran-types-")
        paths = []
        for k, case in enumerate(cls.cases):
            paths.append(os.path.join(cls.dir, "case%02d.scn" % k))
            with open(paths[-1], "wb") as f:
                f.write(scan4("DEV", SPACING * k + 1, max(len(case.start), len(case.written)),
                              200, [(case.data_type,) + case.fmt]))
        with open(os.path.join(cls.dir, "pelmoran.tst"), "wb") as f:
            f.write(configuration([endpoint("DEV", port, 1000)], paths))
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

    def tag(self, case):
        return "DEV.NODE1.4%04d" % (SPACING * self.cases.index(case) + 1)

    def node(self, *args):
        result = subprocess.run([NODE, os.path.join(HERE, "opcua_typed.mjs"), MODULES,
                                 self.env["PELMORAN_OPCUA_ENDPOINT"], *args],
                                capture_output=True, text=True, timeout=60)
        for line in result.stdout.splitlines():
            if line.startswith("RESULT "):
                return json.loads(line[len("RESULT "):])
        self.fail("opcua_typed.mjs gave no result: %s" % result.stderr[-2000:])

    def read_all(self):
        return self.node("read", *[self.tag(c) for c in self.cases])

    def registers(self, case):
        k = self.cases.index(case)
        return self.slave.getValues(3, SPACING * k, len(case.written))

    def all_good(self):
        values = self.read_all()
        return values if all(v["status"] == "Good" for v in values.values()) else None

    def test_1_every_type_reads_exactly_with_its_own_type(self):
        values = wait_for(self.all_good, 30, 0.3)
        self.assertIsNotNone(values, "the tags never all turned good")
        for case in self.cases:
            with self.subTest(case.name):
                self.assertEqual(values[self.tag(case)]["type"], case.ua_type)
                self.assertEqual(values[self.tag(case)]["value"], case.read)

    def test_2_every_type_writes_what_struct_lays_out(self):
        self.assertIsNotNone(wait_for(self.all_good, 30, 0.3), "the tags never all turned good")
        statuses = self.node("write", json.dumps(
            [[self.tag(c), c.write_type, c.write] for c in self.cases]))
        for case, status in zip(self.cases, statuses):
            with self.subTest(case.name):
                self.assertEqual(status, "Good")
                self.assertEqual(self.registers(case), case.written)

        def read_back():
            values = self.read_all()
            return values if all(values[self.tag(c)]["value"] == c.read_back
                                 for c in self.cases) else None
        values = wait_for(read_back, 20, 0.3) or self.read_all()
        for case in self.cases:
            with self.subTest(case.name):
                self.assertEqual(values[self.tag(case)]["value"], case.read_back)

    def test_3_values_a_type_cannot_hold_never_reach_the_device(self):
        self.assertIsNotNone(wait_for(self.all_good, 30, 0.3), "the tags never all turned good")
        by_name = {c.name: c for c in self.cases}
        before = {name: self.registers(by_name[name]) for name, *_ in REFUSED}
        statuses = self.node("write", json.dumps(
            [[self.tag(by_name[name]), t, v] for name, t, v, _ in REFUSED]))
        for (name, _, value, expected), status in zip(REFUSED, statuses):
            with self.subTest(name, value=value):
                self.assertEqual(status, expected)
                self.assertEqual(self.registers(by_name[name]), before[name])


if __name__ == "__main__":
    PROGRAM, NODE, MODULES = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
