"""A Modbus/TCP slave for the shell's end-to-end tests.

Listens on 127.0.0.1 at a free port and prints "PORT <n>" once it accepts
connections. Point p (counted from 0 on the wire) holds:
  coils p:              1 when p % 3 == 0
  discrete inputs p:    1 when p % 2 == 1
  holding registers p:  100 + 7 * p
  input registers p:    1000 + 3 * p
Ends when its standard input closes or on SIGTERM.
"""
import logging
import os
import signal
import socket
import sys
import threading
import time

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer

SIZE = 256


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def context():
    slave = ModbusSlaveContext(
        co=ModbusSequentialDataBlock(0, [1 if p % 3 == 0 else 0 for p in range(SIZE)]),
        di=ModbusSequentialDataBlock(0, [1 if p % 2 == 1 else 0 for p in range(SIZE)]),
        hr=ModbusSequentialDataBlock(0, [100 + 7 * p for p in range(SIZE)]),
        ir=ModbusSequentialDataBlock(0, [1000 + 3 * p for p in range(SIZE)]),
        zero_mode=True)
    return ModbusServerContext(slaves=slave, single=True)


def wait_listening(port):
    for _ in range(200):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def main():
    logging.disable(logging.CRITICAL)
    port = int(sys.argv[1]) if len(sys.argv) > 1 else free_port()
    server = threading.Thread(
        target=StartTcpServer,
        kwargs={"context": context(), "address": ("127.0.0.1", port)},
        daemon=True)
    server.start()
    if not wait_listening(port):
        print("FAILED", flush=True)
        return 1
    print("PORT %d" % port, flush=True)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    sys.stdin.read()
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
