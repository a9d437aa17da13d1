"""Writes the seed corpora: answers built by pymodbus's own framers.

Each seed is three bytes choosing the request (function index, count, slave)
and then the bytes received: the frame alone, and the frame after what a
line also carries (noise before an RTU answer, a broken-off ASCII frame, a
late Modbus/TCP answer of an earlier transaction). Run with /usr/bin/python3 from this folder.
"""
import os

from pymodbus.bit_read_message import ReadCoilsResponse, ReadDiscreteInputsResponse
from pymodbus.bit_write_message import WriteMultipleCoilsResponse, WriteSingleCoilResponse
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.pdu import ExceptionResponse
from pymodbus.register_read_message import (ReadHoldingRegistersResponse,
                                            ReadInputRegistersResponse)
from pymodbus.register_write_message import (WriteMultipleRegistersResponse,
                                             WriteSingleRegisterResponse)

FUNCTIONS = [1, 2, 3, 4, 5, 6, 15, 16]


def answers():
    yield 1, 10, ReadCoilsResponse([1, 0, 1, 1, 0, 0, 1, 1, 1, 0])
    yield 2, 3, ReadDiscreteInputsResponse([0, 1, 1])
    yield 3, 2, ReadHoldingRegistersResponse([0x1234, 0xABCD])
    yield 3, 125, ReadHoldingRegistersResponse(list(range(125)))
    yield 4, 1, ReadInputRegistersResponse([7])
    yield 5, 1, WriteSingleCoilResponse(172, True)
    yield 6, 1, WriteSingleRegisterResponse(1, 3)
    yield 15, 10, WriteMultipleCoilsResponse(19, 10)
    yield 16, 2, WriteMultipleRegistersResponse(1, 2)
    yield 3, 1, ExceptionResponse(3, 2)


def main():
    framers = {"rtu": ModbusRtuFramer(None), "ascii": ModbusAsciiFramer(None),
               "mbap": ModbusSocketFramer(None)}
    for kind, framer in framers.items():
        os.makedirs(f"corpus/{kind}", exist_ok=True)
        for n, (function, count, message) in enumerate(answers()):
            message.unit_id = 1
            message.transaction_id = 1
            packet = framer.buildPacket(message)
            prefix = bytes([FUNCTIONS.index(function), count - 1, 1])
            with open(f"corpus/{kind}/seed{n:02d}", "wb") as out:
                out.write(prefix + packet)
            with open(f"corpus/{kind}/noisy{n:02d}", "wb") as out:
                out.write(prefix + before(kind, framer, message) + packet)


def before(kind, framer, message):
    if kind == "rtu":
        return bytes([0x00, 0xFF, 0x01])
    if kind == "ascii":
        return b"\x00zz:0103" + framer.buildPacket(message)[1:9]
    late = ExceptionResponse(message.function_code, 4)
    late.unit_id = 1
    late.transaction_id = 0
    return framer.buildPacket(late)


if __name__ == "__main__":
    main()
