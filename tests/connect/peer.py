"""A TCP peer for the connectivity tests, on loopback only.

peer.py server <host> <mode>   listens on host (127.0.0.1 or ::1) at a port
                               the system picks, prints the port, serves one
                               connection in the given mode:
    echo     print "got <hex>" for each chunk and answer b"R" + chunk
    silent   send nothing; end when the client closes
    close    close at once
    urgent   after the client's first byte send b"x" then urgent b"B"
    hold     read nothing; the test ends the peer
peer.py client <host> <port> <text>
                               connects, sends text, prints "reply <hex>"
                               of the first answer, closes.
"""
import socket
import sys
import time


def family(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def drain(c):
    """Reads and drops everything until the peer closes (at most 60 s)."""
    c.settimeout(60)
    try:
        while c.recv(65536):
            pass
    except OSError:
        pass


def server(host, mode):
    s = socket.socket(family(host), socket.SOCK_STREAM)
    s.bind((host, 0))
    s.listen(1)
    print(s.getsockname()[1], flush=True)
    c, _ = s.accept()
    s.close()
    if mode == "close":
        c.close()
        return
    if mode == "echo":
        while True:
            data = c.recv(65536)
            if not data:
                break
            print("got " + data.hex(), flush=True)
            c.sendall(b"R" + data)
    elif mode == "urgent":
        c.recv(1)
        c.send(b"x")
        c.send(b"B", socket.MSG_OOB)
        print("sent", flush=True)
        while c.recv(65536):
            pass
    elif mode == "hold":
        time.sleep(60)
    else:  # silent
        drain(c)
    print("end", flush=True)
    c.close()


def client(host, port, text):
    c = socket.create_connection((host, int(port)), timeout=30)
    c.sendall(text.encode())
    print("reply " + c.recv(65536).hex(), flush=True)
    c.close()




# ---------------------------------------------------------------------------
# The session layer and the connection request, written from their formats:
# 6-byte packet headers (length, type, flags, buffer size), the "sq" text-safe
# header, unframed "sqle" requests, the text and binary requests with their
# tagged trailer, and binary or older replies.
#
# peer.py build <json>         prints "text <request>" and "binary <hex>"
# peer.py parse <hex>          prints the fields of a request, one a line
# peer.py sl-server <host> <mode> [arg]
#                              serves session-layer connections (modes below)
# peer.py sl-client <host> <port> <form> [user]
#                              sends a request in the given form, prints the
#                              reply header or "closed"
import base64
import json
import select
import struct
import threading

ALT = b"._"
END = 127


def b64e(data):
    return base64.b64encode(data, altchars=ALT).rstrip(b"=")


def b64d(chars):
    if len(chars) % 4 == 1:
        chars = chars[:-1]
    return base64.b64decode(chars + b"=" * (-len(chars) % 4), altchars=ALT)


class W:
    def __init__(self):
        self.b = bytearray()

    def u16(self, v):
        self.b += struct.pack(">H", v & 0xFFFF)

    def u32(self, v):
        self.b += struct.pack(">I", v & 0xFFFFFFFF)

    def fixed(self, s, n):
        raw = (s or "").encode()[:n]
        self.b += raw + b"\0" * (n - len(raw))

    def text(self, s):
        if s is None:
            self.u16(0)
        else:
            raw = s.encode() + b"\0"
            self.u16(len(raw))
            self.b += raw


class R:
    def __init__(self, b):
        self.b = b
        self.at = 0

    def take(self, n):
        if self.at + n > len(self.b):
            raise ValueError("short")
        v = self.b[self.at:self.at + n]
        self.at += n
        return v

    def u16(self):
        return struct.unpack(">H", self.take(2))[0]

    def s16(self):
        return struct.unpack(">h", self.take(2))[0]

    def u32(self):
        return struct.unpack(">i", self.take(4))[0]

    def fixed(self, n):
        return self.take(n).split(b"\0")[0].decode()

    def text(self):
        n = self.u16()
        if n == 0 or n & 0x8000:
            return None
        return self.take(n)[:-1].split(b"\0")[0].decode()


START_TEXTS = ["server", "option_arg", "name", "mode_arg", "group_arg", "group_name"]


def options_of(desc):
    return [(n, v) for n, v in desc.get("options", []) if n != "ZIVEVODAREVEZO"]


def write_sections(w, desc):
    start = desc.get("start")
    if start is not None:
        w.u16(ord("h"))
        w.u16(start["kind"])
        w.u32(start["flags"])
        for t in START_TEXTS:
            w.text(start.get(t))
    opts = options_of(desc)
    if opts:
        w.u16(ord("j"))
        w.u16(len(opts))
        for n, v in opts:
            w.text(n)
            w.text(v)
    ident = desc.get("identity")
    if ident is not None:
        w.u16(ord("k"))
        w.u32(ident["first"])
        w.u32(ident["pid"])
        w.u32(ident["second"])
        for t in ("host", "computer", "cwd"):
            w.text(ident.get(t))
        w.u16(ord("n"))
        w.u16(4)
        w.u32(ident["umask"])
        prog = ident.get("program") or ""
        w.u16(ord("t"))
        w.u16(11 + len(prog.encode()))
        w.u32(ident["uid"])
        w.u32(ident["gid"])
        w.text(prog)
    w.u16(END)


def build_trailer(desc):
    w = W()
    info = desc["info"]
    start = desc.get("start") or {}
    w.u16(ord("m"))
    w.u32(0)
    w.fixed(info["server_type"], 8)
    w.u32(info["level"])
    w.fixed(info["protocol"], 8)
    w.u32(info["word"])
    for v in desc["values"]:
        w.u32(v)
    w.fixed(desc["program"][:11], 12)
    w.text(desc.get("name3"))
    w.u16(start.get("kind", 0))
    w.u32(start.get("flags", 0))
    w.text(start.get("server"))
    write_sections(w, desc)
    return bytes(w.b)


def build_text(desc):
    pw = "-p" + desc["password"] if desc.get("password") else ""
    s = "sqlexec %s %s %s %s %s -f%s" % (desc["user"], pw, desc["name1"], desc["name2"],
                                         desc["start_words"], "IEEEI")
    for n, v in options_of(desc):
        s += " %s=%s" % (n, v)
    return s + " :" + b64e(build_trailer(desc)).decode()


def build_binary(desc, prefix=100):
    w = W()
    info = desc["info"]
    w.u16(prefix)
    w.u16(ord("e"))
    w.u32(info["level"])
    w.text("IEEEI")
    w.u16(ord("l"))
    w.fixed(desc["program"][:11], 12)
    for t in ("name1", "name2", "name3"):
        w.text(desc.get(t))
    for v in desc["values"]:
        w.u32(v)
    w.u16(desc["cred_kind"])
    if desc["cred_kind"]:
        w.text(desc.get("user"))
        w.text(desc.get("password"))
    else:
        w.u32(0)
    w.fixed(info["server_type"], 8)
    w.u32(info["level"])
    w.fixed(info["protocol"], 8)
    w.u32(info["word"])
    answer = desc.get("answer")
    if answer is not None:  # a kind-2 credential answer, setting form
        w.u16(ord("f"))
        w.b += b"\0" * 6
        for v in answer:
            w.u16(v)
        w.u16(0)
    texts = desc.get("answer_texts")
    if texts is not None:  # a kind-2 credential answer, list form
        w.u16(ord("g"))
        w.u16(len(texts))
        for t in texts:
            w.text(t)
    write_sections(w, desc)
    return bytes(w.b)


def read_sections(r, out):
    while True:
        tag = r.u16()
        if tag == END:
            return
        c = chr(tag) if 32 < tag < 127 else str(tag)
        if c == "h":
            out.append("h.kind=%d" % r.s16())
            out.append("h.flags=%d" % r.u32())
            for t in START_TEXTS:
                out.append("h.%s=%s" % (t, r.text()))
        elif c == "j":
            for _ in range(r.u16()):
                n = r.text()
                out.append("j.%s=%s" % (n, r.text()))
        elif c == "k":
            out.append("k.first=%d" % r.u32())
            out.append("k.pid=%d" % r.u32())
            out.append("k.second=%d" % r.u32())
            for t in ("host", "computer", "cwd"):
                out.append("k.%s=%s" % (t, r.text()))
        elif c == "n":
            n = r.u16()
            out.append("n.umask=%d" % struct.unpack(">i", r.take(n)[:4])[0])
        elif c == "t":
            n = r.u16()
            body = R(r.take(n))
            out.append("t.uid=%d" % body.u32())
            out.append("t.gid=%d" % body.u32())
            out.append("t.program=%s" % (body.text() if n > 10 else None))
        elif c == "f":
            r.take(6)
            out.append("f.values=%d,%d,%d" % (r.s16(), r.s16(), r.s16()))
            for _ in range(r.u16()):
                r.u16()
                r.take(r.u16())
        else:
            out.append("skip.%s" % c)
            r.take(r.u16())


def parse_request(data):
    """The fields of a text (b"sqlexec ...") or binary (100, 'e') request."""
    out = []
    if data[:7] == b"sqlexec":
        words = data.split(b"\0")[0].decode().split()
        out.append("form=text")
        out.append("words=%s" % "|".join(words))
        trailer = [w for w in words[4:] if w.startswith(":")]
        if trailer:
            r = R(b64d(trailer[-1][1:].encode()))
            if r.u16() != ord("m"):
                raise ValueError("no m header")
            out.append("m.sl_value=%d" % r.u32())
            out.append("m.server_type=%s" % r.fixed(8))
            out.append("m.level=%d" % r.u32())
            out.append("m.protocol=%s" % r.fixed(8))
            out.append("m.word=%d" % r.u32())
            out.append("m.values=%d,%d,%d" % (r.u32(), r.u32(), r.u32()))
            out.append("m.program=%s" % r.fixed(12))
            out.append("m.name3=%s" % r.text())
            out.append("m.start_kind=%d" % r.s16())
            out.append("m.start_flags=%d" % r.u32())
            out.append("m.start_server=%s" % r.text())
            read_sections(r, out)
        return out
    r = R(data)
    out.append("form=binary")
    out.append("prefix=%d" % r.u16())
    if r.u16() != ord("e"):
        raise ValueError("no e record")
    out.append("e.level=%d" % r.u32())
    out.append("e.format=%s" % r.text())
    if r.u16() != ord("l"):
        raise ValueError("no l tag")
    out.append("e.program=%s" % r.fixed(12))
    for t in ("name1", "name2", "name3"):
        out.append("e.%s=%s" % (t, r.text()))
    out.append("e.values=%d,%d,%d" % (r.u32(), r.u32(), r.u32()))
    kind = r.s16()
    out.append("e.cred_kind=%d" % kind)
    if kind:
        out.append("e.user=%s" % r.text())
        out.append("e.password=%s" % r.text())
    else:
        r.take(4)
    out.append("e.server_type=%s" % r.fixed(8))
    out.append("e.info_level=%d" % r.u32())
    out.append("e.protocol=%s" % r.fixed(8))
    out.append("e.word=%d" % r.u32())
    read_sections(r, out)
    return out


def recv_exact(c, n):
    data = b""
    while len(data) < n:
        chunk = c.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def read_first(c):
    """Reads a connection request: (form, length, type, flags, last, data)."""
    data = c.recv(65536)
    if not data:
        raise EOFError
    while len(data) < 10:
        more = c.recv(65536)
        if not more:
            break
        data += more
    length = struct.unpack(">H", data[:2])[0]
    if length > 2056 or data[:2] == b"sq":
        if data[:4] == b"sqle":
            while not data.endswith(b"\0"):
                data += c.recv(65536)
            return ("sqle", len(data) + 6, 1, 0, 0, data)
        form, hdr, data = "sq", b64d(data[2:10]), data[10:]
    else:
        form, hdr, data = "binary", data[:6], data[6:]
    length, ptype, flags, last = struct.unpack(">HBBH", hdr)
    while len(data) < length - 6:
        data += recv_exact(c, length - 6 - len(data))
    return (form, length, ptype, flags, last, data)


def packet(ptype, flags, data, last=0):
    return struct.pack(">HBBH", len(data) + 6, ptype, flags, last) + data


def reply_body(level, answer=None, texts=None):
    desc = {"info": {"server_type": "srv", "level": level, "protocol": "soctcp", "word": 1},
            "program": "srvqorv", "values": [316, 0, 0], "cred_kind": 0,
            "name1": None, "name2": None, "name3": None}
    if answer is not None:
        desc["answer"] = answer
    if texts is not None:
        desc["answer_texts"] = texts
    return build_binary(desc)


def multi_serve_one(c, name, mode, arg):
    """One connection of a multi-server listener. Modes: silent (read the
    request, never answer), refuse (a type 3 refusal), answer (accept with
    a kind-2 answer, then answer data packets with "R" and the data),
    redirect (a type 13 reply whose list answer is arg), drop (close after
    the request)."""
    try:
        read_first(c)
    except (EOFError, OSError, ValueError):
        print("closed %s" % name, flush=True)
        return
    print("request %s %.1f" % (name, time.monotonic() - START), flush=True)
    if mode == "refuse":
        c.sendall(packet(3, 61, reply_body(61, [-329, -2, 0]), 4096))
    elif mode == "answer":
        c.sendall(packet(2, 61, reply_body(61, [0, 0, 0]), 4096))
    elif mode == "redirect":
        c.sendall(packet(13, 61, reply_body(61, None, [arg]), 4096))
    elif mode == "drop":
        c.close()
        return
    elif mode == "reset":
        c.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        c.close()
        return
    # Replies without the multiplexing bit: data travels without headers.
    c.settimeout(60)
    try:
        while True:
            data = c.recv(65536)
            if not data:
                break
            print("data %s %s" % (name, data.decode(errors="replace")), flush=True)
            if mode == "answer":
                c.sendall(b"R" + data)
    except OSError:
        pass
    print("end %s %.1f" % (name, time.monotonic() - START), flush=True)


START = time.monotonic()


def multi_server(host, listeners, delay=0.0):
    """Listens once per description "name:mode[:arg]"; prints the ports on one
    line; logs every connection of every listener in one stream. With a
    delay the ports are printed first and listened on only after it."""
    socks = []
    for listener in listeners:
        parts = listener.split(":", 2)
        s = socket.socket(family(host), socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((host, 0))
        socks.append((s, parts[0], parts[1], parts[2] if len(parts) > 2 else ""))
    ports = [s.getsockname()[1] for s, _, _, _ in socks]
    # The ports are told only once they take connections (the caller
    # connects as soon as it reads them).
    for s, _, _, _ in socks:
        if delay > 0:
            s.close()
        else:
            s.listen(8)
    print(" ".join(str(p) for p in ports), flush=True)
    if delay > 0:
        time.sleep(delay)
        again = []
        for (old, name, mode, arg), port in zip(socks, ports):
            s = socket.socket(family(host), socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind((host, port))
            s.listen(8)
            again.append((s, name, mode, arg))
        socks = again
        print("listening", flush=True)
    while True:
        ready, _, _ = select.select([s for s, _, _, _ in socks], [], [], 120)
        if not ready:
            return
        for s, name, mode, arg in socks:
            if s in ready:
                c, _ = s.accept()
                print("accept %s" % name, flush=True)
                threading.Thread(target=multi_serve_one, args=(c, name, mode, arg),
                                 daemon=True).start()


def report_request(form, length, ptype, flags, last, data):
    print("request form=%s length=%d type=%d flags=%d last=%d" % (form, length, ptype, flags, last),
          flush=True)
    # A text request's data is the line and its NUL, exactly.
    print("tail=%s nuls=%d" % (data[-1:].hex(), data.count(b"\0")), flush=True)
    try:
        for line in parse_request(data):
            print(line, flush=True)
    except (ValueError, UnicodeDecodeError) as e:
        print("unparsed %s" % e, flush=True)
    print("done", flush=True)


def serve_mux(c, mode):
    """Serves a multiplexed connection after its handshake: type 10 opens a
    slot (answered 11, or refused with the 22-byte type 12 in mode
    mux-refuse); type 6 data "to:N:text" goes to slot N, other data is
    echoed with "R" in front."""
    while True:
        try:
            hdr = recv_exact(c, 6)
        except (EOFError, OSError):
            print("end", flush=True)
            return
        length, ptype, flags, last = struct.unpack(">HBBH", hdr)
        data = recv_exact(c, length - 6)
        if ptype == 10:
            print("open slot %d" % flags, flush=True)
            if mode == "mux-refuse":
                c.sendall(packet(12, 0x80, b"\0" * 16))
            else:
                answer = [0, 0, 0] if mode == "muxa" else None
                c.sendall(packet(11, flags, reply_body(61, answer), 4096))
        elif ptype == 6:
            print("data slot %d %s" % (flags, data.hex()), flush=True)
            if data.startswith(b"to:"):
                _, slot, text = data.split(b":", 2)
                c.sendall(packet(6, int(slot), text))
            else:
                c.sendall(packet(6, flags, b"R" + data))
        else:
            print("type %d" % ptype, flush=True)


def sl_serve_one(c, n, mode, arg):
    try:
        first = read_first(c)
    except (EOFError, OSError, ValueError):
        print("closed %d" % n, flush=True)
        return
    report_request(*first)
    form, length, ptype, flags, last, data = first
    level = flags & 0x7F
    if mode == "drop-binary" and form == "binary":
        drain(c)
        print("dropped %d" % n, flush=True)
        return
    if mode == "older6":
        c.sendall(b"\x00\x0f")
    elif mode == "older7":
        texts = [b"alpha", b"", b"gamma!"]
        body = b"\x00\x0f"
        for t in texts:
            if not t:
                body += b"\xff\xff"
            else:
                body += struct.pack(">H", len(t)) + t + (b"\0" if len(t) % 2 else b"")
        c.sendall(body)
    elif mode == "reply3":
        c.sendall(packet(3, level, reply_body(61, [int(arg), -2, 0]), 4096))
    elif mode == "reply13":
        c.sendall(packet(13, level, reply_body(61), 4096))
    else:
        mux = 0x80 if (flags & 0x80) else 0
        answer = [0, 0, 0] if mode == "muxa" else None
        c.sendall(packet(2, min(level, 61) | mux, reply_body(61, answer), 4096))
    if mode in ("mux", "mux-refuse", "muxa") and (flags & 0x80):
        serve_mux(c, mode if n == 1 or mode == "muxa" else "mux")
        return
    if mode == "urgent":
        select.select([], [], [c], 60)
        print("urgent %s" % c.recv(1, socket.MSG_OOB).hex(), flush=True)
    c.settimeout(60)
    try:
        while True:
            data = c.recv(65536)
            if not data:
                break
            print("got %s" % data.hex(), flush=True)
            if mode == "echo6":
                c.sendall(packet(6, 0, b"R" + data[6:]))
    except OSError:
        pass
    print("end", flush=True)


def sl_server(host, mode, arg):
    s = socket.socket(family(host), socket.SOCK_STREAM)
    s.bind((host, 0))
    s.listen(8)
    print(s.getsockname()[1], flush=True)
    n = 0
    while True:
        c, _ = s.accept()
        n += 1
        print("accept %d" % n, flush=True)
        threading.Thread(target=sl_serve_one, args=(c, n, mode, arg), daemon=True).start()


def sl_client(host, port, form, user):
    c = socket.create_connection((host, int(port)), timeout=30)
    desc = {"user": user, "password": "secret", "name1": "9.240", "name2": "x", "name3": "sqli",
            "program": "sqlexec", "values": [316, 0, 0], "cred_kind": 1,
            "info": {"server_type": "sqlexec", "level": 61, "protocol": "soctcp", "word": 1},
            "start": {"kind": 2, "flags": 4, "server": "srv", "option_arg": "db"},
            "start_words": "-ddb -e", "options": [["LANG", "C"]]}
    text = build_text(desc).encode() + b"\0"
    if form == "binary":
        c.sendall(packet(1, 61 | 0x80, build_binary(desc)))
    elif form == "sq":
        hdr = struct.pack(">HBBH", len(text) + 6, 1, 61, 0)
        c.sendall(b"sq" + b64e(hdr) + text)
    elif form == "sqle":
        c.sendall(text)
    elif form == "sqle7":  # a kind-7 request ("-l" and a name) without a header
        desc["start"] = {"kind": 7, "flags": 0, "name": "lst"}
        desc["start_words"] = "-llst"
        c.sendall(build_text(desc).encode() + b"\0")
        print("reply %s" % c.recv(65536).hex(), flush=True)
        c.close()
        return
    elif form == "type3":
        c.sendall(packet(3, 61, build_binary(desc)))
    elif form == "empty":
        c.sendall(packet(1, 61, b"") + b"xyz")
    elif form == "silent":
        time.sleep(11)
    try:
        hdr = recv_exact(c, 6)
        print("reply %s" % hdr.hex(), flush=True)
    except (EOFError, OSError):
        print("closed", flush=True)
    c.close()


def main():
    cmd = sys.argv[1]
    if cmd == "build":
        desc = json.loads(sys.argv[2])
        print("text " + build_text(desc), flush=True)
        print("binary " + build_binary(desc).hex(), flush=True)
    elif cmd == "parse":
        for line in parse_request(bytes.fromhex(sys.argv[2])):
            print(line)
    elif cmd == "sl-server":
        sl_server(sys.argv[2], sys.argv[3], sys.argv[4] if len(sys.argv) > 4 else "")
    elif cmd == "sl-client":
        sl_client(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5] if len(sys.argv) > 5 else "joe")
    elif cmd == "multi":
        multi_server(sys.argv[2], sys.argv[3:])
    elif cmd == "late":
        multi_server(sys.argv[2], sys.argv[4:], float(sys.argv[3]))
    elif cmd == "server":
        server(sys.argv[2], sys.argv[3])
    else:
        client(sys.argv[2], sys.argv[3], sys.argv[4])


if __name__ == "__main__":
    main()
