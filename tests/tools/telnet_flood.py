#!/usr/bin/env python3
"""A hostile RFC 2217 serial device server: it listens where the port map's rfc2217:// address
points, and sends every connection, as fast as the program takes it, a stream of telnet option
negotiation, reading nothing back. Each accepted connection gets a thread of its own; a dropped
one is simply let go.
   telnet_flood.py PORT [KIND]    (listens on 127.0.0.1:PORT; KIND as below, mixed by default)
Kinds:
  options  every option asked both ways (DO and WILL), and COM-PORT-OPTION turned on and off
  mixed    the same, with 64 bytes of data that hold no frame after each option (as first seen)
  subneg   COM-PORT-OPTION subnegotiations: the server's answer to SET-BAUDRATE, again and again
It prints the bytes sent each connection when that connection ends, and its own pid first."""
import os
import socket
import sys
import threading

IAC, DONT, DO, WONT, WILL, SB, SE = 255, 254, 253, 252, 251, 250, 240
COM_PORT = 44


def block(kind):
    out = bytearray()
    if kind == "subneg":
        for _ in range(256):
            out += bytes([IAC, SB, COM_PORT, 101, 0, 0, 0x25, 0x80, IAC, SE])
        return bytes(out)
    for option in range(256):
        out += bytes([IAC, DO, option, IAC, WILL, option, IAC, DO, COM_PORT, IAC, DONT, COM_PORT])
        if kind == "mixed":
            out += b"\x55" * 64
    return bytes(out)


def flood(client, data):
    sent = 0
    try:
        while True:
            client.sendall(data)
            sent += len(data)
    except OSError:
        pass
    finally:
        client.close()
        print(f"connection ended after {sent} bytes", flush=True)


def main():
    port = int(sys.argv[1])
    kind = sys.argv[2] if len(sys.argv) > 2 else "mixed"
    if kind not in ("options", "mixed", "subneg"):
        sys.exit(f"unknown kind {kind}")
    data = block(kind) * 16
    server = socket.create_server(("127.0.0.1", port), reuse_port=False)
    print(f"pid {os.getpid()} flooding 127.0.0.1:{port} with {kind}", flush=True)
    while True:
        client, _ = server.accept()
        threading.Thread(target=flood, args=(client, data), daemon=True).start()


if __name__ == "__main__":
    main()
