"""Sparkplug B from the real program, as a host reads it from a real mosquitto:
births with every tag's type and value, data on change, seq without a gap
across its wrap, device naming, commands that end as an OPC UA write would,
and the deaths of devices and of the node.

Usage: sparkplug_test.py <pelmoran>
"""
import re
import socket
import struct
import sys
import time
import unittest

from mqtt_support import (BAD_DEVICE_FAILURE, BAD_OUT_OF_RANGE, BAD_QUALITY, BAD_SEVERITY,
                          BAD_TYPE_MISMATCH, BOOLEAN, DOUBLE, FLOAT, GOOD_QUALITY, INPUT, INT32,
                          INT64, STRING, UINT32, UINT64,
                          Broker, Gateway, Slave, SparkplugNode, Subscriber, metric_value,
                          properties, repeats, scan_file, sequence_faults, started,
                          temporary_directory, words_of, write_configuration)

PROGRAM = None
SPACING = 10
# (data type, bit, string registers), registers, Sparkplug type, value.
TYPES = [
    ("UNSIGNED", (0, 0, 1), [65535], FLOAT, 65535.0),
    ("Float 32 ABCD", (5, 0, 1), words_of(struct.pack(">f", -2.75)), FLOAT, -2.75),
    ("Integer 32 ABCD", (7, 0, 1), words_of(struct.pack(">i", -16777217)), INT32, -16777217),
    ("Unsigned 32 ABCD", (8, 0, 1), words_of(struct.pack(">I", 4000000001)), UINT32,
     4000000001),
    ("Integer 64 ABCD", (18, 0, 1), words_of(struct.pack(">q", -9007199254740993)), INT64,
     -9007199254740993),
    ("Unsigned 64 ABCD", (22, 0, 1), words_of(struct.pack(">Q", 18446744073709551557)), UINT64,
     18446744073709551557),
    ("Float 64 ABCD", (26, 0, 1), words_of(struct.pack(">d", 3.141592653589793)), DOUBLE,
     3.141592653589793),
    ("Bit 13", (33, 13, 1), [0x2005], BOOLEAN, True),
    ("ASCII string", (34, 0, 4), words_of(b"PUMP-7\0\0"), STRING, "PUMP-7"),
]
COUNTER = 200  # wire address of the register that changes at every poll
REFUSED = 300  # beyond the slave's table: exception 02
WRAP = 300     # messages to see seq run past 255


def type_registers():
    registers = [0] * (SPACING * len(TYPES))
    for k, (_, _, words, _, _) in enumerate(TYPES):
        registers[SPACING * k:SPACING * k + len(words)] = words
    return registers


def named(payload):
    return {m.name: metric_value(m) for m in payload.metrics}


def tag(address, table=4):
    return "PLC1.NODE1.%d%04d" % (table, address + 1)


class SparkplugTest(unittest.TestCase):
    def setUp(self):
        self.dir = temporary_directory(self, "pelmoran-spb-")
        self.broker = started(self, Broker(self.dir))
        self.subscriber = started(self, Subscriber(self.broker.port, "spBv1.0/#"))
        self.gateway = started(self, Gateway(PROGRAM, self.dir))

    def start(self, registers, endpoints, scans, **mqtt):
        self.slave = started(self, Slave(registers))
        write_configuration(self.dir, [(name, self.slave.port) for name in endpoints], scans,
                            dict({"Enabled": 1, "Port": self.broker.port}, **mqtt))
        self.gateway.start()

    def test_births_then_data_with_every_type_and_seq_past_its_wrap(self):
        scans = [scan_file("PLC1", SPACING * k + 1, len(words), 200, [fmt])
                 for k, (_, fmt, words, _, _) in enumerate(TYPES)]
        scans.append(scan_file("PLC1", COUNTER + 1, 1, 20, [(0, 0, 1)]))
        self.start(type_registers(), ["PLC1"], scans)
        # Defaults: group pelmoran, the host name as edge node, pelmoran-<node> as client.
        host = socket.gethostname()
        node = SparkplugNode(self.subscriber, "pelmoran", host)
        names = [tag(SPACING * k) for k in range(len(TYPES))] + [tag(COUNTER)]
        # A device is born again as its scans are restored one after another.
        birth = node.wait(lambda seen: [p for kind, d, p in seen if kind == "DBIRTH"
                                        and d == "PLC1" and set(names) <= set(named(p))])
        self.assertTrue(birth, "no DBIRTH with every tag: " + self.gateway.text()[-2000:])
        self.assertIn("as pelmoran-%s " % host, self.broker.text())

        first = node.all()[0]
        self.assertEqual(first[0], "NBIRTH")
        self.assertEqual(first[2].seq, 0)
        control = {m.name: m for m in first[2].metrics}
        self.assertEqual(control["bdSeq"].datatype, INT64)
        self.assertEqual(control["Node Control/Rebirth"].datatype, BOOLEAN)

        born = {m.name: m for m in birth[0].metrics}
        first = node.wait_first_values(names[:-1])
        self.assertTrue(first, "not every tag got a value: %s" % node.all()[-3:])
        now_ms = time.time() * 1000
        for k, (name, _, _, datatype, value) in enumerate(TYPES):
            with self.subTest(name):
                self.assertIn(names[k], born)
                self.assertEqual(born[names[k]].datatype, datatype)
                if metric_value(born[names[k]]) is None:
                    # Born before its first poll: no value, and not a good one.
                    self.assertTrue(born[names[k]].is_null)
                    self.assertNotEqual(properties(born[names[k]]).get("Quality"),
                                        GOOD_QUALITY)
                self.assertEqual(first[names[k]].datatype, datatype)
                self.assertEqual(metric_value(first[names[k]]), value)
                self.assertEqual(properties(first[names[k]]).get("Quality"), GOOD_QUALITY)
                self.assertLess(abs(first[names[k]].timestamp - now_ms), 60000)

        changed_at = time.time() * 1000
        self.slave.set(0, 1234)
        metric = node.wait_value(tag(0), lambda m: metric_value(m) == 1234.0, ("DDATA",))
        self.assertIsNotNone(metric, "no DDATA with the changed register")
        self.assertEqual(properties(metric).get("Quality"), GOOD_QUALITY)
        self.assertGreaterEqual(metric.timestamp, changed_at - 1000)

        # Every poll of the counter is a change, so the node soon passes seq 255.
        self.slave.ask("count %d" % COUNTER)
        seen = node.wait(lambda s: s if len(s) >= WRAP else None, 60)
        self.assertTrue(seen, "only %d messages" % len(node.all()))
        self.assertEqual(sequence_faults(seen), [])
        self.assertEqual({(kind, device) for kind, device, _ in seen},
                         {("NBIRTH", None), ("DBIRTH", "PLC1"), ("DDATA", "PLC1")})
        self.assertEqual(repeats(seen)[:5], [], "DDATA of values that had not changed")
        # Its first value is from before it counted.
        counts = [metric_value(m) for kind, _, p in seen if kind == "DDATA"
                  for m in p.metrics if m.name == tag(COUNTER)][1:]
        self.assertEqual(counts, list(range(int(counts[0]), int(counts[0]) + len(counts))),
                         "a change of the counter was not published")

    def test_slave_devices_take_names_mqtt_can_carry(self):
        name = "A/B+C#D"
        scans = [scan_file(name, 1, 2, 200, [(0, 0, 1)] * 2, node=n) for n in (1, 2)]
        self.start([11, 12], [name], scans, Devices="slave", GroupId="plant",
                   EdgeNodeId="line-7")
        node = SparkplugNode(self.subscriber, "plant", "line-7")
        for n in (1, 2):
            with self.subTest(node=n):
                device = "A_B_C_D-NODE%d" % n
                births = node.wait_count("DBIRTH", 1, device)
                self.assertTrue(births, "no DBIRTH on %s: %s" % (device, self.topics()))
                names = ["%s.NODE%d.4000%d" % (name, n, k) for k in (1, 2)]
                self.assertEqual(sorted(named(births[0])), names)
                first = node.wait_first_values(names)
                self.assertEqual([metric_value(first[t]) for t in names], [11.0, 12.0])
        self.slave.set(1, 99)
        for n in (1, 2):
            with self.subTest(node=n):
                device, changed = "A_B_C_D-NODE%d" % n, "%s.NODE%d.40002" % (name, n)
                self.assertTrue(node.wait(lambda seen: [
                    p for kind, d, p in seen if kind == "DDATA" and d == device
                    and (changed, 99.0) in named(p).items()]), "no DDATA on " + device)
        self.assertFalse([t for t in self.topics() if t.endswith("/A_B_C_D")],
                         "the endpoint was born as a device too")

    def topics(self):
        return sorted({m.topic for m in self.subscriber.messages})

    def test_commands_end_as_an_opc_ua_write_would(self):
        scans = [scan_file("PLC1", 1, 4, 200, [(0, 0, 1)] * 4),
                 scan_file("PLC1", REFUSED + 1, 1, 200, [(0, 0, 1)]),
                 scan_file("PLC1", 1, 1, 200, [(0, 0, 1)], point_type=INPUT)]
        self.start([1, 2, 3, 4], ["PLC1"], scans, EdgeNodeId="gw")
        node = SparkplugNode(self.subscriber, "pelmoran", "gw")
        self.assertTrue(node.wait_count("DBIRTH", 1, "PLC1"), "no DBIRTH")
        bd_seq = named(node.wait_count("NBIRTH", 1)[0])["bdSeq"]

        cases = [
            ("acknowledged by the slave", tag(1), FLOAT, "float_value", 4321.0, 0),
            ("converted from Int32", tag(2), INT32, "int_value", 7, 0),
            ("exception 02 from the slave", tag(REFUSED), FLOAT, "float_value", 1.0,
             BAD_DEVICE_FAILURE),
            # No birth declared it: it is not answered with a metric of its own.
            ("no such tag", tag(98), FLOAT, "float_value", 1.0, None),
            ("beyond an UNSIGNED register", tag(0), FLOAT, "float_value", 70000.0,
             BAD_OUT_OF_RANGE),
            ("an input register", tag(0, 3), FLOAT, "float_value", 1.0, BAD_SEVERITY),
            ("a value that does not convert", tag(3), STRING, "string_value", "not a number",
             BAD_TYPE_MISMATCH),
        ]
        untouched = self.slave.get(0)
        node.publish("DCMD", "PLC1", [(n, t, f, v) for _, n, t, f, v, _ in cases])
        for what, name, _, _, value, status in cases:
            if status is None:
                continue
            with self.subTest(what):
                answer = self.write_status(node, name)
                self.assertIsNotNone(answer, "no Write Status for " + name)
                if status == BAD_SEVERITY:
                    self.assertTrue(answer & BAD_SEVERITY, hex(answer))
                else:
                    self.assertEqual(answer, status, hex(answer))
        self.assertEqual(self.slave.get(1, 2), [4321, 7])
        self.assertEqual(self.slave.get(3), [4])
        self.assertEqual(self.slave.get(0), untouched)
        # Answered in order: the later metrics' answers are in, so would be its.
        self.assertFalse([p for _, _, p in node.all() if tag(98) in named(p)])

        node.publish("NCMD", None, [(tag(2), FLOAT, "float_value", 99.0)])
        self.assertTrue(node.wait_value(tag(2), lambda m: metric_value(m) == 99.0, ("DDATA",)))
        self.assertEqual(self.slave.get(2), [99])

        node.publish("NCMD", None, [("Node Control/Rebirth", BOOLEAN, "boolean_value", True)])
        births = node.wait_count("DBIRTH", 2, "PLC1")
        self.assertTrue(births, "no new DBIRTH after Rebirth")
        rebirth = node.wait_count("NBIRTH", 2)[1]
        self.assertEqual(named(rebirth)["bdSeq"], bd_seq)
        self.assertEqual(sequence_faults(node.all()), [])

        self.gateway.stop()
        death = node.wait_count("NDEATH", 1)
        self.assertTrue(death, "no NDEATH on an orderly stop")
        self.assertEqual(named(death[0]), {"bdSeq": bd_seq})

    def test_first_birth_carries_the_first_poll(self):
        # A slave that answers, and an endpoint that takes the connection
        # and never answers: born after its first time-out, bad.
        silent = socket.socket()
        self.addCleanup(silent.close)
        silent.bind(("127.0.0.1", 0))
        silent.listen()
        self.slave = started(self, Slave([5, 6]))
        write_configuration(self.dir, [("PLC1", self.slave.port),
                                       ("PLC2", silent.getsockname()[1])],
                            [scan_file(name, 1, 2, 200, [(0, 0, 1)] * 2) for name in
                             ("PLC1", "PLC2")],
                            {"Enabled": 1, "Port": self.broker.port, "EdgeNodeId": "gw"})
        self.gateway.start()
        node = SparkplugNode(self.subscriber, "pelmoran", "gw")
        cases = [("PLC1", [5.0, 6.0], GOOD_QUALITY), ("PLC2", [None, None], BAD_QUALITY)]
        for device, values, quality in cases:
            with self.subTest(device):
                birth = node.wait_count("DBIRTH", 1, device)
                self.assertTrue(birth, "no DBIRTH of %s: %s" % (device, self.gateway.text()))
                metrics = sorted(birth[0].metrics, key=lambda m: m.name)
                self.assertEqual([metric_value(m) for m in metrics], values)
                self.assertEqual([properties(m).get("Quality") for m in metrics],
                                 [quality] * len(values))

    def test_every_start_after_a_kill_has_a_new_bd_seq(self):
        self.start([5], ["PLC1"], [scan_file("PLC1", 1, 1, 200, [(0, 0, 1)])], EdgeNodeId="gw")
        node = SparkplugNode(self.subscriber, "pelmoran", "gw")
        kills = 2
        for k in range(kills):
            self.assertTrue(node.wait_count("NBIRTH", k + 1), "no NBIRTH after start %d" % k)
            self.gateway.kill()
            self.assertTrue(node.wait_count("NDEATH", k + 1), "the broker sent no will")
            self.gateway.start()
        births = [named(p)["bdSeq"] for p in node.wait_count("NBIRTH", kills + 1)]
        wills = [named(p)["bdSeq"] for p in node.wait_count("NDEATH", kills)]
        # Each will is its own session's, and no later session has its number.
        self.assertEqual(wills, births[:kills])
        self.assertEqual(len(set(births)), len(births), births)

    def test_settings_it_does_not_take_are_logged_once(self):
        taken = "is not a value it takes: the default %s is used"
        cases = [
            ({"Qos": 3, "KeepAlive": 2, "Format": "xml"},
             ["Qos=3 " + taken % 1, "KeepAlive=2 " + taken % 30, "Format=xml " + taken % "sparkplug"]),
            ({"Port": "abc"}, ["not started: the MQTT port abc is not a number"]),
            ({"Enabled": "yes"}, ["Enabled=yes " + taken % 0]),
        ]
        self.slave = started(self, Slave([5]))
        for settings, lines in cases:
            with self.subTest(settings):
                write_configuration(self.dir, [("PLC1", self.slave.port)],
                                    [scan_file("PLC1", 1, 1, 200, [(0, 0, 1)])],
                                    dict({"Enabled": 1, "Port": self.broker.port}, **settings))
                before = len(self.gateway.text()) if self.gateway.proc else 0
                self.gateway.start()
                self.assertTrue(self.gateway.wait_log(re.escape(lines[-1])), self.gateway.text())
                # Once stopped, it has said all it will.
                self.gateway.stop()
                said = self.gateway.text()[before:]
                self.assertEqual([said.count("MQTT: " + line) for line in lines], [1] * len(lines),
                                 said)

    def write_status(self, node, name):
        metric = node.wait_value(name, lambda m: "Write Status" in properties(m),
                                 ("DDATA", "NDATA"))
        return properties(metric)["Write Status"] if metric else None

    def test_deaths_of_a_device_and_of_the_node(self):
        self.start([5, 6], ["PLC1"], [scan_file("PLC1", 1, 2, 200, [(0, 0, 1)] * 2)],
                   EdgeNodeId="gw")
        node = SparkplugNode(self.subscriber, "pelmoran", "gw")
        self.assertTrue(node.wait_count("DBIRTH", 1, "PLC1"), "no DBIRTH")
        nbirth = node.wait_count("NBIRTH", 1)[0]
        bd_seq = named(nbirth)["bdSeq"]

        port = self.slave.port
        self.slave.stop()
        self.assertTrue(node.wait_count("DDEATH", 1, "PLC1"), "no DDEATH with the slave gone")
        self.slave = started(self, Slave([5, 7], port))
        births = node.wait_count("DBIRTH", 2, "PLC1")
        self.assertTrue(births, "no DBIRTH with the slave back")
        self.assertEqual(node.wait_value(tag(1), lambda m: metric_value(m) == 7.0).name, tag(1))

        self.gateway.kill()
        death = node.wait_count("NDEATH", 1)
        self.assertTrue(death, "the broker sent no will")
        self.assertEqual(named(death[0]), {"bdSeq": bd_seq})
        self.assertEqual(sequence_faults(node.all()), [])


if __name__ == "__main__":
    PROGRAM = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
