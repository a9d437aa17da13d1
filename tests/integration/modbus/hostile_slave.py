"""A Modbus slave that frames every byte itself and misbehaves on command, so
that the library is held to the wire rather than to a peer's politeness.

Serves one register map on Modbus/TCP, or RTU or ASCII on a serial device or
on TCP (as a serial device server passes the bytes: "rtu-tcp", "ascii-tcp"), as
a standard slave or a Daniels/ENRON one (registers 5001-5999 and 7001-7999
hold 32 bits each). Prints "ready <port>" once it serves; then answers lines
on stdin (addresses as on the wire):
  get <address> <count>       -> "values v1 v2 ..."
  set <address> v1 v2 ...     -> "ok"
  behave <name> [args]        -> "ok"; the next answer then is
    late <ms>                    sent that much later
    noise <hex bytes>            preceded by these bytes
    wrong-value | wrong-address | wrong-quantity   a write echo that lies
    bad-crc                      sent with a spoiled CRC or LRC
    cut <n>                      only its first n bytes, then the connection is closed
  habit <name> [args]         -> "ok"; every answer from then on is
    duplicate <ms>               sent again that much later (deaf meanwhile)
    junk <hex bytes>             followed by these bytes
    silent                       never sent: the device is away (habit none: back)
Unwritten registers hold their own address (both halves of a 32-bit one);
coils alternate 0, 1.
"""
import argparse
import os
import select
import socket
import struct
import sys
import time
import tty

WIDE_RANGES = (range(5001, 6000), range(7001, 8000))


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


class Slave:
    def __init__(self, enron):
        self.enron = enron
        self.registers = {}
        self.coils = {}
        self.behaviour = []
        self.habit = []

    def width(self, address):
        return 4 if self.enron and any(address in r for r in WIDE_RANGES) else 2

    def register(self, address):
        width = self.width(address)
        default = address << 16 | address if width == 4 else address
        return self.registers.get(address, default) & ((1 << 8 * width) - 1)

    def command(self, line):
        words = line.split()
        if len(words) >= 2 and words[0] == "behave":
            self.behaviour = words[1:]
            return "ok"
        if len(words) >= 2 and words[0] == "habit":
            self.habit = words[1:]
            return "ok"
        if len(words) == 3 and words[0] == "get":
            first, count = int(words[1]), int(words[2])
            return "values " + " ".join(str(self.register(first + i)) for i in range(count))
        if len(words) >= 3 and words[0] == "set":
            for i, value in enumerate(words[2:]):
                self.registers[int(words[1]) + i] = int(value, 0)
            return "ok"
        return "error"

    def answer(self, pdu, misbehaviour):
        try:
            return self.serve(pdu, misbehaviour)
        except (struct.error, IndexError, ValueError):
            return bytes([pdu[0] | 0x80, 3])

    def serve(self, pdu, misbehaviour):
        fn = pdu[0]
        if fn in (1, 2, 3, 4):
            address, count = struct.unpack_from(">HH", pdu, 1)
            data = self.read_bits(address, count) if fn <= 2 else self.read_registers(address, count)
            return bytes([fn, len(data)]) + data
        if fn in (5, 6):
            address, value = struct.unpack_from(">HH", pdu, 1)
            if fn == 5:
                self.coils[address] = int(value == 0xFF00)
            else:
                self.registers[address] = value
            return self.echo(fn, address, value, misbehaviour)
        if fn in (15, 16):
            address, count, size = struct.unpack_from(">HHB", pdu, 1)
            data = pdu[6:]
            if len(data) != size:
                raise ValueError
            if fn == 15:
                for i in range(count):
                    self.coils[address + i] = data[i // 8] >> (i % 8) & 1
            else:
                self.write_registers(address, count, data)
            return self.echo(fn, address, count, misbehaviour)
        return bytes([fn | 0x80, 1])

    def read_bits(self, address, count):
        bits = [self.coils.get(address + i, (address + i) % 2) for i in range(count)]
        return bytes(sum(b << j for j, b in enumerate(bits[k:k + 8])) for k in range(0, count, 8))

    def read_registers(self, address, count):
        width = self.width(address)
        return b"".join(self.register(address + i).to_bytes(width, "big") for i in range(count))

    def write_registers(self, address, count, data):
        width = self.width(address)
        if len(data) != count * width:
            raise ValueError
        for i in range(count):
            self.registers[address + i] = int.from_bytes(data[i * width:(i + 1) * width], "big")

    @staticmethod
    def echo(fn, address, value, misbehaviour):
        if misbehaviour == "wrong-address":
            address = (address + 1) & 0xFFFF
        if (misbehaviour == "wrong-value" and fn in (5, 6)) or \
                (misbehaviour == "wrong-quantity" and fn in (15, 16)):
            value ^= 0xFF00 if fn == 5 else 1
        return struct.pack(">BHH", fn, address, value)


class SerialLink:
    """RTU or ASCII on a serial device; only requests to its own unit are served."""

    def __init__(self, device, ascii_framing, unit):
        self.fd = os.open(device, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(self.fd)
        self.ascii = ascii_framing
        self.unit = unit
        self.pending = bytearray()

    def fds(self):
        return [self.fd]

    def receive(self, _fd):
        self.pending += os.read(self.fd, 1024)
        requests = self.ascii_requests() if self.ascii else self.rtu_requests()
        return [(unit, pdu, None) for unit, pdu in requests if unit == self.unit]

    def rtu_requests(self):
        found = []
        while len(self.pending) >= 8:
            size = 9 + self.pending[6] if self.pending[1] in (15, 16) else 8
            if len(self.pending) < size:
                break
            frame = bytes(self.pending[:size])
            if crc16(frame) != 0:
                # A slave that lost the frame boundary waits for the next request.
                self.pending.clear()
                break
            del self.pending[:size]
            found.append((frame[0], frame[1:-2]))
        return found

    def ascii_requests(self):
        found = []
        while b"\n" in self.pending:
            end = self.pending.index(b"\n")
            line = bytes(self.pending[:end])
            del self.pending[:end + 1]
            try:
                adu = bytes.fromhex(line[line.rindex(b":") + 1:].strip().decode())
            except ValueError:
                continue
            if len(adu) >= 3 and sum(adu) & 0xFF == 0:
                found.append((adu[0], adu[1:-1]))
        return found

    def frame(self, unit, pdu, spoil, _context):
        adu = bytes([unit]) + pdu
        if self.ascii:
            lrc = (-sum(adu) + spoil) & 0xFF
            return b":" + (adu + bytes([lrc])).hex().upper().encode() + b"\r\n"
        return adu + (crc16(adu) ^ (0xFFFF if spoil else 0)).to_bytes(2, "little")

    def send(self, data, _context):
        while data:
            data = data[os.write(self.fd, data):]


class SerialStreamLink(SerialLink):
    """RTU or ASCII on TCP connections, as a serial device server passes them."""

    def __init__(self, port, ascii_framing, unit):  # pylint: disable=super-init-not-called
        self.server = socket.create_server(("127.0.0.1", port))
        self.port = self.server.getsockname()[1]
        self.ascii = ascii_framing
        self.unit = unit
        self.clients = {}
        self.pending = bytearray()

    def fds(self):
        return [self.server.fileno(), *self.clients]

    def receive(self, fd):
        if fd == self.server.fileno():
            sock, _ = self.server.accept()
            self.clients[sock.fileno()] = (sock, bytearray())
            return []
        sock, pending = self.clients[fd]
        data = sock.recv(4096)
        if not data:
            del self.clients[fd]
            sock.close()
            return []
        self.pending = pending
        self.pending += data
        requests = self.ascii_requests() if self.ascii else self.rtu_requests()
        return [(unit, pdu, sock) for unit, pdu in requests if unit == self.unit]

    def send(self, data, context):
        context.sendall(data)

    def cut(self, data, context):
        context.sendall(data)
        self.clients.pop(context.fileno(), None)
        context.close()


class TcpLink:
    """Modbus/TCP; every unit is served, each answer carries its request's transaction id."""

    def __init__(self, port):
        self.server = socket.create_server(("127.0.0.1", port))
        self.port = self.server.getsockname()[1]
        self.clients = {}

    def fds(self):
        return [self.server.fileno(), *self.clients]

    def receive(self, fd):
        if fd == self.server.fileno():
            sock, _ = self.server.accept()
            self.clients[sock.fileno()] = (sock, bytearray())
            return []
        sock, pending = self.clients[fd]
        data = sock.recv(4096)
        if not data:
            del self.clients[fd]
            sock.close()
            return []
        pending += data
        found = []
        while len(pending) >= 7:
            tid, _, length, unit = struct.unpack_from(">HHHB", pending)
            if len(pending) < 6 + length:
                break
            found.append((unit, bytes(pending[7:6 + length]), (sock, tid)))
            del pending[:6 + length]
        return found

    @staticmethod
    def frame(unit, pdu, _spoil, context):
        return struct.pack(">HHHB", context[1], 0, len(pdu) + 1, unit) + pdu

    @staticmethod
    def send(data, context):
        context[0].sendall(data)


def respond(link, slave, unit, pdu, context):
    behaviour, slave.behaviour = slave.behaviour, []
    name, args = (behaviour[0], behaviour[1:]) if behaviour else ("", [])
    data = link.frame(unit, slave.answer(pdu, name), name == "bad-crc", context)
    if name == "noise":
        data = bytes.fromhex("".join(args)) + data
    if name == "late":
        # A slow device: nothing else is read or answered meanwhile.
        time.sleep(int(args[0]) / 1000)
    if name == "cut":
        link.cut(data[:int(args[0])], context)
        return
    habit, habit_args = (slave.habit[0], slave.habit[1:]) if slave.habit else ("", [])
    if habit == "silent":
        return
    if habit == "junk":
        data += bytes.fromhex("".join(habit_args))
    try:
        link.send(data, context)
        if habit == "duplicate":
            time.sleep(int(habit_args[0]) / 1000)
            link.send(data, context)
    except OSError:
        pass


def serve(link, slave):
    commands = bytearray()
    while True:
        readable, _, _ = select.select([0, *link.fds()], [], [])
        for fd in readable:
            if fd != 0:
                for unit, pdu, context in link.receive(fd):
                    respond(link, slave, unit, pdu, context)
                continue
            data = os.read(0, 1024)
            if not data:
                return
            commands += data
            while b"\n" in commands:
                end = commands.index(b"\n")
                print(slave.command(commands[:end].decode()), flush=True)
                del commands[:end + 1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--transport", choices=["rtu", "ascii", "tcp", "rtu-tcp", "ascii-tcp"],
                        required=True)
    parser.add_argument("--dialect", choices=["standard", "enron"], default="standard")
    parser.add_argument("--device", default="")
    parser.add_argument("--tcp-port", type=int, default=0)
    parser.add_argument("--unit", type=int, default=1)
    args = parser.parse_args()
    if args.transport == "tcp":
        link = TcpLink(args.tcp_port)
        port = link.port
    elif args.transport.endswith("-tcp"):
        link = SerialStreamLink(args.tcp_port, args.transport.startswith("ascii"), args.unit)
        port = link.port
    else:
        link = SerialLink(args.device, args.transport == "ascii", args.unit)
        port = 0
    print(f"ready {port}", flush=True)
    serve(link, Slave(args.dialect == "enron"))


if __name__ == "__main__":
    main()
