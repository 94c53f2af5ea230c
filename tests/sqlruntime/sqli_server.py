"""A database server for the SQL runtime tests, on 127.0.0.1 only.

sqli_server.py CONFIG.json

The configuration (JSON) names the port, the log file and what to answer:
  port        the port to listen on (the test picks it)
  log         the log file: one line per packet and per client request
  level       protocol level of the connection reply (first 32-bit value
              of its connection record); default 316
  status, secondary, warnings, text_code, text
              the connect reply's 'f' section: status, secondary code,
              warning bits and an optional text record {code, text}
  caps        capability bytes of the 126 reply, hex; caps_len its length
              word (default the byte count); missing bytes are zeros
  version     version text of the 53 reply (level 0)
  delays      {"code": ms} delay before answering a client request code
  local       {"file": path} the local-file handshake's first file name
  pam         [[type, text], ...] PAM challenges, then 127
  leave       value of the 84 reply (default 0)
  owner       text of the 109 reply
  inject      {"code": "hex"} raw bytes answering a request code
  close_mid   {"code": "hex"} bytes sent before closing the connection
  urgent      1: log urgent data ("urgent <hex>")
  raw         number of raw bytes to read (and log) after start-up for a
              request code 999 the test writes; answered 12

It prints "ready" when listening and serves each connection on a thread
of its own until killed. After the connection reply the SQL messages travel in type 6
packets when the client asked for packet headers (flag 0x80), else as the
bare stream. Each packet (or each chunk of the bare stream) is logged as
"packet <length>", each client request up to its end code as
"request <hex>".
"""
import json
import os
import select
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "connect"))
import peer  # noqa: E402


class Closed(Exception):
    pass


LOG_LOCK = threading.Lock()


class Conn:
    def __init__(self, c, cfg, log):
        self.c = c
        self.headers = False  # type 6 packets, or the bare stream
        self.cfg = cfg
        self.log = log
        self.buf = b""
        self.req = b""

    def note(self, line):
        with LOG_LOCK:
            self.log.write(line + "\n")
            self.log.flush()

    def packet(self):
        while True:
            if self.cfg.get("urgent"):
                r, _, x = select.select([self.c], [], [self.c], 60)
                if x:
                    try:
                        self.note("urgent %s" % self.c.recv(1, socket.MSG_OOB).hex())
                    except OSError:
                        pass
                    continue
            if not self.headers:
                try:
                    data = self.c.recv(65536)
                except OSError:
                    raise Closed()
                if not data:
                    raise Closed()
                self.note("packet %d" % len(data))
                return data
            try:
                hdr = peer.recv_exact(self.c, 6)
            except (EOFError, OSError):
                raise Closed()
            length, ptype, flags, last = struct.unpack(">HBBH", hdr)
            data = peer.recv_exact(self.c, length - 6) if length > 6 else b""
            if ptype != 6:
                self.note("type %d" % ptype)
                raise Closed()
            self.note("packet %d" % len(data))
            return data

    def take(self, n):
        while len(self.buf) < n:
            self.buf += self.packet()
        v, self.buf = self.buf[:n], self.buf[n:]
        self.req += v
        return v

    def s16(self):
        return struct.unpack(">h", self.take(2))[0]

    def u16(self):
        return struct.unpack(">H", self.take(2))[0]

    def padded(self, n):
        v = self.take(n)
        if n & 1:
            self.take(1)
        return v

    def end(self):
        code = self.s16()
        if code != 12:
            self.note("expected 12, got %d" % code)
            raise Closed()

    def send(self, data):
        # Replies travel in type 6 packets of at most 4,000 bytes, or bare.
        if not self.headers:
            self.c.sendall(data)
            return
        for i in range(0, len(data), 4000):
            self.c.sendall(peer.packet(6, 0, data[i:i + 4000]))


def s16(v):
    return struct.pack(">h", v)


def string(b):
    return struct.pack(">H", len(b)) + b + (b"\0" if len(b) & 1 else b"")


def connect_reply(cfg):
    desc = {"info": {"server_type": "srv", "level": 61, "protocol": "soctcp", "word": 1},
            "program": "srvqorv", "values": [cfg.get("level", 316), 0, 0], "cred_kind": 0,
            "name1": None, "name2": None, "name3": None}
    body = peer.build_binary(desc)
    f = struct.pack(">H", ord("f")) + b"\0" * 6
    for v in (cfg.get("status", 0), cfg.get("secondary", 0), cfg.get("warnings", 0)):
        f += struct.pack(">H", v & 0xFFFF)
    text = cfg.get("text")
    if text is None:
        f += struct.pack(">H", 0)
    else:
        raw = text.encode()
        f += struct.pack(">HHH", 1, cfg.get("text_code", 0) & 0xFFFF, len(raw)) + raw
    return body[:-2] + f + body[-2:]


def serve(conn):
    cfg = conn.cfg
    while True:
        conn.req = b""
        code = conn.s16()
        reply = None
        if code == 126:
            n = conn.u16()
            conn.padded(n)
            conn.end()
            caps = bytes.fromhex(cfg.get("caps", ""))
            ln = cfg.get("caps_len", len(caps))
            caps = (caps + b"\0" * ln)[:ln]
            reply = s16(126) + string(caps) + s16(12)
        elif code == 53:
            conn.end()
            reply = s16(53) + string(cfg.get("version", "").encode()) + s16(12)
        elif code == 81:
            conn.u16()
            conn.u16()
            conn.u16()
            conn.u16()
            while True:
                n = conn.u16()
                name = conn.padded(n)
                v = conn.u16()
                conn.padded(v)
                if n == 0 and v == 0 and not name:
                    break
            conn.end()
            reply = s16(12)
        elif code == 84:
            conn.end()
            reply = s16(84) + s16(cfg.get("leave", 0)) + s16(12)
        elif code == 56:
            conn.note("request %s" % conn.req.hex())
            conn.send(s16(12))
            continue
        elif code == 109:
            conn.end()
            reply = s16(109) + string(cfg.get("owner", "").encode()) + s16(12)
        elif code == 128:
            conn.end()
            if "local" in cfg:
                name = cfg["local"]["file"].encode()
                conn.note("request %s" % conn.req.hex())
                conn.req = b""
                conn.send(s16(129) + string(name) + s16(12))
                if conn.s16() != 130:
                    raise Closed()
                second = conn.padded(conn.u16())
                conn.end()
                conn.note("second %s" % second.decode(errors="replace"))
                reply = s16(127) + s16(12)
            else:
                for t, text in cfg.get("pam", []):
                    conn.note("request %s" % conn.req.hex())
                    conn.req = b""
                    conn.send(s16(129) + s16(t) + string(text.encode()) + s16(12))
                    if t in (1, 2):
                        if conn.s16() != 130:
                            raise Closed()
                        answer = conn.padded(conn.u16())
                        conn.end()
                        conn.note("answer %d %s" % (t, answer.decode(errors="replace")))
                reply = s16(127) + s16(12)
        elif code == 999:
            conn.take(cfg.get("raw", 0))
            conn.end()
            reply = s16(12)
        else:
            # Any other request: everything up to its end code.
            while conn.s16() != 12:
                pass
            reply = s16(12)
        conn.note("request %s" % conn.req.hex())
        key = str(code)
        delay = cfg.get("delays", {}).get(key)
        if delay:
            time.sleep(delay / 1000.0)
        if key in cfg.get("close_mid", {}):
            conn.send(bytes.fromhex(cfg["close_mid"][key]))
            raise Closed()
        if key in cfg.get("inject", {}):
            reply = bytes.fromhex(cfg["inject"][key])
        conn.send(reply)


def main():
    with open(sys.argv[1]) as f:
        cfg = json.load(f)
    log = open(cfg["log"], "a")
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", cfg["port"]))
    s.listen(8)
    print("ready", flush=True)
    while True:
        c, _ = s.accept()
        threading.Thread(target=serve_one, args=(c, cfg, log), daemon=True).start()


def serve_one(c, cfg, log):
    conn = Conn(c, cfg, log)
    conn.note("accept")
    try:
        first = peer.read_first(c)
        form, length, ptype, flags, last, data = first
        conn.note("connect type=%d" % ptype)
        level = flags & 0x7F
        # Packets with headers when the client asks for them (0x80).
        conn.headers = bool(flags & 0x80)
        c.sendall(peer.packet(2, min(level, 61) | (flags & 0x80), connect_reply(cfg), 4096))
        if cfg.get("status", 0) == 0:
            serve(conn)
    except (Closed, EOFError, OSError, ValueError):
        pass
    conn.note("closed")
    try:
        c.close()
    except OSError:
        pass


if __name__ == "__main__":
    main()
