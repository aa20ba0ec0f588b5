"""The attacker's side on the service's machine: the windows' socket, a serial port on the
network, the service's CPU and the journal's file (attack.py's commands, imported by it)."""
import hashlib
import json
import os
import select
import socket
import sqlite3
import sys
import threading
import time

# A flood ends early once this file is there: the case watching the journal grow has seen enough.
STOP = "/var/tmp/attack.stop"


def say(*words):
    print(*words, flush=True)


def going(until):
    return time.monotonic() < until and not os.path.exists(STOP)


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
    say(f"holding {len(held)} of {a.count} windows")
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


def cmd_conditions(a):
    """As an operator's window: log in, then acknowledge and shelve the first standing fault the
    service's state lists."""
    s, reader, message = attach(a.socket)
    conditions = message.get("state", {}).get("conditions", [])
    deadline = time.monotonic() + 10
    # The lamp may come with the next poll: the changes until a fault stands.
    while not [c for c in conditions if c["kind"] == "fault"] and time.monotonic() < deadline:
        message = json.loads(reader.readline() or b"{}")
        conditions = message.get("state", {}).get("conditions", conditions)
    faults = [c for c in conditions if c["kind"] == "fault"]
    if not faults:
        say(f"no fault among the conditions: {conditions}")
        sys.exit(1)
    fault = faults[0]["id"]
    action(s, 1, "log-in", operator=a.name, pin=a.pin)
    logged_in = result(reader, 1)
    action(s, 2, "acknowledge", condition=fault, text="seen at the site")
    acknowledged = result(reader, 2)
    action(s, 3, "shelve", condition=fault, text="site works",
           until=int(time.time() * 1000) + 10 * 60 * 1000)
    shelved = result(reader, 3)
    say(f"{fault}: {logged_in}; acknowledge {acknowledged}; shelve {shelved}")
    sys.exit(0 if acknowledged == shelved == "done" else 1)


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
