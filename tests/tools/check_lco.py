#!/usr/bin/env python3
"""Reads the installed locale-object files the way the locale library does
(its token readers, code-table text form and section layout) and checks
every character of each code set against Python's codecs and unicodedata
(validity and length, wide value (the bytes read big-endian), class bits)
and against the C library's towupper and towlower in C.UTF-8 (upper- and
lower-case partners). Ends with "N passed, M failed".

usage: check_lco.py --tree DIR            check the installed files
       check_lco.py --expect CODESET      print the oracle's expectation per
                                          character: bytes wide class upper lower
"""

import argparse
import ctypes
import ctypes.util
import math
import os
import sys
import unicodedata

# ---------------------------------------------------------------- oracle

# file under lxr/lc11 -> (code-set line, codec, single-byte, LC_COLLATE kind)
LOCALES = {
    "en_us/0333.lco": ("8859-1", "latin-1", True, "as_specified"),
    "default.lco": ("8859-1", "latin-1", True, "as_specified"),
    "en_us/e01c.lco": ("utf8", "utf-8", False, "as_specified"),
    "de_de/0333.lco": ("8859-1", "latin-1", True, "as_specified"),
    "ja_jp/e006.lco": ("sjis", "shift_jis", False, "as_specified"),
    "th_th/e01d.lco": ("thai620", "tis_620", True, "thai_smo"),
    "xx_yy/e020.lco": ("tst", "utf-16-be", False, "as_specified"),
    "he_il/0394.lco": ("8859-8", "iso8859_8", True, "as_specified"),
    "ar_sa/0441.lco": ("8859-6", "iso8859_6", True, "as_specified"),
}
# file -> (calendar line, month names, eras, alternate digits)
TIME = {
    "en_us/0333.lco": (b"gregorian\n", 12, 0, 0),
    "en_us/e01c.lco": (b"gregorian\n", 12, 0, 0),
    "de_de/0333.lco": (b"gregorian\n", 12, 0, 0),
    "ja_jp/e006.lco": (b"gregorian\n", 12, 11, 100),
    "th_th/e01d.lco": (b"gregorian\n", 12, 1, 0),
    "xx_yy/e020.lco": (b"gregorian\n", 12, 0, 0),
    "he_il/0394.lco": (b"hebrew\n", 14, 0, 0),
    "ar_sa/0441.lco": (b"islamic\n", 12, 0, 0),
}
# Conversions that the time formatting engine refuses.
REFUSED_CONVERSIONS = set("ZzklPsFGVUW")
# The two-byte test code set holds these code points only.
TST_RANGES = ((0x0000, 0x05FF), (0x3000, 0x30FF), (0xFF00, 0xFFEF))


class Oracle:
    """What a code set's characters should be, from Python's codecs."""

    def __init__(self, codeset, codec, single_byte):
        self.codeset, self.codec, self.single_byte = codeset, codec, single_byte

    def decode(self, data):
        """The one character that data stands for, or None."""
        if self.codeset == "tst" and len(data) != 2:
            return None
        try:
            text = data.decode(self.codec)
        except UnicodeDecodeError:
            return None
        if len(text) != 1:
            return None
        if self.codeset == "tst" and not any(lo <= ord(text) <= hi for lo, hi in TST_RANGES):
            return None
        return text

    def is_char(self, data):
        if self.single_byte:
            return len(data) == 1       # every byte is a character
        if self.decode(data) is None:
            return False
        return all(self.decode(data[:k]) is None for k in range(1, len(data)))

    def encode(self, ch):
        try:
            data = ch.encode(self.codec)
        except UnicodeEncodeError:
            return None
        return data if self.decode(data) == ch else None

    def all_encoded(self):
        """Every code point's bytes in this code set."""
        for cp in range(0x110000):
            if not 0xD800 <= cp <= 0xDFFF:
                data = self.encode(chr(cp))
                if data is not None:
                    yield data


CLASS_BITS = {
    "upper": 0x0001, "lower": 0x0002, "alpha": 0x0004, "digit": 0x0008,
    "space": 0x0010, "cntrl": 0x0020, "punct": 0x0040, "graph": 0x0080,
    "print": 0x0100, "xdigit": 0x0200, "blank": 0x0400, "full_width": 0x0800,
}
NO_BREAK_SPACES = {0x00A0, 0x2007, 0x202F}


def expected_classes(ch):
    if ch is None:
        return 0
    cat = unicodedata.category(ch)
    cp = ord(ch)
    is_digit = 0x30 <= cp <= 0x39
    is_alpha = cat in ("Lu", "Ll", "Lt", "Lm", "Lo", "Nl", "Mn", "Mc") or (cat == "Nd" and not is_digit)
    is_sep = cat in ("Zs", "Zl", "Zp") and cp not in NO_BREAK_SPACES
    is_print = cat not in ("Cc", "Cs", "Cn", "Zl", "Zp")
    is_graph = is_print and cat != "Zs"
    member = {
        "upper": cat == "Lu",
        "lower": cat == "Ll",
        "alpha": is_alpha,
        "digit": is_digit,
        "space": 0x09 <= cp <= 0x0D or cp == 0x20 or is_sep,
        "cntrl": cat == "Cc",
        "punct": is_graph and not is_alpha and not is_digit,
        "graph": is_graph,
        "print": is_print,
        "xdigit": is_digit or ch in "abcdefABCDEF",
        "blank": cp == 0x09 or (is_sep and cat == "Zs"),
        "full_width": unicodedata.east_asian_width(ch) in ("W", "F"),
    }
    return sum(bit for name, bit in CLASS_BITS.items() if member[name])


class _CaseOracle:
    """towupper_l and towlower_l of the C library in the C.UTF-8 locale: the
    simple, one character to one character, case mapping."""

    def __init__(self):
        libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        libc.newlocale.restype = ctypes.c_void_p
        libc.newlocale.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p]
        for name in ("towupper_l", "towlower_l"):
            f = getattr(libc, name)
            f.restype = ctypes.c_uint32
            f.argtypes = [ctypes.c_uint32, ctypes.c_void_p]
        self.loc = libc.newlocale(1 << 0, b"C.UTF-8", None)  # LC_CTYPE_MASK
        if not self.loc:
            raise SystemExit("the C library has no C.UTF-8 locale")
        self.upper = lambda cp: libc.towupper_l(cp, self.loc)
        self.lower = lambda cp: libc.towlower_l(cp, self.loc)


_CASE = None


def partners(oracle, ch):
    """Bytes of the character that the C library's simple case mapping
    gives for ch, upper and lower, each None when that is ch itself or has
    no form in the code set."""
    global _CASE
    if ch is None:
        return [None, None]
    if _CASE is None:
        _CASE = _CaseOracle()
    result = []
    for mapped in (_CASE.upper(ord(ch)), _CASE.lower(ord(ch))):
        result.append(oracle.encode(chr(mapped)) if mapped != ord(ch) else None)
    return result


def expected_case(oracle, data, ch):
    """(upper wide, lower wide); a character without a partner maps to
    itself."""
    return tuple(int.from_bytes(p or data, "big") for p in partners(oracle, ch))


# ----------------------------------------------------- the library's readers

class BadFile(Exception):
    pass


class Stream:
    """A byte stream with the library's one-byte push-back."""

    def __init__(self, data):
        self.data, self.pos = data, 0

    def getc(self):
        if self.pos >= len(self.data):
            return -1
        self.pos += 1
        return self.data[self.pos - 1]

    def ungetc(self, c):
        if c >= 0:
            self.pos -= 1

    def fgets(self, size):
        """Up to size - 1 bytes, through the first line feed."""
        end = self.data.find(b"\n", self.pos, self.pos + size - 1)
        stop = end + 1 if end >= 0 else min(len(self.data), self.pos + size - 1)
        line = self.data[self.pos:stop]
        self.pos = stop
        return line if line else None

    def skip_blank(self):
        c = self.getc()
        if c not in (-1, 0x20):
            self.ungetc(c)

    def read_eol(self):
        c = self.getc()
        if c == 0x0A:
            return True
        self.ungetc(c)
        return False

    def need_eol(self, what):
        if not self.read_eol():
            raise BadFile("line end missing after %s at byte %d" % (what, self.pos))

    def read_int(self):
        self.skip_blank()
        c = self.getc()
        if c < 0 or not (chr(c).isdigit() or c in b"+-"):
            return 0
        text = chr(c)
        while True:
            c = self.getc()
            if c < 0:
                break
            if not 0x30 <= c <= 0x39:
                self.ungetc(c)
                break
            text += chr(c)
        try:
            return int(text[:40])
        except ValueError:
            return 0

    def read_hex(self, digits):
        value = 0
        for _ in range(min(digits, 8)):
            c = self.getc()
            d = int(chr(c), 16) if c >= 0 and chr(c) in "0123456789abcdefABCDEF" else 0
            value = value * 16 + d
        return value

    def read_string(self):
        n = self.read_int()
        self.skip_blank()
        if n < 0:
            raise BadFile("negative string length")
        data = bytes(self.read_hex(2) for _ in range(n))
        self.need_eol("a counted string")
        return data

    def read_int_list(self):
        n = self.read_int()
        self.skip_blank()
        if n > 15:
            raise BadFile("more than 15 values in a list")
        values = []
        for _ in range(max(n, 0)):
            values.append(self.read_int())
            self.skip_blank()
        self.need_eol("an integer list")
        return values


class Node:
    def __init__(self, states, values):
        self.states, self.values, self.children = states, values, {}


def read_runs(s, entries, read_entry):
    while True:
        start, length, repeat = s.read_hex(2), s.read_hex(3), s.read_hex(3)
        if length == 0:
            return
        if start + length * repeat > 256:
            raise BadFile("run record past the end of its array")
        body = [read_entry() for _ in range(length)]
        for i in range(repeat):
            entries[start + i * length:start + (i + 1) * length] = body
        s.need_eol("a run record")


class Table:
    """A code table as loaded from its text form."""

    def __init__(self, s):
        self.longest, self.shortest, self.flags = s.read_int(), s.read_int(), s.read_int()
        if self.longest > 4:
            raise BadFile("key length %d above 4" % self.longest)
        s.skip_blank()
        self.default = s.read_hex(4)
        s.need_eol("a code-table header")
        read_state = lambda: s.read_hex(2)    # noqa: E731
        read_value = lambda: s.read_hex(4)    # noqa: E731
        if self.flags & 2:
            n_states, n_values = s.read_int(), s.read_int()
            s.need_eol("the shared counts")
            shared_states, shared_values = [], []
            for _ in range(n_states):
                shared_states.append([0] * 256)
                read_runs(s, shared_states[-1], read_state)
            for _ in range(n_values):
                shared_values.append([self.default] * 256)
                read_runs(s, shared_values[-1], read_value)

            def node():
                has_s, has_v, si, vi = s.read_int(), s.read_int(), s.read_int(), s.read_int()
                s.need_eol("a node line")
                if (has_s and not 0 <= si < n_states) or (has_v and not 0 <= vi < n_values):
                    raise BadFile("node index outside the shared lists")
                return Node(shared_states[si] if has_s else None,
                            shared_values[vi] if has_v else None)
        else:
            def node():
                has_s, has_v = s.read_int(), s.read_int()
                s.need_eol("a node line")
                states = [0] * 256 if has_s else None
                if states is not None:
                    read_runs(s, states, read_state)
                values = [self.default] * 256 if has_v else None
                if values is not None:
                    read_runs(s, values, read_value)
                return Node(states, values)

        def subtree(depth):
            n = node()
            if depth > 4:
                raise BadFile("table deeper than four bytes")
            for b in range(256):
                if n.states is not None and n.states[b] == 1:
                    n.children[b] = subtree(depth + 1)
            return n
        self.root = subtree(1)

    def keys(self):
        """(key bytes, value) of every valid character, depth first."""
        stack = [(b"", self.root)]
        while stack:
            prefix, n = stack.pop()
            for b in range(255, -1, -1):
                state = n.states[b] if n.states else 0
                if state == 4:
                    yield prefix + bytes([b]), n.values[b] if n.values else self.default
                elif state == 1:
                    stack.append((prefix + bytes([b]), n.children[b]))

    def lookup(self, data):
        """(value, length) of the character at the start of data, or None."""
        n = self.root
        for i, b in enumerate(data):
            state = n.states[b] if n.states else 0
            if state == 4:
                return (n.values[b] if n.values else self.default), i + 1
            if state != 1:
                return None
            n = n.children[b]
        return None

    def lookup_wide(self, wc):
        """The key a wide value is looked up by: its big-endian bytes, at
        least as many as the shortest key."""
        n = 4 if wc > 0xFFFFFF else 3 if wc > 0xFFFF else 2 if wc > 0xFF else 1
        n = max(n, self.shortest)
        found = self.lookup(wc.to_bytes(4, "big")[4 - n:])
        return found[0] if found and found[1] == n else None


class LocaleFile:
    """The parts of one locale-object file that the checks need."""

    def __init__(self, data):
        s = Stream(data)
        for want in (b"FILE_TYPE=locale_object\n", b"COMPILER_VERSION=11\n"):
            if s.fgets(128) != want:
                raise BadFile("header line is not %r" % want)
        line = s.fgets(128)
        if not line or not line.endswith(b"\n") or b"=" not in line:
            raise BadFile("bad header count line")
        count = int(line.split(b"=", 1)[1])
        for _ in range(count - 3):
            skipped = s.fgets(128)
            if not skipped or not skipped.endswith(b"\n"):
                raise BadFile("bad skipped header line")
        line = s.fgets(21)
        if not line or not line.endswith(b"\n"):
            raise BadFile("bad code-set line")
        self.codeset = line[:-1].decode("ascii")
        self.s = s

        self.find("LC_CTYPE")
        self.classes = Table(s)
        n = s.read_int()
        s.need_eol("the class count")
        self.locale_classes = {}
        for _ in range(max(n, 0)):
            number = s.read_int()
            s.skip_blank()
            word = b""
            while True:
                c = s.getc()
                if c < 0:
                    raise BadFile("class name ends the file")
                if chr(c).isspace():
                    s.ungetc(c)
                    break
                word += bytes([c])
            s.need_eol("a class line")
            self.locale_classes[word.decode("ascii")] = number
        self.cases = Table(s)
        d = s.read_int()
        self.pairs = [None]
        for _ in range(d):
            s.need_eol("a case pair")
            self.pairs.append((s.read_hex(8), s.read_hex(8)))
        rest = s.fgets(128)
        if not rest or not rest.endswith(b"\n"):
            raise BadFile("case-factor line without line end")
        self.case_factor = 4.0 if rest == b"\n" else float(rest)

        self.find("LC_COLLATE")
        keyword = s.fgets(128)
        self.collation = keyword[:-1].decode("ascii") if keyword else None
        self.positions = None
        if self.collation == "as_specified":
            self.read_collation(s)

        self.find("LC_NUMERIC")
        self.numeric = [s.read_string(), s.read_string(), s.read_int_list(),
                        s.read_string(), s.read_string()]
        self.find("LC_MONETARY")
        self.monetary = [s.read_string() for _ in range(4)] + [s.read_int_list()]
        self.monetary += [s.read_string(), s.read_string()]
        for _ in range(8):
            self.monetary.append(s.read_int())
            s.need_eol("a monetary integer")
        self.find("LC_TIME")
        self.calendar = s.fgets(32)
        time = [s.read_string() for _ in range(14)]
        for _ in range(2):
            time.append([s.read_string() for _ in range(self.count())])
        time += [s.read_string() for _ in range(6)]
        time.append([s.read_string() for _ in range(self.count())])
        time += [s.read_string() for _ in range(3)]
        time.append([s.read_string() for _ in range(self.count())])
        self.time = time
        self.find("LC_MESSAGES")
        self.messages = [s.read_string() for _ in range(4)]

    def read_collation(self, s):
        self.positions = Table(s)
        self.codeorder = s.read_int()
        s.need_eol("the code-order line")
        maxpos, npasses, nelem, nexp, self.maxweight = (s.read_int() for _ in range(5))
        s.need_eol("the collation counts")
        if not (0 < npasses <= 8 and maxpos >= 0 and nelem >= 0 and nexp >= 0):
            raise BadFile("collation counts %r" % ((maxpos, npasses, nelem, nexp),))
        self.directions = [s.read_hex(4) for _ in range(npasses)]
        s.need_eol("the directions")
        if any(d not in (1, 2) for d in self.directions):
            raise BadFile("pass direction outside 1-2")
        self.elements = []
        for _ in range(nelem):
            n, pos = s.read_hex(1), s.read_hex(4)
            self.elements.append((pos, [s.read_hex(8) for _ in range(n)]))
            s.need_eol("an element")
        self.expansions = []
        for _ in range(nexp):
            n = s.read_hex(1)
            self.expansions.append([s.read_hex(8) for _ in range(n)])
            s.need_eol("an expansion")
        self.weights = []
        for _ in range(maxpos + 1):
            row = []
            for _ in range(npasses):
                if self.codeorder == 1:
                    s.skip_blank()
                row.append(s.read_hex(4))
            if self.codeorder != 1:
                s.need_eol("a weight line")
            self.weights.append(row)
        for data, pos in self.positions.keys():
            if pos > maxpos:
                raise BadFile("position %d of %s past %d" % (pos, data.hex(), maxpos))
        for row in self.weights:
            for w in row:
                if w == 0 or (w & 0x4000 and (w & 0x3FFF) >= nexp):
                    raise BadFile("weight %04x" % w)
                if not w & 0x4000 and (w & 0x3FFF) > self.maxweight:
                    raise BadFile("weight %04x above the largest weight" % w)

    def sort_key(self, data):
        """The key that orders single-byte strings as the passes do: per
        pass the weights (expansions replaced by their characters' weights,
        ignored characters dropped), then the codes of characters whose
        weight orders by code."""
        key = []
        for p in range(len(self.directions)):
            ws = []
            for b in data:
                pending = [b]
                while pending:
                    c = pending.pop(0)
                    w = self.weights[self.positions.lookup(bytes([c]))[0]][p]
                    if w & 0x4000:
                        pending = self.expansions[w & 0x3FFF] + pending
                    elif w != 1:
                        ws.append(w & 0x3FFF)
            key.append(ws if self.directions[p] == 1 else ws[::-1])
        key.append([b for b in data if self.weights[self.positions.lookup(bytes([b]))[0]][0] & 0x8000])
        return key

    def count(self):
        n = self.s.read_int()
        self.s.need_eol("a count")
        return max(n, 0)

    def find(self, category):
        marker = b"### %s\n" % category.encode()
        while True:
            piece = self.s.fgets(32)
            if piece is None:
                raise BadFile("marker of %s missing" % category)
            if piece == marker:
                return


# ----------------------------------------------------------------- checks

class Tally:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            if self.failed <= 40:
                print("FAIL: " + what)
        return ok


def check_characters(t, name, lco, oracle):
    classes, cases = lco.classes, lco.cases
    t.check(lco.locale_classes == {"full_width": 0}, "%s: locale classes %r" % (name, lco.locale_classes))
    want_factor = 1.0
    seen = set()
    for data, bits in classes.keys():
        seen.add(data)
        wide = int.from_bytes(data, "big")
        ch = oracle.decode(data)
        problems = []
        if not oracle.is_char(data):
            problems.append("not a character of the code set")
        if classes.lookup_wide(wide) != bits:
            problems.append("wide value 0x%x finds other class bits" % wide)
        want = expected_classes(ch)
        if bits != want:
            problems.append("classes 0x%04x, expected 0x%04x" % (bits, want))
        found = cases.lookup(data)
        if found is None or found[1] != len(data):
            problems.append("not in the case table")
        else:
            index = found[0]
            if index >= len(lco.pairs):
                problems.append("case index %d past the pairs" % index)
            else:
                up, low = lco.pairs[index] if index else (0, 0)
                got = (up or wide, low or wide)
                if got != expected_case(oracle, data, ch):
                    problems.append("case %x/%x, expected %x/%x" % (got + expected_case(oracle, data, ch)))
                for other in partners(oracle, ch):
                    if other is not None:
                        want_factor = max(want_factor, len(other) / len(data))
        t.check(not problems, "%s: %s: %s" % (name, data.hex(), "; ".join(problems)))

    # No character of the code set is missing from the table.
    everything = [bytes([b]) for b in range(256)] if oracle.single_byte else oracle.all_encoded()
    missing = [d.hex() for d in everything if d not in seen]
    t.check(not missing, "%s: %d characters missing, e.g. %s" % (name, len(missing), missing[:5]))
    # The tables refuse what is no character: every invalid byte after a
    # valid prefix.
    wrong = []
    stack = [(b"", classes.root)]
    while stack and len(wrong) < 5:
        prefix, n = stack.pop()
        for b in range(256):
            if n.states[b] == 1:
                stack.append((prefix + bytes([b]), n.children[b]))
            elif n.states[b] == 0 and oracle.is_char(prefix + bytes([b])):
                wrong.append((prefix + bytes([b])).hex())
    t.check(not wrong, "%s: characters refused by the table: %s" % (name, wrong))
    t.check(sorted(k for k, _ in cases.keys()) == sorted(seen),
            "%s: case table keys differ from the class table's" % name)
    t.check(lco.case_factor == want_factor and math.isfinite(lco.case_factor),
            "%s: case factor %r, expected %r" % (name, lco.case_factor, want_factor))


def check_file(t, tree, name):
    codeset, codec, single_byte, collation = LOCALES[name]
    path = os.path.join(tree, "lxr", "lc11", name)
    try:
        with open(path, "rb") as f:
            lco = LocaleFile(f.read())
    except (OSError, BadFile, ValueError) as e:
        t.check(False, "%s: %s" % (name, e))
        return
    oracle = Oracle(codeset, codec, single_byte)
    t.check(lco.codeset == codeset, "%s: code set %r" % (name, lco.codeset))
    t.check((lco.classes.longest == 1) == single_byte, "%s: single-byte flag" % name)
    check_characters(t, name, lco, oracle)

    # The NUL character is as long as the shortest character, and so is
    # the string terminator.
    m = lco.classes.shortest
    nul = lco.classes.lookup(bytes(4))
    t.check(nul is not None and nul[1] == m and m == min(len(oracle.encode(c) or b"....") for c in "\0A"),
            "%s: NUL character length %r, shortest %d" % (name, nul, m))
    t.check(lco.collation == collation, "%s: collation %r" % (name, lco.collation))
    if lco.positions is not None:
        t.check(sorted(k for k, _ in lco.positions.keys()) == sorted(k for k, _ in lco.classes.keys()),
                "%s: collation positions cover other characters than LC_CTYPE" % name)

    def text(data):
        return data.decode(codec) if data else ""
    calendar, months, eras, digits = TIME[name] if name in TIME else TIME["en_us/0333.lco"]
    t.check(lco.calendar == calendar, "%s: calendar %r" % (name, lco.calendar))
    abmon, mon, era, alt = lco.time[14], lco.time[15], lco.time[22], lco.time[26]
    t.check(len(mon) == months and len(abmon) == months and len(era) == eras and len(alt) == digits,
            "%s: %d/%d months, %d eras, %d digits" % (name, len(abmon), len(mon), len(era), len(alt)))
    t.check(all(text(e).count(":") >= 6 and text(e)[0] in "+-" for e in era),
            "%s: era strings without seven fields: %r" % (name, [text(e) for e in era]))
    formats = [text(f) for f in lco.time[16:19] + [lco.time[21]] + lco.time[23:26]]
    formats += [text(e).split(":", 6)[6] for e in era]
    refused = [f for f in formats if any(f[i + 1:i + 2] in REFUSED_CONVERSIONS
                                         for i in range(len(f)) if f[i] == "%" and f[i - 1:i] != "%")]
    t.check(not refused, "%s: formats with refused conversions %r" % (name, refused))
    ints = lco.monetary[7:]
    t.check(all(0 <= v <= 127 or v == 2147483647 for v in ints) and len(ints) == 8,
            "%s: LC_MONETARY integers %r" % (name, ints))
    t.check(all(0 < g < 128 for g in lco.numeric[2] + lco.monetary[4]),
            "%s: groupings %r %r" % (name, lco.numeric[2], lco.monetary[4]))
    t.check(len(lco.messages) == 4 and text(lco.messages[0]).startswith("^"),
            "%s: LC_MESSAGES %r" % (name, lco.messages))
    if name in ("en_us/0333.lco", "default.lco"):
        check_latin_collation(t, name, lco)


# Words in the order the C library gives them in en_US.ISO-8859-1 (the
# source of the four-pass collation of en_us.8859-1), each before the next.
LATIN_ORDER = ["!", "0", "a", "A", "\u00e1", "\u00c1", "\u00e0", "ab", "ae", "AE", "\u00e6",
               "\u00c6", "b", "d", "\u00f0", "e", "resume", "R\u00e9sum\u00e9", "strasse",
               "Strasse", "stra\u00dfe", "\u00ff", "z"]


def check_latin_collation(t, name, lco):
    t.check(lco.codeorder == 0 and len(lco.directions) == 4,
            "%s: not a four-pass collation" % name)
    keys = [lco.sort_key(w.encode("latin-1")) for w in LATIN_ORDER]
    for i in range(len(keys) - 1):
        t.check(keys[i] < keys[i + 1], "%s: %r should collate before %r" % (name, LATIN_ORDER[i], LATIN_ORDER[i + 1]))


def check_registry(t, tree):
    path = os.path.join(tree, "lxr", "cm3", "registry")
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        t.check(False, "registry: %s" % e)
        return
    names = {}
    for line in data.decode("ascii").splitlines():
        fields = line.split()
        if fields and not fields[0].startswith("#"):
            names[fields[0]] = int(fields[1])
    t.check(data.endswith(b"\n"), "registry: last line without line end")
    want = {"c": 819, "8859-1": 819, "utf8": 0xE01C, "sjis": 0xE006, "thai620": 0xE01D,
            "tst": 0xE020, "greek": 737, "ccsid28709": 29709}
    t.check(all(names.get(k) == v for k, v in want.items()) and len(names) == 122,
            "registry: %d names, samples %r" % (len(names), {k: names.get(k) for k in want}))


def expectations(codeset):
    for name, (cs, codec, single_byte, _) in LOCALES.items():
        if cs == codeset:
            break
    else:
        raise SystemExit("unknown code set %s" % codeset)
    oracle = Oracle(codeset, codec, single_byte)
    chars = [bytes([b]) for b in range(256)] if single_byte else sorted(oracle.all_encoded())
    for data in chars:
        ch = oracle.decode(data)
        up, low = expected_case(oracle, data, ch)
        print("%s %x %04x %x %x" % (data.hex(), int.from_bytes(data, "big"), expected_classes(ch), up, low))


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--tree")
    ap.add_argument("--expect")
    args = ap.parse_args(argv)
    if args.expect:
        expectations(args.expect)
        return 0
    if not args.tree:
        ap.error("--tree or --expect is required")
    t = Tally()
    check_registry(t, args.tree)
    for name in LOCALES:
        check_file(t, args.tree, name)
    print("%d passed, %d failed" % (t.passed, t.failed))
    return 1 if t.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
