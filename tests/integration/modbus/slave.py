"""A pymodbus slave for the library's tests.

Serves coils, discrete inputs, holding and input registers on Modbus/TCP or
on a serial device (RTU or ASCII framing), or with RTU or ASCII framing on
TCP or UDP as a serial device server passes it, or Modbus/TCP framing on
UDP ("rtu-tcp", "ascii-udp", "tcp-udp" ...). Prints "ready <port>" once it
serves; then answers lines on stdin:
  get <co|di|hr|ir> <address> <count>   -> "values v1 v2 ..."
  set <co|di|hr|ir> <address> v1 v2 ... -> "ok"
Addresses are wire addresses (counted from 0).
"""
import argparse
import asyncio
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.server.async_io import ModbusSerialServer, ModbusTcpServer, ModbusUdpServer

TABLES = {"co": 1, "di": 2, "hr": 3, "ir": 4}
FRAMERS = {"tcp": ModbusSocketFramer, "rtu": ModbusRtuFramer, "ascii": ModbusAsciiFramer}
MODES = ["tcp", "rtu", "ascii", "rtu-tcp", "ascii-tcp", "tcp-udp", "rtu-udp", "ascii-udp"]


def make_context(units, size):
    slaves = {}
    for unit in units:
        slaves[unit] = ModbusSlaveContext(
            co=ModbusSequentialDataBlock(0, [i % 2 for i in range(size)]),
            di=ModbusSequentialDataBlock(0, [1 if i % 3 == 0 else 0 for i in range(size)]),
            hr=ModbusSequentialDataBlock(0, [i % 65536 for i in range(size)]),
            ir=ModbusSequentialDataBlock(0, [(1000 + i) % 65536 for i in range(size)]),
            zero_mode=True)
    return ModbusServerContext(slaves=slaves, single=False)


def command(context, unit, line):
    words = line.split()
    if len(words) < 3 or words[0] not in ("get", "set") or words[1] not in TABLES:
        return "error"
    store = context[unit]
    fx = TABLES[words[1]]
    address = int(words[2])
    if words[0] == "get":
        values = store.getValues(fx, address, int(words[3]))
        return "values " + " ".join(str(int(v)) for v in values)
    store.setValues(fx, address, [int(v) for v in words[3:]])
    return "ok"


async def serve(args):
    context = make_context(args.units, args.size)
    loop = asyncio.get_running_loop()
    framing, _, transport = args.mode.partition("-")
    if args.mode == "tcp" or transport == "tcp":
        server = ModbusTcpServer(context, framer=FRAMERS[framing],
                                 address=("127.0.0.1", args.tcp_port),
                                 ignore_missing_slaves=True, allow_reuse_address=True)
        task = asyncio.create_task(server.serve_forever())
        await server.serving
        port = server.server.sockets[0].getsockname()[1]
    elif transport == "udp":
        server = ModbusUdpServer(context, framer=FRAMERS[framing],
                                 address=("127.0.0.1", args.tcp_port), ignore_missing_slaves=True)
        task = asyncio.create_task(server.serve_forever())
        await server.serving
        port = server.protocol.get_extra_info("sockname")[1]
    else:
        framer = ModbusRtuFramer if args.mode == "rtu" else ModbusAsciiFramer
        server = ModbusSerialServer(context, framer=framer, port=args.device,
                                    baudrate=args.baud, ignore_missing_slaves=True)
        await server.start()
        task = None
        port = 0
    if args.no_commands:
        # A benchmark's peer: no commands, served until it is stopped.
        print(f"ready {port}", file=sys.stderr, flush=True)
        await asyncio.Event().wait()
    print(f"ready {port}", flush=True)

    reader = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)
    while True:
        line = await reader.readline()
        if not line:
            break
        print(command(context, args.units[0], line.decode()), flush=True)
    await server.shutdown()
    if task is not None:
        task.cancel()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mode", choices=MODES, required=True)
    parser.add_argument("--device", default="")
    parser.add_argument("--baud", type=int, default=19200)
    parser.add_argument("--tcp-port", type=int, default=0)
    parser.add_argument("--units", type=int, nargs="+", default=[1])
    parser.add_argument("--size", type=int, default=2000)
    parser.add_argument("--no-commands", action="store_true",
                        help="serve without reading stdin; the ready line goes to stderr")
    args = parser.parse_args()
    logging.basicConfig(level=logging.CRITICAL)
    asyncio.run(serve(args))


if __name__ == "__main__":
    main()
