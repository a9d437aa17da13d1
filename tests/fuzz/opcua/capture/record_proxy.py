#!/usr/bin/python3
"""Forwards one TCP port to another and records what each client sends.

    record_proxy.py <listen port> <server port> <output folder>

Every accepted connection's client-to-server bytes go to
<output folder>/conversation-<n>.bin. Used to record fuzzer seeds.
"""
import os
import socket
import sys
import threading


def pump(src, dst, record=None):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            if record is not None:
                record.write(data)
                record.flush()
            dst.sendall(data)
    except OSError:
        pass
    finally:
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def main():
    listen_port, server_port, folder = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    os.makedirs(folder, exist_ok=True)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", listen_port))
    listener.listen()
    print("listening", flush=True)
    n = 0
    while True:
        client, _ = listener.accept()
        n += 1
        server = socket.create_connection(("127.0.0.1", server_port))
        record = open(os.path.join(folder, f"conversation-{n}.bin"), "wb")
        threading.Thread(target=pump, args=(client, server, record), daemon=True).start()
        threading.Thread(target=pump, args=(server, client), daemon=True).start()


if __name__ == "__main__":
    main()
