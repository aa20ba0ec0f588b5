#!/usr/bin/env python3
"""The attacker of the installed-site test's attack cases: what a hostile visitor, operator or
network port does to the service, each printing what it saw as figures for the case to bound.
Standard library only (the booted root has python3 and nothing else).
   attack.py COMMAND [options]      (attack.py COMMAND --help)"""
import argparse
import hashlib
import json
import os
import re
import resource
import select
import socket
import sqlite3
import statistics
import sys
import threading
import time

PANEL = ("127.0.0.1", 8080)


def say(*words):
    print(*words, flush=True)


# --- the web panel ------------------------------------------------------------------------------

def http(method, path, host="127.0.0.1:8080", body=b"", origin=None, source=None, timeout=5.0,
         upgrade=False):
    """One request on a connection of its own (from source, an address of the loopback):
    its status (0 when nothing came) and the seconds it took."""
    started = time.monotonic()
    head = [f"{method} {path} HTTP/1.1"]
    if host is not None:
        head.append(f"Host: {host}")
    if origin is not None:
        head.append(f"Origin: {origin}")
    if upgrade:
        head += ["Upgrade: websocket", "Connection: Upgrade", "Sec-WebSocket-Version: 13",
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ=="]
    else:
        head.append("Connection: close")
    if body:
        head += ["Content-Type: application/json", f"Content-Length: {len(body)}"]
    data = ("\r\n".join(head) + "\r\n\r\n").encode() + body
    status, reply = 0, b""
    try:
        with socket.create_connection(PANEL, timeout=timeout,
                                      source_address=(source, 0) if source else None) as s:
            s.sendall(data)
            while b"\r\n\r\n" not in reply:
                chunk = s.recv(65536)
                if not chunk:
                    break
                reply += chunk
            status = int(reply.split(b" ", 2)[1]) if reply.startswith(b"HTTP/1.1 ") else 0
            # The body by its length: the server may keep the connection whatever was asked.
            head_part, _, rest = reply.partition(b"\r\n\r\n")
            length = 0
            for line in head_part.split(b"\r\n")[1:]:
                key, _, value = line.partition(b":")
                if key.strip().lower() == b"content-length":
                    length = int(value)
            while not upgrade and len(rest) < length:
                chunk = s.recv(65536)
                if not chunk:
                    break
                rest += chunk
            reply = head_part + b"\r\n\r\n" + rest
    except (OSError, ValueError, IndexError):
        pass
    return status, time.monotonic() - started, reply.partition(b"\r\n\r\n")[2]


def login_body(name, pin):
    return json.dumps({"name": name, "pin": pin}).encode()


# A flood ends early once this file is there: the case watching the journal grow has seen enough.
STOP = "/var/tmp/attack.stop"


def going(until):
    return time.monotonic() < until and not os.path.exists(STOP)


def flood(seconds, threads, work):
    """work(index) called over and over by threads for seconds; the statuses counted."""
    counts, lock, until = {}, threading.Lock(), time.monotonic() + seconds

    def run(index):
        while going(until):
            status = work(index)
            with lock:
                counts[status] = counts.get(status, 0) + 1
    # A request the service holds past the end is left to its thread: the flood's end is the
    # flood's, whatever the service does with what it was sent.
    pool = [threading.Thread(target=run, args=(i,), daemon=True) for i in range(threads)]
    for t in pool:
        t.start()
    for t in pool:
        t.join(max(0.0, until + 1 - time.monotonic()))
    with lock:
        return dict(counts)


def cmd_request(a):
    status, took, body = http(a.method, a.path, host=None if a.host == "-" else a.host,
                              origin=a.origin, upgrade=a.websocket, body=a.body.encode())
    say(f"status {status} in {took * 1000:.1f} ms")
    if a.show:
        sys.stdout.write(body.decode(errors="replace") + "\n")


def cmd_web_login_flood(a):
    names = a.name or ["x" * a.name_chars]
    sources = [f"127.0.{a.net}.{i + 1}" for i in range(a.sources)]

    def work(i):
        name = names[i % len(names)]
        pin = a.pin[i % len(a.pin)] if a.pin else "0000"
        return http("POST", "/api/login", body=login_body(name, pin),
                    origin="http://127.0.0.1:8080", source=sources[i % len(sources)])[0]
    started = time.monotonic()
    counts = flood(a.seconds, a.threads, work)
    say(f"{sum(counts.values())} web log-ins in {time.monotonic() - started:.0f} s, statuses "
        f"{dict(sorted(counts.items()))}")
    # A flood that was never answered attacked nothing.
    sys.exit(0 if sum(n for status, n in counts.items() if status) else 1)


def cmd_login_timing(a):
    """Wrong PINs for a known and an unknown name, alternating, each from an address of its own
    (so that no back-off answers instead of the check): the medians and how far apart."""
    took = {a.known: [], a.unknown: []}
    for i in range(a.rounds):
        for name in (a.known, a.unknown):
            source = f"127.0.{a.net}.{len(took[a.known]) + len(took[a.unknown]) + 1}"
            status, seconds, _ = http("POST", "/api/login", body=login_body(name, "0000"),
                                      origin="http://127.0.0.1:8080", source=source)
            if status == 403:
                took[name].append(seconds)
            time.sleep(0.05)
    if not took[a.known] or not took[a.unknown]:
        say(f"no refusal to time: {took}")
        sys.exit(1)
    known, unknown = statistics.median(took[a.known]), statistics.median(took[a.unknown])
    differ = abs(known - unknown) / max(known, unknown) * 100
    say(f"refused log-in: known name {known * 1000:.1f} ms, unknown {unknown * 1000:.1f} ms "
        f"(medians of {len(took[a.known])} and {len(took[a.unknown])}): {differ:.0f} % apart")
    sys.exit(0 if differ <= a.within else 1)


def cmd_slow_body(a):
    """One address holds connections sending one byte at a time (opened again as they are
    closed); meanwhile a visitor from another address asks for the state every second."""
    stop = threading.Event()
    held = []

    def attacker():
        body = login_body("x", "0000")
        head = (f"POST /api/login HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nOrigin: "
                f"http://127.0.0.1:8080\r\nContent-Length: {len(body) + 100000}\r\n\r\n").encode()
        conns = []
        while not stop.is_set():
            while len(conns) < a.connections:
                try:
                    s = socket.create_connection(PANEL, timeout=2,
                                                 source_address=(a.attacker, 0))
                    s.setblocking(False)
                    conns.append([s, 0, head])
                except OSError:
                    break
            held.append(len(conns))
            for c in list(conns):
                try:
                    c[0].send(c[2][:1] if c[2] else b"x")
                    c[2] = c[2][1:]
                except OSError:
                    c[0].close()
                    conns.remove(c)
            stop.wait(a.interval)
        for c in conns:
            c[0].close()
    t = threading.Thread(target=attacker)
    t.start()
    time.sleep(1)
    results = []
    until = time.monotonic() + a.seconds
    while time.monotonic() < until:
        status, took, _ = http("GET", "/api/state", source=a.visitor, timeout=a.bound + 1)
        results.append((status, took))
        time.sleep(1)
    stop.set()
    t.join()
    served = [took for status, took in results if status == 200 and took <= a.bound]
    say(f"slow body: the attacker trickled on up to {max(held, default=0)} connections; the "
        f"visitor served {len(served)} of {len(results)} times within {a.bound:g} s "
        f"(statuses {[s for s, _ in results]}, slowest {max(t for _, t in results):.2f} s)")
    sys.exit(0 if results and len(served) == len(results) else 1)


def cmd_burst(a):
    """A burst of connections from many addresses that send nothing; then a visitor."""
    resource.setrlimit(resource.RLIMIT_NOFILE, (a.connections + 256, a.connections + 256))
    conns = []
    for i in range(a.connections):
        s = socket.socket()
        s.setblocking(False)
        s.bind((f"127.0.{a.net + i // 250}.{i % 250 + 1}", 0))
        try:
            s.connect(PANEL)
        except BlockingIOError:
            pass
        conns.append(s)
    time.sleep(a.settle)
    status, took, body = http("GET", "/api/state", source=a.visitor, timeout=5)
    for s in conns:
        s.close()
    say(f"{a.connections} connections open: a new visitor got {status} in {took:.2f} s")
    if a.state_to:
        with open(a.state_to, "wb") as f:
            f.write(body)
    sys.exit(0 if status == 200 and took <= a.bound else 1)


def cmd_events_words(a):
    """The events an anonymous visitor's state carries that hold any of the words."""
    status, _, body = http("GET", "/api/state")
    events = json.loads(body).get("events", []) if status == 200 else None
    if events is None:
        say(f"no state: {status}")
        sys.exit(2)
    text = [json.dumps(e) for e in events]
    words = re.compile(r"\b(" + "|".join(re.escape(w) for w in a.words) + r")\b", re.I)
    found = [t for t in text if words.search(t)]
    say(f"{len(events)} events for an anonymous visitor, {len(found)} naming "
        f"{', '.join(a.words)}")
    for t in found[:5]:
        say("   " + t[:300])
    sys.exit(1 if found else 0)


# --- the windows' socket ------------------------------------------------------------------------

SOCKET = "/run/orvandel/panel.sock"


def attach(path=SOCKET):
    """A window's connection and the first line the service said (a snapshot or a refusal)."""
    s = socket.socket(socket.AF_UNIX)
    s.connect(path)
    s.settimeout(5)
    reader = s.makefile("rb")
    return s, reader, json.loads(reader.readline() or b"{}")


def action(s, ident, kind, **fields):
    s.sendall((json.dumps({"type": "action", "id": ident, "action": kind, **fields}) +
               "\n").encode())


def result(reader, ident):
    while True:
        line = reader.readline()
        if not line:
            return None
        message = json.loads(line)
        if message.get("type") == "result" and message.get("id") == ident:
            return message["result"]


def cmd_attach(a):
    s, _, first = attach(a.socket)
    say(f"first message: {first.get('type')} {first.get('reason', '')}".rstrip())
    s.close()
    sys.exit(0 if first.get("type") == "snapshot" else 1)


def cmd_hold(a):
    held = []
    for _ in range(a.count):
        try:
            s, _, first = attach(a.socket)
        except OSError:
            continue
        if first.get("type") == "snapshot":
            held.append(s)
        else:
            s.close()
    say(f"holding {len(held)} of {a.count} windows", )
    deadline = time.monotonic() + a.seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select(held, [], [], 0.5)
        for s in ready:
            s.recv(65536)


def cmd_log_in(a):
    started = time.monotonic()
    try:
        s, reader, _ = attach(a.socket)
        action(s, 1, "log-in", operator=a.name, pin=a.pin)
        answer = result(reader, 1)
    except OSError as e:
        answer = f"no answer ({e})"
    say(f"log-in of {a.name}: {answer!r} after {time.monotonic() - started:.2f} s")
    sys.exit(0 if answer and answer.startswith("logged in") else 1)


def stream_actions(s, reader, count, make, seconds):
    """Sends count actions (or as many as fit in seconds when count is 0) as fast as the socket
    takes them, reading every answer beside: how many went and how many were answered."""
    answered = [0]

    def read():
        for line in reader:
            if b'"result"' in line:
                answered[0] += 1
    t = threading.Thread(target=read, daemon=True)
    t.start()
    sent, until = 0, time.monotonic() + seconds
    s.settimeout(None)
    try:
        while (count == 0 or sent < count) and going(until):
            batch = "".join(make(sent + i) for i in range(200))
            s.sendall(batch.encode())
            sent += 200
    except OSError:
        pass
    time.sleep(0.5)
    return sent, answered[0]


def cmd_refusal_flood(a):
    """Level 1 (no log-in): keys that the gate refuses, as fast as the service reads them."""
    total_sent, total_answered, started = 0, 0, time.monotonic()
    until = started + a.seconds
    while going(until):
        s, reader, _ = attach(a.socket)
        line = '{"type":"action","id":%d,"action":"key","key":5}\n'
        sent, answered = stream_actions(s, reader, 0, lambda i: line % i,
                                        until - time.monotonic())
        total_sent += sent
        total_answered += answered
        s.close()
    say(f"{total_sent} refused actions sent in {time.monotonic() - started:.0f} s, "
        f"{total_answered} answered")
    sys.exit(0 if total_answered else 1)


def cmd_login_burst(a):
    """An operator's window sends count log-ins with the right PIN at once (one write)."""
    s, reader, _ = attach(a.socket)
    started = time.monotonic()
    s.sendall("".join(json.dumps({"type": "action", "id": i + 1, "action": "log-in",
                                  "operator": a.name, "pin": a.pin}) + "\n"
                      for i in range(a.count)).encode())
    answered, s_timeout = 0, time.monotonic() + a.seconds
    s.settimeout(a.seconds)
    try:
        while answered < a.count and time.monotonic() < s_timeout:
            line = reader.readline()
            if not line:
                break
            answered += b'"result"' in line
    except OSError:
        pass
    say(f"{a.count} log-ins of {a.name} sent at once, {answered} answered in "
        f"{time.monotonic() - started:.1f} s")


def cmd_keys(a):
    s, reader, _ = attach(a.socket)
    action(s, 1, "log-in", operator=a.name, pin=a.pin)
    answer = result(reader, 1)
    if not answer or not answer.startswith("logged in"):
        say(f"log-in of {a.name}: {answer!r}")
        sys.exit(1)
    line = '{"type":"action","id":%d,"action":"key","key":%d}\n'
    started = time.monotonic()
    sent, answered = stream_actions(s, reader, a.count, lambda i: line % (i + 2, a.key), 30)
    say(f"{sent} keys sent in {time.monotonic() - started:.1f} s by {a.name}, {answered} answered")
    if a.hold:
        time.sleep(a.hold)
    sys.exit(0 if sent >= a.count and answered else 1)


# --- a serial port on the network ---------------------------------------------------------------

def cmd_flood_port(a):
    """A telnet (RFC 2217) server that answers nothing the controller would: option
    negotiations, subnegotiations and bytes that are no frames, as fast as it can send."""
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", a.port))
    server.listen(4)
    with open(a.pid_file, "w") as f:
        f.write(str(os.getpid()))
    iac, sb, se = 255, 250, 240
    noise = bytearray()
    for option in range(256):
        noise += bytes([iac, 251 + option % 4, option])            # WILL / WONT / DO / DONT
        noise += bytes([iac, sb, 44, option % 12]) + bytes(40) + bytes([iac, se])
        noise += bytes((option * 7 + k) % 255 for k in range(32))  # no frame
    noise = bytes(noise)
    while True:
        conn, _ = server.accept()
        try:
            conn.setblocking(False)
            while True:
                try:
                    conn.recv(65536)
                except BlockingIOError:
                    pass
                _, ready, _ = select.select([], [conn], [], 1)
                if ready and not conn.send(noise):
                    break
        except OSError:
            pass
        conn.close()


def cmd_cpu(a):
    """The CPU a process takes over seconds, as a share of one core (from /proc/PID/stat)."""
    def ticks():
        with open(f"/proc/{a.pid}/stat") as f:
            fields = f.read().rpartition(")")[2].split()
        return int(fields[11]) + int(fields[12])  # utime, stime
    hz = os.sysconf("SC_CLK_TCK")
    before = ticks()
    time.sleep(a.seconds)
    used = (ticks() - before) / hz
    say(f"the service used {used:.2f} s of CPU in {a.seconds} s: {used / a.seconds * 100:.1f} % "
        "of a core")
    sys.exit(0 if used / a.seconds * 100 < a.below else 1)


# --- the journal's file -------------------------------------------------------------------------

def chain(previous, row):
    seq, utc_ms, offset, kind, text, raw_hex, login, host, detail = row

    def field(value):
        data = value if isinstance(value, bytes) else (value or "").encode()
        return len(data).to_bytes(4, "big") + data
    h = hashlib.sha256(field(previous))
    h.update(seq.to_bytes(8, "big") + (utc_ms % 2**64).to_bytes(8, "big"))
    h.update((offset % 2**32).to_bytes(4, "big"))
    for value in (kind, text, raw_hex, login, host):
        h.update(field(value))
    if detail:
        h.update(field(detail))
    return h.digest()


def cmd_rechain(a):
    """Rewrites a record's text and computes the chain again from it to the end, in one
    transaction, as someone who can write the file would cover an edit."""
    db = sqlite3.connect(a.db, timeout=10, isolation_level=None)
    db.execute("BEGIN IMMEDIATE")
    rows = db.execute("SELECT seq, utc_ms, utc_offset_s, kind, text, raw_hex, login, host, "
                      "detail FROM journal ORDER BY seq").fetchall()
    previous, count = bytes(32), 0
    for i, row in enumerate(rows):
        if i == 0:
            first = db.execute("SELECT chain FROM journal WHERE seq = ?", (row[0],)).fetchone()[0]
            if chain(previous, row) != first:
                say("the first record's chain is not as computed here: nothing changed")
                sys.exit(1)
        if row[0] == a.seq:
            row = row[:4] + (a.text,) + row[5:]
            db.execute("UPDATE journal SET text = ? WHERE seq = ?", (a.text, a.seq))
        value = chain(previous, row)
        if row[0] >= a.seq:
            db.execute("UPDATE journal SET chain = ? WHERE seq = ?", (value, row[0]))
            count += 1
        previous = value
    db.execute("COMMIT")
    say(f"record {a.seq} rewritten, the chain of {count} records computed again")
    while not os.path.exists(STOP):
        time.sleep(0.2)
    db.close()


def main():
    p = argparse.ArgumentParser(description=__doc__)
    sub = p.add_subparsers(dest="command", required=True)

    def command(command_name, fn, **options):
        c = sub.add_parser(command_name)
        c.set_defaults(fn=fn)
        for option, kw in options.items():
            c.add_argument("--" + option.replace("_", "-"), **kw)
        return c
    command("request", cmd_request, method=dict(default="GET"), path=dict(default="/api/state"),
            host=dict(default="127.0.0.1:8080"), origin=dict(), body=dict(default=""),
            websocket=dict(action="store_true"), show=dict(action="store_true"))
    command("web-login-flood", cmd_web_login_flood, seconds=dict(type=float, default=30),
            threads=dict(type=int, default=8), sources=dict(type=int, default=1),
            net=dict(type=int, default=2), name_chars=dict(type=int, default=60000),
            name=dict(action="append"), pin=dict(action="append"))
    command("login-timing", cmd_login_timing, known=dict(required=True),
            unknown=dict(required=True), rounds=dict(type=int, default=12),
            net=dict(type=int, default=30), within=dict(type=float, default=10))
    command("slow-body", cmd_slow_body, seconds=dict(type=float, default=12),
            connections=dict(type=int, default=64), interval=dict(type=float, default=1),
            attacker=dict(default="127.0.0.2"), visitor=dict(default="127.0.0.3"),
            bound=dict(type=float, default=2))
    command("burst", cmd_burst, connections=dict(type=int, default=1000),
            net=dict(type=int, default=40), visitor=dict(default="127.0.0.4"),
            settle=dict(type=float, default=1), bound=dict(type=float, default=1),
            state_to=dict())
    command("events-words", cmd_events_words, words=dict(nargs="+", required=True))
    for name, fn in (("attach", cmd_attach), ("hold", cmd_hold), ("log-in", cmd_log_in),
                     ("refusal-flood", cmd_refusal_flood), ("keys", cmd_keys),
                     ("log-in-burst", cmd_login_burst)):
        c = command(name, fn, socket=dict(default=SOCKET), count=dict(type=int, default=32),
                    seconds=dict(type=float, default=30), name=dict(), pin=dict(),
                    key=dict(type=int, default=4), hold=dict(type=float, default=0))
    command("flood-port", cmd_flood_port, port=dict(type=int, default=4001),
            pid_file=dict(default="/var/tmp/flood-port.pid"))
    command("cpu", cmd_cpu, pid=dict(type=int, required=True), seconds=dict(type=float, default=15),
            below=dict(type=float, default=10))
    command("rechain", cmd_rechain, db=dict(required=True), seq=dict(type=int, required=True),
            text=dict(default="nothing happened"))
    a = p.parse_args()
    a.fn(a)


if __name__ == "__main__":
    main()
