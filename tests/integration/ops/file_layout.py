"""Configuration and scan files for the operations tests, written item by item
from the documented layout (docs/files.md), never by the program's writers."""
import struct

LOOPBACK = bytes([127, 0, 0, 1])
# 19200 baud, no parity, one stop bit, 8 bits, DTR enabled.
SERIAL_SETTINGS = struct.pack("<IBBBBIIIIBB2x", 19200, 0, 0, 8, 0, 0, 0, 0, 1, 0, 0)


def text(s):
    data = s.encode()
    return bytes([len(data)]) + data


def endpoint(name, port, timeout_ms, protocol=1, tcp=True):
    """An endpoint record: a Modbus/TCP server on loopback, or with tcp False
    the serial port COM <port>."""
    return (text(name) + struct.pack("<iiiii", 0, protocol, timeout_ms, port, int(tcp)) + LOOPBACK
            + SERIAL_SETTINGS)


def configuration(endpoints, scan_paths):
    return (struct.pack("<Hi", 3, len(endpoints)) + b"".join(endpoints)
            + struct.pack("<i", len(scan_paths)) + b"".join(text(p) for p in scan_paths))


def scan(name, address, length, poll_ms, port=502, data_type=0):
    """A "3.00" scan of holding registers of node 1; a two-register data type
    (4-7) takes one tag record for each pair."""
    count = length // 2 if 4 <= data_type <= 7 else length
    tags = b"".join(struct.pack("<iiff", 3, data_type, 0.0, 100.0) for _ in range(count))
    return (text("3.00") + text(name) + text(".")
            + struct.pack("<iBBHHii", port, 1, 3, address, length, poll_ms, count) + tags)


def scan4(name, address, length, poll_ms, tags, port=502):
    """A "4.00" scan of holding registers of node 1. Each tag is (data type,
    bit, string registers, scaled, raw low, raw high, engineering low,
    engineering high)."""
    records = b"".join(struct.pack("<iiffiiidddd", 3, t[0], 0.0, 100.0, *t[1:]) for t in tags)
    return (text("4.00") + text(name) + text(".")
            + struct.pack("<iBBHHii", port, 1, 3, address, length, poll_ms, len(tags)) + records)
