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
  tables      the in-memory table store: {"name": {"columns": [{"name",
              "type" (type word), "length", optional "xid", "owner",
              "tname"}], "rows": [hex of the stored row, ...]}}
  row_warnings {"row index": warnings word} of tuple replies
  done_warn   warnings word of the done reply
  fetch_all   1: a fetch gets every remaining row whatever its size
  close_at_end 1: a cursor reply 10 follows the done reply of the last row
  blob        hex bytes of the value that a 38 request gets in 39 chunks
              (a list: one value per 38 request, in turn)
  file_ops    client-file sub-requests (reply 98) answering a request 997:
              {"op": "open", "name", "mode", "flags", "offset", "end"},
              {"op": "close"}, {"op": "read", "chunk", "amount",
              "interrupt": hex sent at once}, {"op": "write", "chunks":
              [hex], "end": 12 or 13, "error"}; each answer is logged as
              "answer ok|error N|size N|read AMOUNT CHUNKS HEX"
              Chunks of 39 are logged "chunk N", a whole value "value HEX",
              the descriptor of a 38 request "desc HEX".

  procs       built-in procedures: {"name": {"columns": [...], "rows":
              [hex, ...], "warn": warnings word of the done reply}};
              EXECUTE PROCEDURE name(...) is described by the columns
  fail        {"text": code}: executing (7, 16, 59) a statement whose
              text contains the key answers with that error
  kinds       {"first words": kind} further statement kinds by text
  store       a path: the table store is written there as JSON after
              every change (CREATE TABLE, PUT rows)
  bench       {"table": name, "rows": N, "row": hex}: the benchmark mode.
              A fetch on that table answers N copies of the row from
              pre-encoded batches; the log keeps only the first 2,000 lines
              of a connection. A connection that starts with the four
              bytes "RAW!" skips the connect and start-up exchanges and
              speaks the bare message stream at once (the benchmark's own
              raw client).
Columns may carry "size", their stored size in a row, where it differs
from "length" (DECIMAL, VARCHAR).

Statement requests (codes 1 to 11, 16, 17, 22 to 24, 36 to 38, 43, 49,
59, 87, 108, 111, 133) are read message by message: SELECT columns FROM
table [WHERE column = value] gives kind 2, INSERT kind 6, EXECUTE
kind 56, DATABASE 1, DROP DATABASE 13, CLOSE DATABASE 31, COMMIT WORK
35, ROLLBACK WORK 36, CREATE TABLE 8, UPDATE 4, DELETE 5, others 9;
describe replies are laid out by the configured capability bytes.
Executing CREATE TABLE name (col INT|CHAR(n), ...) adds the table. A
type check (100) is logged "types <word/length> ..."; a later fetch sends
variable-form columns asked as CHAR(n) in that form. PUT
rows (17, 133) are appended to the insert statement's table and logged
"put <count> <hex of each row>". A scroll fetch (23) answers rows from
the asked position forward, then 25 with the first row's number; the
server's current row is the first row of its last batch. Each exchange
is logged as "request <hex>" and "codes <c1,c2,...>".

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
        if "bench" in self.cfg:
            self.lines = getattr(self, "lines", 0) + 1
            if self.lines > 2000:
                return
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


SQL_CODES = {1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 16, 17, 22, 23, 24, 36, 37, 38, 39, 40, 41, 43, 49, 59, 87, 100, 108, 111,
             133}


def int8(v):
    sign = -1 if v < 0 else 1
    m = abs(v)
    return struct.pack(">hII", sign, m & 0xFFFFFFFF, m >> 32)
BUILTIN = set(range(0, 19)) | {42, 52, 53}


def s32(v):
    return struct.pack(">i", v)


def u16(v):
    return struct.pack(">H", v & 0xFFFF)


def padded(b):
    return b + (b"\0" if len(b) & 1 else b"")


class Sql:
    """Statement state of one connection."""

    def __init__(self, conn):
        self.conn = conn
        self.cfg = conn.cfg
        caps = bytes.fromhex(self.cfg.get("caps", "")) + b"\0" * 16
        self.caps = caps
        self.stmts = {}
        self.next_id = 1
        self.cur = None
        self.value = b""
        self.blob_n = 0

    def cap(self, byte, bit):
        return bool(self.caps[byte] & bit)

    def text_len(self):
        c = self.conn
        return struct.unpack(">i", c.take(4))[0] if self.cap(7, 0x02) else c.u16()

    def new_stmt(self, text):
        import re
        t = text.decode(errors="replace").strip()
        words = " ".join(t.lower().split()[:2]) if t else ""
        word = t.split(None, 1)[0].lower() if t else ""
        kinds = {"select": 2, "insert": 6, "execute": 56, "database": 1, "drop database": 13,
                 "close database": 31, "commit work": 35, "rollback work": 36, "create table": 8,
                 "update": 4, "delete": 5}
        kinds.update(self.cfg.get("kinds", {}))
        kind = kinds.get(words, kinds.get(word, 9))
        st = {"text": t, "kind": kind, "cols": [], "rows": [], "pos": 0, "open": False, "autofree": False,
              "error": 0, "first": 0, "last": 0, "table": None}
        tables = self.cfg.setdefault("tables", {})
        if word == "execute":
            m = re.match(r"execute\s+procedure\s+(\w+)", t, re.I)
            proc = self.cfg.get("procs", {}).get(m.group(1).lower()) if m else None
            if proc is not None:
                st["cols"] = proc["columns"]
                st["rows"] = [bytes.fromhex(r) for r in proc.get("rows", [])]
                st["warn"] = proc.get("warn", 0)
        if word == "select":
            m = re.match(r"select\s+(.*?)\s+from\s+(\w+)(?:\s+where\s+(\w+)\s*=\s*(\S+).*)?$", t, re.I | re.S)
            if not m or m.group(2).lower() not in tables:
                st["error"] = -206
            else:
                tab = tables[m.group(2).lower()]
                st["bench"] = m.group(2).lower() == self.cfg.get("bench", {}).get("table")
                cols, offs, off = [], {}, 0
                for col in tab["columns"]:
                    offs[col["name"]] = (off, col)
                    off += col.get("size", col["length"])
                names = [x.strip().lower() for x in m.group(1).split(",")]
                if names == ["*"]:
                    names = [col["name"] for col in tab["columns"]]
                if any(n not in offs for n in names):
                    st["error"] = -217
                else:
                    st["cols"] = [offs[n][1] for n in names]
                    variable = any((c["type"] & 0xFF) in (40, 41, 19, 20, 21, 22, 23) for c in tab["columns"])
                    for hexrow in tab["rows"]:
                        row = bytes.fromhex(hexrow)
                        if m.group(3):
                            o, col = offs.get(m.group(3).lower(), (None, None))
                            if col is None:
                                st["error"] = -217
                                break
                            field = row[o:o + col["length"]]
                            want = m.group(4).strip("'")
                            if want == "?":
                                pass
                            elif (col["type"] & 0xFF) == 2:
                                if struct.unpack(">i", field)[0] != int(want):
                                    continue
                            elif field.rstrip(b" ").decode() != want:
                                continue
                        if variable or names == [col["name"] for col in tab["columns"]]:
                            st["rows"].append(row)
                        else:
                            st["rows"].append(b"".join(row[offs[n][0]:offs[n][0] + offs[n][1]["length"]] for n in names))
        elif word == "insert":
            m = re.match(r"insert\s+into\s+(\w+)", t, re.I)
            tab = tables.get(m.group(1).lower()) if m else None
            if tab is None:
                st["error"] = -206
            else:
                st["cols"] = tab["columns"]
                st["table"] = m.group(1).lower()
        sid = self.next_id
        self.next_id += 1
        self.stmts[sid] = st
        self.cur = sid
        return st

    def bind_value(self):
        """One bind value: type word, [extended words], indicator, length
        word, the value; logged as type/indicator/hex."""
        c = self.conn
        tw = c.u16()
        t = tw & 0xFF
        if self.cap(0, 0x20) and (t not in BUILTIN or tw & 0x800):
            c.take(4)
        ind = c.s16()
        word = c.u16()
        self.bound = getattr(self, "bound", [])
        if ind < 0:
            self.bound.append((t, None))
            return "%d/null" % tw
        if t in (0, 13, 15, 16):
            v = c.padded(c.u16())
        elif t == 1:
            v = c.take(2)
        elif t in (2, 4, 6, 7):
            v = c.take(4)
        elif t in (3, 52, 53):
            v = c.take(8)
        elif t in (17, 18):
            v = c.take(10)
        elif t in (5, 8, 10, 14):
            v = wire_decimal(c)
        elif t in (11, 12):
            # BYTE and TEXT: the 56-byte descriptor; the value follows
            # in chunks after code 41.
            v = c.take(56)
        else:
            n = struct.unpack(">i", c.take(4))[0]
            v = c.padded(n)
            # Collections and rows travel as type 44 (as opaque values do):
            # the form itself tells them apart.
            if t in (19, 20, 21, 22, 23) or (t == 44 and check_complex(v[:n], self.width()).startswith("ok")):
                return self.complex_value(tw, ind, n, v)
        self.bound.append((t, v))
        return "%d/%d/%s" % (tw, ind, v.hex())

    def width(self):
        return 128 if self.cap(1, 0x20) else 18

    def complex_value(self, tw, ind, n, body):
        """A collection or row value: checked against the complex form on
        its own (name width 128 with long identifiers, else 18) and kept as
        the row form, its length word and the bytes."""
        body = body[:n]
        verdict = check_complex(body, self.width())
        self.bound.append((44, s32(n) + body))
        self.conn.note("complex %s" % verdict)
        return "%d/%d/complex" % (tw, ind)

    def store_complex(self, st):
        """An INSERT executed with bound values: one row of the table's
        columns made from them (INTEGER 4 bytes, CHAR blank-padded to the
        column, collections and rows as received with their length word)."""
        bound = getattr(self, "bound", [])
        self.bound = []
        if st is None or not st.get("table") or not bound:
            return
        cols = self.cfg["tables"][st["table"]]["columns"]
        if len(cols) != len(bound):
            return
        row = b""
        for col, (t, v) in zip(cols, bound):
            ct = col["type"] & 0xFF
            if ct == 0:
                text = (v or b"")[:col["length"]]
                row += (text + b" " * col["length"])[:col["length"]] if v is not None else b"\0" + b" " * (col["length"] - 1)
            elif ct == 2:
                row += v if v is not None else s32(-2147483648)
            else:
                row += stored_from_wire(col, t, v)
        self.cfg["tables"][st["table"]]["rows"].append(row.hex())
        self.save()

    def save(self):
        path = self.cfg.get("store")
        if path:
            with open(path + ".tmp", "w") as f:
                json.dump(self.cfg.get("tables", {}), f)
            os.replace(path + ".tmp", path)

    def done(self, rows, warn=0):
        return s16(15) + s16(warn) + s32(rows) + s32(0) + s32(0)

    def tuple(self, row, warn=0):
        ln = s32(len(row)) if self.cap(0, 0x20) else s16(len(row))
        return s16(14) + s16(warn) + ln + padded(row)

    def failure(self, st):
        for text, code in self.cfg.get("fail", {}).items():
            if text.lower() in st["text"].lower():
                return self.error(code)
        return None

    def execute(self, st):
        import re
        bad = self.failure(st)
        if bad is not None:
            return bad
        if st["kind"] == 8:
            m = re.match(r"create\s+table\s+(\w+)\s*\((.*)\)\s*$", st["text"], re.I | re.S)
            if not m:
                return self.error(-201)
            cols = []
            for part in m.group(2).split(","):
                name, typ = part.split(None, 1)
                typ = typ.strip().lower()
                cm = re.match(r"char\s*\((\d+)\)", typ)
                cols.append({"name": name.lower(), "type": 0, "length": int(cm.group(1))} if cm else
                            {"name": name.lower(), "type": 2, "length": 4})
            self.cfg["tables"][m.group(1).lower()] = {"columns": cols, "rows": []}
            self.save()
        return self.done(0)

    def put_rows(self, rows):
        st = self.stmts.get(self.cur)
        self.conn.note("put %d %s" % (len(rows), " ".join(r.hex() for r in rows)))
        if st is None:
            return self.error(-410)
        if st.get("table"):
            self.cfg["tables"][st["table"]]["rows"].extend(r.hex() for r in rows)
            self.await_put_values(st["table"], len(rows))
            self.save()
        return self.done(len(rows))

    # TEXT and BYTE values of PUT rows. A PUT row holds a 56-byte
    # descriptor for each; the non-null values follow the rows (41, then
    # the chunks of each value). Each value is kept by number, and its
    # row's descriptor is rewritten to name it: type word at 0, first and
    # last offset at 4 and 8 (1 and the length), the number at 40. A 38
    # request with such a descriptor gets the kept value back.
    def await_put_values(self, table, count):
        tab = self.cfg["tables"][table]
        pending = getattr(self, "pending_values", [])
        for r in range(len(tab["rows"]) - count, len(tab["rows"])):
            off = 0
            for col in tab["columns"]:
                size = col.get("size", col["length"])
                row = bytes.fromhex(tab["rows"][r])
                if (col["type"] & 0xFF) in (11, 12) and off + 56 <= len(row) and not row[off + 39] & 1:
                    pending.append((table, r, off, col["type"] & 0xFF))
                off += size
        self.pending_values = pending

    def keep_put_value(self, value):
        pending = getattr(self, "pending_values", [])
        if not pending:
            return
        table, r, off, typ = pending.pop(0)
        kept = self.cfg.setdefault("kept_values", [])
        kept.append(value.hex())
        row = bytearray.fromhex(self.cfg["tables"][table]["rows"][r])
        row[off:off + 56] = (struct.pack(">h", typ) + b"\0\0" + struct.pack(">ii", 1, len(value)) + b"\0" * 28 +
                             struct.pack(">i", len(kept)) + b"\0" * 12)
        self.cfg["tables"][table]["rows"][r] = bytes(row).hex()
        self.save()

    def kept_value(self, desc):
        n = struct.unpack(">i", desc[40:44])[0]
        kept = self.cfg.get("kept_values", [])
        return bytes.fromhex(kept[n - 1]) if 0 < n <= len(kept) else None

    def scroll(self, sid, kind, pos, size):
        st = self.stmts.get(sid)
        if st is None or not st["open"]:
            return self.error(-400)
        n = len(st["rows"])
        target = {1: st["last"] + 1, 2: st["first"] - 1, 3: 1, 4: n, 5: st["first"], 6: pos,
                  7: st["first"] + pos}.get(kind, 0)
        if target < 1 or target > n:
            return self.done(0)
        out, used, t = b"", 0, target
        while t <= n:
            row = st["rows"][t - 1]
            if out and used + len(row) > size:
                break
            out += self.tuple(row)
            used += len(row)
            t += 1
        st["first"], st["last"] = target, t - 1
        return out + s16(25) + s32(target)

    def describe(self, sid):
        st = self.stmts[sid]
        out = s16(8) + s16(st["kind"]) + s16(sid) + s32(0)
        if st["kind"] not in (2, 3, 56, 166, 4, 6, 7, 33):
            return out + s16(0) + s16(0) + (s32(0) if self.cap(6, 0x20) else u16(0))
        xt, off32, lean = self.cap(0, 0x20), self.cap(6, 0x20), self.cap(6, 0x40)
        names, entries, start = b"", b"", 0
        for col in st["cols"]:
            off = len(names)
            names += col["name"].encode() + b"\0"
            tw = col["type"]
            e = (s32(off) if off32 else u16(off)) + (s32(start) if xt else s16(start)) + u16(tw)
            if xt and not (lean and (tw & 0xFF) in BUILTIN and not tw & 0x800):
                e += s32(col.get("xid", 0)) + string(col.get("owner", "").encode())
                e += string(col.get("tname", "").encode()) + s16(0) + s16(0) + s32(0)
            e += s32(col["length"]) if xt else s16(col["length"])
            entries += e
            start += col.get("size", col["length"])
        size = sum(c.get("size", c["length"]) for c in st["cols"])
        out += s16(size) + s16(len(st["cols"])) + (s32(len(names)) if off32 else u16(len(names)))
        return out + entries + padded(names)

    def error(self, code):
        ln = s32(0) if self.cap(7, 0x02) else s16(0)
        return s16(13) + s16(code) + s16(0) + ln + s16(0)

    def bench_fetch(self, st, size):
        b = self.cfg["bench"]
        if "tuple" not in b:
            row = bytes.fromhex(b["row"])
            ln = s32(len(row)) if self.cap(0, 0x20) else s16(len(row))
            b["tuple"] = s16(14) + s16(0) + ln + padded(row)
            b["per"] = max(1, size // len(row))
            b["batch"] = b["tuple"] * b["per"]
        left = b["rows"] - st["pos"]
        if left > b["per"]:
            st["pos"] += b["per"]
            return b["batch"]
        st["pos"] += left
        return b["tuple"] * left + self.done(st["pos"])

    def as_asked(self, st, row):
        """A row with its columns in the forms a type check asked for:
        a variable-form column (LVARCHAR, opaque) asked as CHAR(n) goes as
        its bytes blank-padded or cut to n; others as stored."""
        types = st.get("types")
        if not types or len(types) != len(st["cols"]):
            return row
        out, off = b"", 0
        for col, (tw, ln) in zip(st["cols"], types):
            t = col["type"] & 0xFF
            if t in (40, 41, 43, 45, 19, 20, 21, 22, 23):
                n = struct.unpack(">i", row[off + 1:off + 5])[0]
                if (tw & 0xFF) == 0:
                    out += row[off + 5:off + 5 + n][:ln].ljust(ln, b" ")
                else:
                    out += row[off:off + 5 + n]
                off += 5 + n
            else:
                n = col.get("size", col["length"])
                out += row[off:off + n]
                off += n
        return out

    def fetch(self, sid, size):
        st = self.stmts.get(sid)
        if st is None or not st["open"]:
            return self.error(-400)
        if "bench" in self.cfg and st.get("bench"):
            return self.bench_fetch(st, size)
        out, used = b"", 0
        warns = self.cfg.get("row_warnings", {})
        while st["pos"] < len(st["rows"]):
            row = self.as_asked(st, st["rows"][st["pos"]])
            if out and used + len(row) > size and not self.cfg.get("fetch_all"):
                break
            w = int(warns.get(str(st["pos"]), 0))
            ln = s32(len(row)) if self.cap(0, 0x20) else s16(len(row))
            out += s16(14) + s16(w) + ln + padded(row)
            used += len(row)
            st["pos"] += 1
        if st["pos"] >= len(st["rows"]):
            out += s16(15) + s16(self.cfg.get("done_warn", 0)) + s32(st["pos"]) + s32(0) + s32(0)
            if self.cfg.get("close_at_end"):
                out += s16(10)
                st["open"] = False
                if st["autofree"]:
                    del self.stmts[sid]
        return out

    def exchange(self, code):
        """Reads messages up to 12, starting with `code`; returns the reply."""
        c = self.conn
        codes, reply, cursor_name = [], b"", None
        while True:
            codes.append(code)
            if code == 12:
                break
            if code in (1, 2):
                c.s16()
                st = self.new_stmt(c.padded(self.text_len()))
                if st["error"]:
                    reply += self.error(st["error"])
                    del self.stmts[self.cur]
                    self.cur = None
            elif code in (22, 111):
                if self.cur in self.stmts:
                    reply += self.describe(self.cur)
            elif code == 4:
                sid = c.s16()
                self.cur = sid
                if sid not in self.stmts:
                    reply += self.error(-410)
            elif code == 3:
                cursor_name = c.padded(c.u16())
            elif code == 5:
                vals = [self.bind_value() for _ in range(c.s16())]
                c.note("bind %s" % " ".join(vals))
            elif code == 108:
                if self.cur in self.stmts:
                    self.stmts[self.cur]["autofree"] = True
            elif code in (6, 87):
                st = self.stmts.get(self.cur)
                if st is not None:
                    st["open"], st["pos"], st["first"], st["last"] = True, 0, 0, 0
            elif code == 9:
                size = struct.unpack(">i", c.take(4))[0] if self.cap(7, 0x01) else c.u16()
                if self.caps[1] & 0xC0:
                    c.s16()
                reply += self.fetch(self.cur, size)
            elif code == 23:
                kind = c.s16()
                pos = struct.unpack(">i", c.take(4))[0]
                size = struct.unpack(">i", c.take(4))[0] if self.cap(7, 0x01) else c.u16()
                if self.caps[1] & 0xC0:
                    c.s16()
                reply += self.scroll(self.cur, kind, pos, size)
            elif code == 7:
                st = self.stmts.get(self.cur)
                self.store_complex(st)
                reply += self.error(-410) if st is None else self.execute(st)
            elif code in (16, 59):
                st = self.stmts.get(self.cur)
                if st is None:
                    reply += self.error(-410)
                else:
                    bad = self.failure(st)
                    if bad is not None:
                        reply += bad
                    else:
                        if st["rows"]:
                            reply += self.tuple(st["rows"][0])
                        reply += self.done(1 if st["rows"] else 0, st.get("warn", 0))
            elif code == 100:
                c.s16()
                types = []
                for _ in range(c.s16()):
                    tw = c.u16()
                    if (tw & 0xFF) not in BUILTIN or tw & 0x7F00:
                        c.padded(c.u16())
                        c.padded(c.u16())
                    types.append("%d/%d" % (tw, struct.unpack(">i", c.take(4))[0]))
                c.note("types %s" % " ".join(types))
                if self.cur in self.stmts:
                    self.stmts[self.cur]["types"] = [tuple(int(x) for x in t.split("/")) for t in types]
            elif code == 17:
                size = struct.unpack(">i", c.take(4))[0] if self.cap(0, 0x08) else c.u16()
                rows = [c.padded(size) for _ in range(c.s16())]
                reply += self.put_rows(rows)
            elif code == 133:
                rows = []
                for _ in range(c.s16()):
                    rows.append(c.padded(struct.unpack(">i", c.take(4))[0]))
                reply += self.put_rows(rows)
            elif code == 10:
                st = self.stmts.get(self.cur)
                if st is not None:
                    st["open"] = False
                    if st["autofree"]:
                        del self.stmts[self.cur]
            elif code == 11:
                self.stmts.pop(self.cur, None)
            elif code == 36:
                c.padded(c.u16())
                c.s16()
            elif code == 41:
                c.s16()
            elif code == 39:
                n = c.s16()
                c.note("chunk %d" % n)
                if n > 0:
                    self.value += c.padded(n)
                else:
                    c.note("value %s" % self.value.hex())
                    self.keep_put_value(self.value)
                    self.value = b""
            elif code == 40:
                c.note("cancel")
                self.value = b""
            elif code == 38:
                desc = c.take(56)
                c.note("desc %s" % desc.hex())
                blobs = self.cfg.get("blob", "")
                kept = self.kept_value(desc)
                if kept is not None:
                    blob = kept
                elif isinstance(blobs, list):
                    blob = bytes.fromhex(blobs[min(self.blob_n, len(blobs) - 1)])
                    self.blob_n += 1
                else:
                    blob = bytes.fromhex(blobs)
                for i in range(0, len(blob), 1024):
                    part = blob[i:i + 1024]
                    reply += s16(39) + s16(len(part)) + padded(part)
                reply += s16(39) + s16(0)
            code = c.s16()
        c.note("codes %s" % ",".join(str(x) for x in codes))
        _ = cursor_name
        return reply + s16(12)


def client_files(conn, sql):
    """Drives the configured client-file sub-requests (reply 98)."""
    off8, amount8, long_text = sql.cap(1, 0x02), sql.cap(5, 0x20), sql.cap(7, 0x02)
    c = conn

    def answer(op):
        code = c.s16()
        if code == 13:
            err = c.s16()
            c.s16()
            c.take(4 if long_text else 2)
            c.s16()
            c.end()
            c.note("answer error %d" % err)
        elif code == 106:
            if amount8:
                sign, low, high = struct.unpack(">hII", c.take(10))
                amount = sign * ((high << 32) | low)
            else:
                amount = struct.unpack(">i", c.take(4))[0]
            data, chunks = b"", []
            while True:
                code = c.s16()
                if code != 106:
                    break
                n = struct.unpack(">i", c.take(4))[0] if off8 else c.s16()
                chunks.append(n)
                data += c.padded(n)
            if code != 12:
                raise Closed()
            c.note("answer read %d %s %s" % (amount, ",".join(map(str, chunks)), data.hex()))
        elif code == 107:
            if off8:
                sign, low, high = struct.unpack(">hII", c.take(10))
                size = sign * ((high << 32) | low)
            else:
                size = struct.unpack(">i", c.take(4))[0]
            c.end()
            c.note("answer size %d" % size)
        elif code == 12:
            c.note("answer ok")
        else:
            raise Closed()

    for op in sql.cfg.get("file_ops", []):
        kind = op["op"]
        if kind == "open":
            name = op["name"].encode()
            m = s16(98) + s16(0) + s16(len(name)) + padded(name) + s32(op.get("mode", 0o600)) + s32(op["flags"])
            m += int8(op.get("offset", 0)) if off8 else s32(op.get("offset", 0))
            m += s16(op.get("end", 12))
        elif kind == "close":
            m = s16(98) + s16(1) + s16(op.get("end", 12))
        elif kind == "read":
            m = s16(98) + s16(2) + (s32(op["chunk"]) if off8 else s16(op["chunk"]))
            m += int8(op["amount"]) if amount8 else s32(op["amount"])
            m += s16(op.get("end", 12))
            if op.get("interrupt"):
                # Waiting before the client sends: it looks and stops.
                m += bytes.fromhex(op["interrupt"])
        else:
            m = s16(98) + s16(3)
            for h in op["chunks"]:
                b = bytes.fromhex(h)
                m += s16(107) + s16(len(b)) + padded(b)
            m += s16(op.get("end", 12))
            if op.get("end") == 13:
                m += s16(op["error"])
        c.send(m)
        answer(op)
    return s16(12)


def wire_decimal(c):
    """A DECIMAL, MONEY, DATETIME or INTERVAL bind value: uint16 L, then L
    bytes of the stored decimal (a pad byte after an odd L); L 65535 is a
    null."""
    n = c.u16()
    return None if n == 65535 else c.padded(n)


def stored_from_wire(col, wt, v):
    """The stored form in a row of a bound value of wire type wt (None:
    null) for a column other than CHAR and INTEGER; collections and rows
    as received. A FLOAT or SMALLFLOAT sent as DECIMAL is stored as the
    native float it stands for."""
    t, w = col["type"] & 0xFF, col["length"]
    if t in (3, 4) and wt == 5 and v is not None:
        import sqli_values
        return struct.pack("<d" if t == 3 else "<f", float(sqli_values.dec_load(v)))
    size = col.get("size", w)
    if t in (19, 20, 21, 22, 23, 40, 41):
        return v or b""
    if t == 15:
        return (v[:w] + b" " * w)[:w] if v is not None else b"\0" + b" " * (w - 1)
    if t in (13, 16):
        return bytes([len(v)]) + v + bytes(size - 1 - len(v)) if v is not None else b"\1" + bytes(size - 1)
    if t in (5, 8, 10, 14):
        return (v + bytes(size))[:size] if v is not None else bytes(size)
    if t in (43, 45):
        return b"\0" + s32(len(v)) + v if v is not None else b"\1" + s32(0)
    if v is not None:
        return v
    nulls = {1: b"\x80\0", 6: s32(-2 ** 31), 7: s32(-2 ** 31), 3: b"\xff" * 8, 4: b"\xff" * 4,
             17: bytes(10), 52: b"\x80" + bytes(7)}
    return nulls.get(t, bytes(size))


def check_complex(body, width):
    """Checks a collection or row value written in the complex form: the
    type description with names of `width` bytes, the handle, cl_len, the
    flags and cl_len bytes of element data. Returns "ok N=.. F=.. len=..
    data=<hex>" or "bad <reason>"."""
    try:
        at = 4 + 2 + width
        fields = struct.unpack(">h", body[at:at + 2])[0]
        at += 2
        entry = 8 + width + 6 + 4 + 4 + width + 2 + width + 2 + 4
        if entry != 30 + 3 * width:
            return "bad entry size"
        for i in range(fields):
            seqno, level, parent, nmlen = struct.unpack(">hhhh", body[at:at + 8])
            if seqno != i + 1 or nmlen < 0 or nmlen > width:
                return "bad entry %d" % i
            at += entry
        handle, cl_len, flags = struct.unpack(">iii", body[at:at + 12])
        at += 12
        if len(body) - at != cl_len:
            return "bad cl_len %d for %d bytes" % (cl_len, len(body) - at)
        if len(body) != fields * (30 + 3 * width) + 8 + width + 12 + cl_len:
            return "bad length %d" % len(body)
        return "ok N=%d F=%d len=%d data=%s" % (width, fields, cl_len, body[at:].hex())
    except struct.error:
        return "bad short"


def collection_free(conn):
    """Request 105: the client frees the server's copy of a collection."""
    handle = struct.unpack(">i", conn.take(4))[0]
    conn.end()
    conn.note("collection free %d" % handle)
    return s16(12)


def serve(conn):
    sql = Sql(conn)
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
        elif code == 997:
            conn.end()
            conn.note("request %s" % conn.req.hex())
            conn.req = b""
            reply = client_files(conn, sql)
        elif code == 105:
            reply = collection_free(conn)
        elif code in SQL_CODES:
            reply = sql.exchange(code)
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
        if "bench" in cfg and c.recv(4, socket.MSG_PEEK) == b"RAW!":
            peer.recv_exact(c, 4)
            conn.note("raw")
            serve(conn)
            raise Closed()
        first = peer.read_first(c)
        form, length, ptype, flags, last, data = first
        conn.note("connect type=%d" % ptype)
        level = flags & 0x7F
        # Packets with headers when the client asks for them (0x80).
        conn.headers = bool(flags & 0x80)
        conn.note("headers %d" % conn.headers)
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
