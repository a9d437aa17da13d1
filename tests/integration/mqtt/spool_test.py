"""Store and forward: while mosquitto is down the real program keeps every
change it polls, and once the broker is back a persistent QoS 1 subscriber
(a historian) receives all of them in order, those from the outage marked
historical (Sparkplug is_historical, JSON "historical": true), with seq
running on without a gap; changes kept when the gateway itself is stopped go
out after its next start. The broker is stopped with SIGTERM and keeps its
subscribers' queues on disk across its restart.

Usage: spool_test.py <pelmoran>
"""
import json
import sys
import unittest

from mqtt_support import (Broker, Gateway, Slave, SparkplugNode, Subscriber, metric_value,
                          scan_file, sequence_faults, started, temporary_directory,
                          write_configuration)

PROGRAM = None
TAG = "PLC1.NODE1.40001"
# A broker and a gateway both retry with growing delays: room for both.
RECONNECT = 60


class Outage(unittest.TestCase):
    """A persistent broker, a historian, a slave and a gateway in one format."""

    def start(self, fmt):
        self.dir = temporary_directory(self, "pelmoran-spool-")
        self.broker = started(self, Broker(self.dir, "persistence true",
                                           "persistence_location %s/" % self.dir))
        # A historian: its session and queue outlive its connection.
        self.subscriber = started(self, Subscriber(self.broker.port, "#", client_id="historian",
                                                   clean=False))
        self.slave = started(self, Slave([100]))
        write_configuration(self.dir, [("PLC1", self.slave.port)],
                            [scan_file("PLC1", 1, 1, 100, [(0, 0, 1)])],
                            {"Enabled": 1, "Port": self.broker.port, "EdgeNodeId": "gw",
                             "Qos": 1, "Format": fmt})
        self.gateway = started(self, Gateway(PROGRAM, self.dir))
        self.gateway.start()

    def change(self, *values):
        """Each value in turn, each polled by the gateway before the next; then
        one poll more, so that the last one has been handled too."""
        for value in values:
            self.assertTrue(self.slave.set_and_wait_polled(0, value), "no poll saw %d" % value)
        self.assertTrue(self.slave.set_and_wait_polled(0, values[-1]))

    def outage(self, *values):
        """The broker stopped while the slave takes values, then started again."""
        self.broker.stop()
        self.change(*values)
        self.broker.start()


class SparkplugOutageTest(Outage):
    def setUp(self):
        self.start("sparkplug")
        self.node = SparkplugNode(self.subscriber, "pelmoran", "gw")
        self.assertTrue(self.node.wait_count("DBIRTH", 1, "PLC1"),
                        "no DBIRTH: " + self.gateway.text()[-2000:])

    def changes(self, seen=None):
        """(value, historical) of every DDATA of the tag, in order of arrival;
        a value the same as the one before is no change, kept or not (whether
        an unchanged value is published again is the Sparkplug test's to find)."""
        out = []
        for kind, _, p in seen or self.node.all():
            for m in p.metrics if kind == "DDATA" else ():
                if m.name == TAG and [c[0] for c in out[-1:]] != [metric_value(m)]:
                    out.append((metric_value(m), m.is_historical))
        return out

    def wait_change(self, value, timeout=RECONNECT):
        found = self.node.wait(lambda seen: (value, False) in self.changes(seen), timeout)
        self.assertTrue(found, "%d never arrived: %s" % (value, self.changes()))

    def assert_births_then_kept_changes(self):
        seen = self.node.all()
        births = [k for k, (kind, _, _) in enumerate(seen) if kind == "NBIRTH"]
        kept = [k for k, (kind, _, p) in enumerate(seen)
                if kind == "DDATA" and any(m.is_historical for m in p.metrics)]
        self.assertGreater(kept[0], births[-1], "kept changes went out before the births")
        self.assertEqual(sequence_faults(seen), [])

    def bd_seqs(self):
        return [{m.name: metric_value(m) for m in p.metrics}["bdSeq"]
                for kind, _, p in self.node.all() if kind == "NBIRTH"]

    def test_a_broker_restart_loses_no_change(self):
        self.change(101, 102)
        self.wait_change(102)
        self.outage(201, 202, 203, 204, 205)
        # A change before the gateway is back is one more kept change: wait for its births.
        self.assertTrue(self.node.wait_count("NBIRTH", 2, timeout=RECONNECT),
                        "no births after the broker came back: " + self.gateway.text()[-2000:])
        self.change(301)
        self.wait_change(301)

        self.assertEqual(self.changes(),
                         [(101, False), (102, False)] + [(v, True) for v in range(201, 206)]
                         + [(301, False)])
        self.assert_births_then_kept_changes()
        first, second = self.bd_seqs()
        self.assertGreater(second, first)

    def test_changes_kept_when_the_gateway_stops_go_out_after_its_start(self):
        self.change(101)
        self.wait_change(101)
        self.broker.stop()
        self.change(201, 202, 203)
        self.gateway.stop()
        self.assertEqual(self.gateway.proc.returncode, 0, "no orderly end without a broker")

        self.broker.start()
        self.gateway.start()
        found = self.node.wait(lambda seen: (203, True) in self.changes(seen), RECONNECT)
        self.assertTrue(found, "the kept changes never came: %s\n%s"
                        % (self.changes(), self.gateway.text()[-1500:]))
        # After its start the gateway may publish its first poll of 203 as a live change too.
        self.assertEqual([c for c in self.changes() if c[1]], [(201, True), (202, True),
                                                              (203, True)])
        self.assertEqual([c for c in self.changes() if not c[1]][:1], [(101, False)])
        self.assert_births_then_kept_changes()
        first, second = self.bd_seqs()
        self.assertGreater(second, first)


class JsonOutageTest(Outage):
    def setUp(self):
        self.start("json")

    def documents(self, messages):
        """(value, historical) of the tag's documents, a value the same as the
        one before as no change, the ones from before its first poll left out."""
        out = []
        for m in messages:
            tag_topic = m.topic.endswith("/PLC1/" + TAG) or m.topic.endswith("/PLC1/" + TAG[5:])
            if tag_topic and m.payload:
                doc = json.loads(m.payload)
                if doc["value"] is not None and [c[0] for c in out[-1:]] != [doc["value"]]:
                    out.append((doc["value"], doc.get("historical", False)))
        return out

    def wait_document(self, change):
        found = self.subscriber.wait(lambda ms: change in self.documents(ms), RECONNECT)
        self.assertTrue(found, "%s never came: %s\n%s" % (
            change, self.documents(self.subscriber.messages), self.gateway.text()[-1500:]))

    def test_documents_kept_through_an_outage_say_they_are_historical(self):
        self.wait_document((100, False))
        self.outage(201, 202)
        self.wait_document((202, True))
        self.change(301)
        self.wait_document((301, False))
        docs = self.documents(self.subscriber.messages)
        kept = [d for d in docs if d[1]]
        # A poll of the value it had before, kept as though it were a change,
        # is the Sparkplug test's to find (unchanged values published again).
        if kept[:1] == [(100, True)]:
            kept = kept[1:]
        self.assertEqual(kept, [(201, True), (202, True)])
        self.assertLess(docs.index((202, True)), docs.index((301, False)))


if __name__ == "__main__":
    PROGRAM = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
