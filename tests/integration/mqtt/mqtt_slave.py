"""A Modbus/TCP slave the MQTT tests steer and watch.

Serves holding and input registers 0 to SIZE-1 (wire addresses) on 127.0.0.1,
at a given port or a free one, and prints "PORT <n>" once it accepts
connections. A read or write beyond the table is answered with exception 02.
Then answers lines on stdin:
  set <address> v1 v2 ...  -> "ok"          (holding registers)
  get <address> <count>    -> "values v1 v2 ..."
  reads <address>          -> "reads <n>"   (reads served that covered address)
  count <address>          -> "ok"          (from now on the register holds its reads)
Reads and these commands run on one event loop, so a "reads" count that has
grown since a "set" proves that a read after the set was answered.
Ends when its standard input closes or on SIGTERM.
"""
import argparse
import asyncio
import collections
import logging
import os
import signal
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server.async_io import ModbusTcpServer

SIZE = 256


class CountedBlock(ModbusSequentialDataBlock):
    """Counts, for each address, the reads that covered it. A counting
    register changes at every read, so each poll of it is a change."""

    def __init__(self, values):
        super().__init__(0, values)
        self.reads = collections.Counter()
        self.counting = set()

    def getValues(self, address, count=1):
        for a in range(address, address + count):
            self.reads[a] += 1
            if a in self.counting:
                self.values[a] = self.reads[a] & 0xFFFF
        return super().getValues(address, count)


def command(block, line):
    words = line.split()
    if not words:
        return "error"
    if words[0] == "set":
        start = int(words[1])
        for k, v in enumerate(words[2:]):
            block.values[start + k] = int(v)
        return "ok"
    if words[0] == "get":
        start, count = int(words[1]), int(words[2])
        return "values " + " ".join(str(v) for v in block.values[start:start + count])
    if words[0] == "count":
        block.counting.add(int(words[1]))
        return "ok"
    if words[0] == "reads":
        return "reads %d" % block.reads[int(words[1])]
    return "error"


async def serve(port, initial):
    block = CountedBlock(initial)
    slave = ModbusSlaveContext(hr=block, ir=ModbusSequentialDataBlock(0, initial),
                               zero_mode=True)
    server = ModbusTcpServer(ModbusServerContext(slaves=slave, single=True),
                             address=("127.0.0.1", port), allow_reuse_address=True)
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    print("PORT %d" % server.server.sockets[0].getsockname()[1], flush=True)

    loop = asyncio.get_running_loop()
    reader = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)
    while True:
        line = await reader.readline()
        if not line:
            break
        print(command(block, line.decode()), flush=True)
    await server.shutdown()
    task.cancel()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    # Registers from address 0, as decimal words; the rest hold 0.
    parser.add_argument("--registers", default="")
    args = parser.parse_args()
    logging.disable(logging.CRITICAL)
    initial = [0] * SIZE
    for k, word in enumerate(w for w in args.registers.split(",") if w):
        initial[k] = int(word)
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    asyncio.run(serve(args.port, initial))


if __name__ == "__main__":
    main()
