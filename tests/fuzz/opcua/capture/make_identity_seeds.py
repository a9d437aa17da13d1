#!/usr/bin/python3
"""Writes the identity token fuzzer's seeds: one extension object per kind of
token, the user name's password encrypted to the fixed test-only certificate
in ../pki together with the fuzzer's fixed server nonce, as clients do.
Usage: make_identity_seeds.py (needs the openssl command)."""
import os
import struct
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "corpus-identity-token")
CERT = os.path.join(HERE, "..", "pki", "own", "certs", "pelmoran.der")
NONCE = b"\x5a" * 32
OAEP_SHA1 = "http://www.w3.org/2001/04/xmlenc#rsa-oaep"


def string(b):
    if b is None:
        return struct.pack("<i", -1)
    if isinstance(b, str):
        b = b.encode()
    return struct.pack("<i", len(b)) + b


def extension_object(type_id, body):
    return bytes([1, 0]) + struct.pack("<H", type_id) + b"\x01" + struct.pack("<i", len(body)) + body


def encrypt(plain):
    with tempfile.TemporaryDirectory() as tmp:
        pub = os.path.join(tmp, "pub.pem")
        subprocess.run(["openssl", "x509", "-inform", "der", "-in", CERT, "-pubkey", "-noout", "-out", pub], check=True)
        return subprocess.run(
            ["openssl", "pkeyutl", "-encrypt", "-pubin", "-inkey", pub,
             "-pkeyopt", "rsa_padding_mode:oaep", "-pkeyopt", "rsa_oaep_md:sha1"],
            input=plain, capture_output=True, check=True).stdout


def main():
    os.makedirs(OUT, exist_ok=True)
    secret = b"s3cret"
    seeds = {
        "anonymous": extension_object(321, string("anonymous")),
        "null-token": bytes([0, 0, 0]),
        "username-plain": extension_object(324, string("username") + string("alice") + string(secret) + string(None)),
        "username-encrypted": extension_object(
            324, string("username") + string("alice")
            + string(encrypt(struct.pack("<I", len(secret) + len(NONCE)) + secret + NONCE)) + string(OAEP_SHA1)),
        "x509": extension_object(327, string("certificate") + string(open(CERT, "rb").read())),
    }
    for name, data in seeds.items():
        with open(os.path.join(OUT, name + ".bin"), "wb") as f:
            f.write(data)


main()
