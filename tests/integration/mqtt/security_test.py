"""Who may publish: mosquitto with a password file over MQTT 5, and mosquitto
behind TLS with an authority the test makes with openssl. Gateways that are
let in publish; the others are refused, say why in their log and publish
nothing.

Usage: security_test.py <pelmoran>
"""
import os
import re
import subprocess
import sys
import unittest

import paho.mqtt.client as paho

from mqtt_support import (Broker, Gateway, Slave, SparkplugNode, Subscriber, scan_file, started,
                          temporary_directory, write_configuration)

PROGRAM = None
# A line of the publisher's in the gateway's log (docs/shell.md), saying why.
# MQTT 5 refuses with a reason code of its own: 135, not authorized.
NOT_AUTHORIZED = r"MQTT:.*refused.*Not authorized"
UNTRUSTED = r"(?i)MQTT:.*(certificate|verif|tls|ssl|handshake)"


def openssl(directory, *args):
    subprocess.run(["openssl", *args], cwd=directory, check=True, capture_output=True)


def make_authority(directory, name):
    openssl(directory, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", name + ".key", "-out", name + ".crt", "-days", "2",
            "-subj", "/CN=pelmoran test " + name)
    return os.path.join(directory, name + ".crt")


def make_server_certificate(directory, authority):
    with open(os.path.join(directory, "san.ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl(directory, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
            "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost")
    openssl(directory, "x509", "-req", "-in", "server.csr", "-CA", authority + ".crt",
            "-CAkey", authority + ".key", "-CAcreateserial", "-out", "server.crt", "-days", "2",
            "-extfile", "san.ext")
    return os.path.join(directory, "server.crt"), os.path.join(directory, "server.key")


class SecurityTest(unittest.TestCase):
    def setUp(self):
        self.dir = temporary_directory(self, "pelmoran-security-")
        self.slave = started(self, Slave([42]))

    def gateway(self, node, **mqtt):
        directory = os.path.join(self.dir, node)
        os.mkdir(directory)
        write_configuration(directory, [("PLC1", self.slave.port)],
                            [scan_file("PLC1", 1, 1, 200, [(0, 0, 1)])],
                            dict({"Enabled": 1, "Port": self.broker.port, "EdgeNodeId": node},
                                 **mqtt))
        gateway = started(self, Gateway(PROGRAM, directory))
        gateway.start()
        return gateway

    def expect_published(self, gateway, node):
        births = SparkplugNode(self.subscriber, "pelmoran", node).wait_count("DBIRTH", 1, "PLC1")
        self.assertTrue(births, "%s published nothing: %s" % (node, gateway.text()[-2000:]))

    def expect_refused(self, gateway, node, reason):
        self.assertTrue(gateway.wait_log(reason), "%s said nothing: %s" % (node, gateway.text()))
        self.assertEqual(SparkplugNode(self.subscriber, "pelmoran", node).all(), [])

    def test_mqtt5_with_user_names_and_passwords(self):
        passwords = os.path.join(self.dir, "passwords")
        for user, password in (("gateway", "s3cret"), ("historian", "h1st")):
            subprocess.run(["mosquitto_passwd", "-b"] + (["-c"] if user == "gateway" else [])
                           + [passwords, user, password], check=True)
        self.broker = started(self, Broker(self.dir, "allow_anonymous false",
                                           "password_file " + passwords))
        self.subscriber = started(self, Subscriber(self.broker.port, "spBv1.0/#",
                                                   protocol=paho.MQTTv5, username="historian",
                                                   password="h1st"))
        cases = [("right", "s3cret", None), ("wrong", "guess", NOT_AUTHORIZED)]
        gateways = {node: self.gateway(node, Protocol=5, Username="gateway", Password=password)
                    for node, password, _ in cases}
        for node, _, reason in cases:
            with self.subTest(node):
                if reason is None:
                    self.expect_published(gateways[node], node)
                    # p5: the broker's own word that the session is MQTT 5.
                    self.assertRegex(self.broker.text(), r"as pelmoran-%s \(p5," % node)
                else:
                    self.expect_refused(gateways[node], node, reason)
                    # mosquitto names no client it refused: it saw one, at least.
                    self.assertIn("not authorised", self.broker.text())

    def test_tls_with_an_authority_of_its_own(self):
        authority = make_authority(self.dir, "ca")
        stranger = make_authority(self.dir, "stranger")
        certificate, key = make_server_certificate(self.dir, os.path.join(self.dir, "ca"))
        self.broker = started(self, Broker(self.dir, "cafile " + authority,
                                           "certfile " + certificate, "keyfile " + key))
        self.subscriber = started(self, Subscriber(self.broker.port, "spBv1.0/#",
                                                   tls_ca=authority))
        missing = os.path.join(self.dir, "no-such-ca.pem")
        cases = [("trusting", authority, None), ("stranger", stranger, UNTRUSTED),
                 ("unreadable", missing, "MQTT:.*" + re.escape(missing))]
        gateways = {node: self.gateway(node, Host="localhost", Tls=1, CaFile=ca)
                    for node, ca, _ in cases}
        for node, _, reason in cases:
            with self.subTest(node):
                if reason is None:
                    self.expect_published(gateways[node], node)
                else:
                    self.expect_refused(gateways[node], node, reason)
        # Told once in its log, not at every reconnect.
        told = re.findall(r"(?m)^.*certificate verify failed.*$", gateways["stranger"].text())
        self.assertEqual(len(told), 1, told)
        # And it goes on trying: once the broker shows a certificate from the
        # authority the gateway trusts, it gets through.
        self.broker.stop()
        mended = os.path.join(self.dir, "mended")
        os.mkdir(mended)
        certificate, key = make_server_certificate(mended, os.path.join(self.dir, "stranger"))
        self.broker = started(self, Broker(mended, "cafile " + stranger, "certfile " + certificate,
                                           "keyfile " + key, port=self.broker.port))
        self.subscriber = started(self, Subscriber(self.broker.port, "spBv1.0/#",
                                                   tls_ca=stranger))
        self.expect_published(gateways["stranger"], "stranger")


if __name__ == "__main__":
    PROGRAM = sys.argv[1]
    unittest.main(argv=sys.argv[:1] + sys.argv[2:], verbosity=2)
