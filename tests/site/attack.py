#!/usr/bin/env python3
"""The attacker of the installed-site test's attack cases: what a hostile visitor, operator or
network port does to the service, each printing what it saw as figures for the case to bound.
Standard library only (the booted root has python3 and nothing else).
   attack.py COMMAND [options]      (attack.py COMMAND --help)"""
import argparse
import json
import re
import resource
import socket
import statistics
import sys
import threading
import time

from attack_local import (SOCKET, going, say, cmd_attach, cmd_conditions, cmd_cpu,
                          cmd_flood_port, cmd_hold, cmd_keys, cmd_log_in, cmd_login_burst,
                          cmd_refusal_flood, cmd_rechain)

PANEL = ("127.0.0.1", 8080)


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
    (so that no back-off answers instead of the check): the medians, and how far apart the two
    are as the median of each round's difference, which a busy machine's slow moments, falling
    on one name or the other, do not move as they move one name's median."""
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
    rounds = [k - u for k, u in zip(took[a.known], took[a.unknown])]
    differ = abs(statistics.median(rounds)) / max(known, unknown) * 100
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
                     ("log-in-burst", cmd_login_burst), ("conditions", cmd_conditions)):
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
