"""The JSON format from the real program through a real mosquitto: one retained
document per tag with its quality and status, the gateway's online and
offline, and writes on /set answered on /set/result as an OPC UA client's
write would end.

Usage: json_test.py <pelmoran>
"""
import datetime
import json
import sys
import time
import unittest

from mqtt_support import (Broker, Gateway, Slave, Subscriber, scan_file, started,
                          temporary_directory, write_configuration)

PROGRAM = None
PREFIX = "plant"
REFUSED = 300  # beyond the slave's table: exception 02


def tag(address):
    return "PLC1.NODE1.4%04d" % (address + 1)


class JsonTest(unittest.TestCase):
    def setUp(self):
        self.dir = temporary_directory(self, "pelmoran-json-")
        self.broker = started(self, Broker(self.dir))
        self.subscriber = started(self, Subscriber(self.broker.port, PREFIX + "/#"))
        self.slave = started(self, Slave([10, 20, 30, 40]))
        scans = [scan_file("PLC1", 1, 4, 200, [(0, 0, 1)] * 4),
                 scan_file("PLC1", REFUSED + 1, 1, 200, [(0, 0, 1)])]
        write_configuration(self.dir, [("PLC1", self.slave.port)], scans,
                            {"Enabled": 1, "Port": self.broker.port, "Format": "json",
                             "TopicPrefix": PREFIX, "EdgeNodeId": "gw"})
        self.gateway = started(self, Gateway(PROGRAM, self.dir))
        self.gateway.start()

    def latest(self, subscriber, topic, predicate=lambda payload: True):
        """The last message on topic, once its payload satisfies predicate."""
        def found(messages):
            on_topic = [m for m in messages if m.topic == topic]
            return on_topic[-1] if on_topic and predicate(on_topic[-1].payload) else None
        return subscriber.wait(found)

    def document(self, topic, predicate):
        # An empty payload deletes a retained document: no document at all.
        message = self.latest(self.subscriber, topic, lambda p: p and predicate(json.loads(p)))
        self.assertTrue(message, "no such document on %s: %s" % (topic, self.topics()))
        return json.loads(message.payload)

    def find_tag_topics(self):
        """<prefix>/<endpoint>/<tag>: the tag by its full name or, should the
        gateway leave out the endpoint the topic already names, without it."""
        full = "%s/PLC1/%s" % (PREFIX, tag(0))
        short = "%s/PLC1/%s" % (PREFIX, tag(0)[len("PLC1."):])
        found = self.subscriber.wait(
            lambda messages: [m.topic for m in messages if m.topic in (full, short)])
        self.assertTrue(found, "no document for %s: %s" % (tag(0), self.topics()))
        drop = 0 if found[0] == full else len("PLC1.")
        return lambda address: "%s/PLC1/%s" % (PREFIX, tag(address)[drop:])

    def topics(self):
        return sorted({m.topic for m in self.subscriber.messages})

    def test_documents_status_and_writes(self):
        status = PREFIX + "/gw/status"
        self.assertTrue(self.latest(self.subscriber, status, lambda p: p == b"online"),
                        "no online status: " + self.gateway.text()[-2000:])
        topic_of = self.find_tag_topics()
        doc = self.document(topic_of(0), lambda d: d["value"] == 10)
        self.assertEqual((doc["quality"], doc["status"]), ("good", "0x00000000"))
        stamp = datetime.datetime.strptime(doc["timestamp"], "%Y-%m-%dT%H:%M:%S.%fZ")
        stamp = stamp.replace(tzinfo=datetime.timezone.utc).timestamp()
        self.assertLess(abs(stamp - time.time()), 60)

        self.slave.set(0, 55)
        self.document(topic_of(0), lambda d: d["value"] == 55)
        bad = self.document(topic_of(REFUSED), lambda d: d["quality"] == "bad")
        self.assertNotEqual(bad["status"], "0x00000000")

        # A subscriber that comes later is told the latest of each at once.
        self.late = started(self, Subscriber(self.broker.port, PREFIX + "/#"))
        for topic, predicate in ((status, lambda p: p == b"online"),
                                 (topic_of(0), lambda p: json.loads(p)["value"] == 55),
                                 (topic_of(REFUSED), lambda p: json.loads(p)["quality"] == "bad")):
            with self.subTest(retained=topic):
                first = self.late.wait(lambda ms: [m for m in ms if m.topic == topic])
                self.assertTrue(first and first[0].retain, topic)
                self.assertTrue(predicate(first[0].payload), first[0].payload)

        cases = [
            ("acknowledged by the slave", 1, {"value": 77, "id": "w1"}, "0x00000000", True, 77),
            ("a plain value", 2, 88, "0x00000000", True, 88),
            ("exception 02 from the slave", REFUSED, {"value": 1, "id": 7}, "0x808B0000", False,
             None),
            ("a value that does not convert", 3, {"value": "not a number", "id": [1, "x"]},
             "0x80740000", False, 40),
        ]
        for _, address, request, _, _, _ in cases:
            self.subscriber.client.publish(topic_of(address) + "/set", json.dumps(request), qos=1)
        for what, address, request, code, good, register in cases:
            with self.subTest(what):
                result = self.document(topic_of(address) + "/set/result", lambda d: True)
                self.assertEqual((result["status"], result["good"]), (code, good))
                if isinstance(request, dict):
                    self.assertEqual(result["id"], request["id"])
                if register is not None:
                    self.assertEqual(self.slave.get(address), [register])

        self.gateway.stop()
        self.assertTrue(self.latest(self.subscriber, status, lambda p: p == b"offline"),
                        "no offline status on an orderly stop")
        # Nothing but the status, the configured tags and the answers: a stray
        # retained topic would stay at the broker for good.
        expected = {status} | {topic_of(a) + end for a in (0, 1, 2, 3, REFUSED)
                               for end in ("", "/set", "/set/result")}
        self.assertEqual(set(self.topics()) - expected, set())


if __name__ == "__main__":
    PROGRAM = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
