"""Two other masters on a shared line's Modbus/TCP port: a pymodbus client
and mbpoll (started once per poll), each reading its own range of holding
registers, whose values the slave keeps equal to their addresses, so that
an answer meant for someone else shows. Prints one line when done:
  done <pymodbus good> <pymodbus mixed> <mbpoll good> <mbpoll mixed>
"""
import argparse
import logging
import subprocess
import threading

from pymodbus.client import ModbusTcpClient

COUNT = 10


def poll_pymodbus(port, base, reads, result):
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=5)
    client.connect()
    good = mixed = 0
    for _ in range(reads):
        answer = client.read_holding_registers(base, COUNT, slave=1)
        if not answer.isError() and answer.registers == list(range(base, base + COUNT)):
            good += 1
        else:
            mixed += 1
    client.close()
    result.extend([good, mixed])


def poll_mbpoll(port, base, stop, result):
    good = mixed = 0
    expected = [str(v) for v in range(base, base + COUNT)]
    while not stop.is_set():
        out = subprocess.run(["mbpoll", "-m", "tcp", "-p", str(port), "-a", "1", "-0",
                              "-r", str(base), "-c", str(COUNT), "-t", "4", "-1", "127.0.0.1"],
                             capture_output=True, text=True, timeout=30).stdout
        values = [line.split()[-1] for line in out.splitlines() if line.startswith("[")]
        if values == expected:
            good += 1
        else:
            mixed += 1
    result.extend([good, mixed])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--reads", type=int, default=2000)
    args = parser.parse_args()
    logging.basicConfig(level=logging.CRITICAL)
    stop = threading.Event()
    mbpoll = []
    thread = threading.Thread(target=poll_mbpoll, args=(args.port, 100, stop, mbpoll))
    thread.start()
    pymodbus = []
    poll_pymodbus(args.port, 200, args.reads, pymodbus)
    stop.set()
    thread.join()
    print("done", *pymodbus, *mbpoll, flush=True)


if __name__ == "__main__":
    main()
