"""pelmoran-sim against the pymodbus client: its values move and its writes
land, over Modbus/TCP and over RTU and ASCII on pseudo-terminals it creates.

Usage: sim_test.py <path of pelmoran-sim>
"""
import struct
import sys
import time
import unittest

from pymodbus.client import ModbusSerialClient, ModbusTcpClient
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer

from ops_support import Simulator

SIM = None
TICK_MS = 100


def as_float(first, second):
    return struct.unpack(">f", struct.pack(">HH", first, second))[0]


class Checks:
    """The same checks over every transport; self.client is connected."""

    def read(self, address, count):
        reply = self.client.read_holding_registers(address, count, slave=1)
        self.assertFalse(reply.isError(), reply)
        return reply.registers

    def test_values_move(self):
        first = self.read(0, 18)
        time.sleep(4 * TICK_MS / 1000)
        second = self.read(0, 18)
        self.assertNotEqual(first[0], second[0], "counter")
        self.assertNotEqual(first[1], second[1], "ramp")
        self.assertNotEqual(first[10:12], second[10:12], "sine")
        # Both word orders carry the same float and the same 32-bit count.
        self.assertEqual(as_float(second[11], second[10]), as_float(second[12], second[13]))
        self.assertEqual(second[14] | second[15] << 16, second[16] << 16 | second[17])
        inputs = self.client.read_input_registers(0, 5, slave=1)
        self.assertFalse(inputs.isError(), inputs)
        coils = self.client.read_coils(0, 8, slave=1)
        self.assertEqual(sum(coils.bits[:8]), 1, "one walking coil is lit")

    def test_writes_land(self):
        self.assertFalse(self.client.write_register(25, 4242, slave=1).isError())
        self.assertFalse(self.client.write_registers(30, [7, 8, 9], slave=1).isError())
        self.assertEqual(self.read(25, 1), [4242])
        self.assertEqual(self.read(30, 3), [7, 8, 9])
        self.assertFalse(self.client.write_coil(9, True, slave=1).isError())
        self.assertTrue(self.client.read_coils(9, 1, slave=1).bits[0])
        # Coils 9-16 show on inputs 9-16 after the next tick.
        time.sleep(3 * TICK_MS / 1000)
        self.assertTrue(self.client.read_discrete_inputs(9, 1, slave=1).bits[0])
        # A written counter continues from the written value.
        self.assertFalse(self.client.write_register(0, 30000, slave=1).isError())
        time.sleep(3 * TICK_MS / 1000)
        self.assertGreater(self.read(0, 1)[0], 30000)

    def test_addresses_beyond_the_tables_are_refused(self):
        reply = self.client.read_holding_registers(1990, 20, slave=1)
        self.assertTrue(reply.isError())
        self.assertEqual(reply.exception_code, 2)


class TcpTest(Checks, unittest.TestCase):
    def setUp(self):
        self.sim = Simulator(SIM, "--tcp", "0", "--tick", str(TICK_MS))
        # Whichever simulator runs at the end, also when setUp fails.
        self.addCleanup(lambda: self.sim.stop())
        self.client = ModbusTcpClient("127.0.0.1", port=self.sim.tcp_port(), timeout=2)
        self.assertTrue(self.client.connect())

    def tearDown(self):
        self.client.close()

    def test_unit_filter_leaves_other_units_unanswered(self):
        self.client.close()
        self.sim.stop()
        self.sim = Simulator(SIM, "--tcp", "0", "--unit", "5")
        self.client = ModbusTcpClient("127.0.0.1", port=self.sim.tcp_port(), timeout=1,
                                      retries=0)
        self.assertTrue(self.client.connect())
        self.assertFalse(self.client.read_holding_registers(0, 1, slave=5).isError())
        self.assertTrue(self.client.read_holding_registers(0, 1, slave=6).isError())


class SerialChecks(Checks):
    KIND = None
    FRAMER = None

    def setUp(self):
        option = "--" + self.KIND.lower()
        self.sim = Simulator(SIM, option, "pty", "--tick", str(TICK_MS))
        self.addCleanup(self.sim.stop)
        self.client = ModbusSerialClient(port=self.sim.device(self.KIND), framer=self.FRAMER,
                                         baudrate=19200, timeout=1)
        self.assertTrue(self.client.connect())

    def tearDown(self):
        self.client.close()

    def test_other_slave_gets_no_answer(self):
        self.assertTrue(self.client.read_holding_registers(0, 1, slave=2).isError())
        # The line is usable again afterwards.
        self.assertFalse(self.client.read_holding_registers(0, 1, slave=1).isError())


class RtuTest(SerialChecks, unittest.TestCase):
    KIND = "RTU"
    FRAMER = ModbusRtuFramer


class AsciiTest(SerialChecks, unittest.TestCase):
    KIND = "ASCII"
    FRAMER = ModbusAsciiFramer


class CommandLineTest(unittest.TestCase):
    def test_bad_options_are_named_and_refused(self):
        import subprocess
        result = subprocess.run([SIM, "--tcp", "99999"], capture_output=True, text=True,
                                timeout=10)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--tcp needs a whole number from 0 to 65535", result.stderr)
        result = subprocess.run([SIM, "--rtu", "/nonexistent/tty"], capture_output=True,
                                text=True, timeout=10)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot open /nonexistent/tty", result.stderr)


if __name__ == "__main__":
    SIM = sys.argv.pop(1)
    unittest.main()
