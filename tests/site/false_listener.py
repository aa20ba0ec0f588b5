#!/usr/bin/env python3
"""A listener put where the service's socket was, as a hostile user would: it answers every
window with the service's own snapshot (taken from the real socket beforehand) and heartbeats,
answers every action "done", and writes down every line a window sends.
   false_listener.py SOCKET SNAPSHOT_FILE CAPTURE_FILE"""
import json
import os
import selectors
import socket
import sys
import time

path, snapshot_file, capture_file = sys.argv[1:4]
with open(snapshot_file) as f:
    snapshot = f.readline()
seq = json.loads(snapshot)["seq"]
server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
server.bind(path)
os.chmod(path, 0o777)
server.listen(8)
server.setblocking(False)
selector = selectors.DefaultSelector()
selector.register(server, selectors.EVENT_READ)
clients = []
capture = open(capture_file, "a", buffering=1)
with open(capture_file + ".pid", "w") as f:
    f.write(str(os.getpid()))
next_beat = time.monotonic()
while True:
    for key, _ in selector.select(timeout=0.2):
        if key.fileobj is server:
            client, _ = server.accept()
            capture.write("attached\n")
            try:
                client.sendall(snapshot.encode())
            except OSError:
                continue
            selector.register(client, selectors.EVENT_READ)
            clients.append(client)
            continue
        try:
            data = key.fileobj.recv(4096)
        except OSError:
            data = b""
        if not data:
            selector.unregister(key.fileobj)
            clients.remove(key.fileobj)
            continue
        capture.write(data.decode(errors="replace"))
        for line in data.splitlines():
            try:
                action = json.loads(line)
                result = {"type": "result", "id": action.get("id", 0), "result": "done"}
                key.fileobj.sendall((json.dumps(result) + "\n").encode())
            except (ValueError, AttributeError, OSError):
                pass
    if time.monotonic() >= next_beat:
        next_beat += 1
        for client in list(clients):
            try:
                client.sendall((json.dumps({"type": "heartbeat", "seq": seq}) + "\n").encode())
            except OSError:
                pass
