#!/usr/bin/env python3
"""Writes the installation's conversion-object files into an installation
tree:

    lxr/cv9/<source number><target number>.cvo   (4 hex digits each)
    lxr/cv9/<source name>_<target name>.cvo      (the same content, for
                                                  opening by code-set name)

File layout (one line feed after every line):

    FILE_TYPE=codeset_conversion_object
    COMPILER_VERSION=9
    HEADER_LINES=5
    SOURCE=<name> <number>          informational
    TARGET=<name> <number>          informational
    <source stateful> <target stateful>
    <four shift sequences>          each: 1 hex digit n, then n hex bytes
    <tmin> <tmax> 0 0 <smin> <smax>
    <skip byte table>
    <expansion factor>
    the code table, then (stateful source only) the shifted-state table

A value is a flag byte and its target bytes, hex: bits 0-2 the count of
target bytes, 0x08 the string terminator, 0x10 a valid mapping, 0x20 a
substitution (the target has no such character: its "?" is written), 0x40
target bytes of the shifted state, 0x80 the character toggles the source's
shift state. All-zero marks a byte sequence the source lacks.

Characters come from Python's codecs; the EBCDIC Korean mixed code set
from glibc's iconv.

usage: gen_cvo.py --tree DIR [--pair SRC:TGT ...]
"""

import argparse
import ctypes
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "lcogen"))

from charsets import CODESETS                # noqa: E402
from codetable import CodeTable, dump        # noqa: E402
from gen_lco import write_file               # noqa: E402
from registry import number_of               # noqa: E402

VALID, TERMINATOR, SUBST, SHIFTED, TOGGLE = 0x10, 0x08, 0x20, 0x40, 0x80
SO, SI = 0x0E, 0x0F


class Iconv:
    """One glibc iconv(3) conversion, reset before every use."""

    _libc = None

    def __init__(self, to, frm):
        if Iconv._libc is None:
            libc = ctypes.CDLL("libc.so.6", use_errno=True)
            libc.iconv_open.restype = ctypes.c_void_p
            libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
            pp, sp = ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)
            libc.iconv.argtypes = [ctypes.c_void_p, pp, sp, pp, sp]
            libc.iconv.restype = ctypes.c_size_t
            Iconv._libc = libc
        self.cd = Iconv._libc.iconv_open(to.encode(), frm.encode())
        if self.cd in (None, ctypes.c_void_p(-1).value):
            raise SystemExit("iconv cannot convert %s to %s" % (frm, to))

    def __call__(self, data):
        """The converted bytes with the final shift state flushed, or None
        when iconv refuses the input."""
        libc, fail = Iconv._libc, ctypes.c_size_t(-1).value
        libc.iconv(self.cd, None, None, None, None)
        src = ctypes.create_string_buffer(data, len(data))
        dst = ctypes.create_string_buffer(16 + 4 * len(data))
        ip, il = ctypes.c_char_p(ctypes.addressof(src)), ctypes.c_size_t(len(data))
        op, ol = ctypes.c_char_p(ctypes.addressof(dst)), ctypes.c_size_t(len(dst))
        room = ol.value
        if libc.iconv(self.cd, ctypes.byref(ip), ctypes.byref(il), ctypes.byref(op),
                      ctypes.byref(ol)) == fail or il.value != 0:
            return None
        if libc.iconv(self.cd, None, None, ctypes.byref(op), ctypes.byref(ol)) == fail:
            return None
        return dst.raw[:room - ol.value]


class Side:
    """A code set as one side of a conversion.

    chars(): (key bytes, character, shifted) of every source character;
    encode(ch): (target bytes, shifted) or None."""

    stateful = False
    shift_line = "0000"

    def __init__(self, name, number, codec=None):
        self.name, self.number, self.codec = name, number, codec

    def chars(self):
        cs = CODESETS.get(self.name)
        if cs is not None:
            for data, ch in cs.characters():
                if ch is not None:
                    yield data, ch, False
            return
        for b in range(256):
            try:
                yield bytes([b]), bytes([b]).decode(self.codec), False
            except UnicodeDecodeError:
                pass

    def encode(self, ch):
        try:
            return ch.encode(self.codec), False
        except UnicodeEncodeError:
            return None

    def widths(self):
        """(shortest, longest) character."""
        lens = [len(k) for k, _, _ in self.chars()]
        return min(lens), max(lens)


class Ucs2(Side):
    """Fixed two-byte units, little-endian in the data; keys and values hold
    the unit most significant byte first."""

    def chars(self):
        for u in range(0x10000):
            if not 0xD800 <= u <= 0xDFFF:
                yield u.to_bytes(2, "big"), chr(u), False

    def encode(self, ch):
        u = ord(ch)
        if u > 0xFFFF or 0xD800 <= u <= 0xDFFF:
            return None
        return u.to_bytes(2, "big"), False

    def widths(self):
        return 2, 2


class Ebcdic933(Side):
    """EBCDIC Korean mixed: single bytes, and byte pairs between shift-out
    0x0E and shift-in 0x0F."""

    stateful = True
    shift_line = "10e10f00"

    def __init__(self, name, number):
        super().__init__(name, number)
        self._dec = Iconv("UTF-8", "IBM933")
        self._enc = Iconv("IBM933", "UTF-8")

    def chars(self):
        for shifted in (False, True):
            yield bytes([SO]), None, shifted
            yield bytes([SI]), None, shifted
        for b in range(256):
            if b not in (SO, SI):
                out = self._dec(bytes([b]))
                if out:
                    yield bytes([b]), out.decode(), False
        for lead in range(0x40, 0xFF):
            for trail in range(0x40, 0xFF):
                out = self._dec(bytes([SO, lead, trail, SI]))
                if out:
                    yield bytes([lead, trail]), out.decode(), True

    def encode(self, ch):
        out = self._enc(ch.encode())
        if out is None:
            return None
        if not out:
            return b"", False  # iconv drops the character (tag characters)
        if out[0] == SO and out[-1] == SI:
            return out[1:-1], True
        return out, False

    def widths(self):
        return 1, 2


def side(name):
    number = number_of(name)
    if name == "unicode":
        return Ucs2(name, number)
    if name == "csid933":
        return Ebcdic933(name, number)
    if name == "cp1252":
        return Side(name, number, "cp1252")
    return Side(name, number, CODESETS[name].codec)


def value(flag, data):
    return "%02x%s" % (flag | len(data), data.hex())


def conversion(src, tgt):
    """The text of the conversion-object file from src to tgt."""
    substitute, _ = tgt.encode("?")
    tables = [CodeTable("00"), CodeTable("00")]
    expansion, tmax, tmin = 1.0, 1, 4
    for key, ch, shifted in src.chars():
        table = tables[1 if shifted and src.stateful else 0]
        if ch is None:
            # A shift byte: shift-out in the initial state and shift-in in
            # the shifted one toggle; repeated ones are accepted and ignored.
            toggles = (key[0] == SO) != shifted
            table.insert(key, value(TOGGLE if toggles else VALID, b""))
            continue
        flag = VALID | (TERMINATOR if ord(ch) == 0 else 0)
        encoded = tgt.encode(ch)
        if encoded is None:
            encoded, flag = (substitute, False), flag | SUBST
        data, out_shifted = encoded
        if out_shifted:
            flag |= SHIFTED
        # Worst case around the character: a shift sequence before it, and
        # for a shifted one also the final shift-in after it.
        overhead = (2 if out_shifted else 1) if tgt.stateful else 0
        expansion = max(expansion, (len(data) + overhead) / len(key))
        tmax, tmin = max(tmax, len(data)), min(tmin, max(len(data), 1))
        table.insert(key, value(flag, data))
    tmin_fixed, tmax_fixed = tgt.widths()
    if tmin_fixed == tmax_fixed:
        tmin = tmax = tmax_fixed
    elif tmin == tmax and tmax in (2, 4):
        tmin = 1  # a fixed width would make the library write units
    smin, smax = src.widths()
    shared = smax > 1
    lines = [
        "FILE_TYPE=codeset_conversion_object",
        "COMPILER_VERSION=9",
        "HEADER_LINES=5",
        "SOURCE=%s %d" % (src.name, src.number),
        "TARGET=%s %d" % (tgt.name, tgt.number),
        "%d %d" % (src.stateful, tgt.stateful),
        tgt.shift_line if tgt.stateful else "0000",
        "%d %d 0 0 %d %d" % (tmin, tmax, smin, smax),
        "0",
        repr(expansion),
    ]
    text = "\n".join(lines) + "\n" + dump(tables[0], str, shared)
    if src.stateful:
        text += dump(tables[1], str, True)
    return text


# The first set of conversions, source then target, both ways.
PAIRS = [("8859-1", "utf8"), ("sjis", "utf8"), ("cp1252", "8859-1"),
         ("8859-1", "unicode"), ("thai620", "utf8"), ("csid933", "utf8")]


def all_pairs():
    for a, b in PAIRS:
        yield a, b
        yield b, a


def file_names(src, tgt):
    return ["%04x%04x.cvo" % (number_of(src), number_of(tgt)), "%s_%s.cvo" % (src, tgt)]


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--tree", required=True, help="installation directory")
    ap.add_argument("--pair", action="append", help="SRC:TGT (default: all)")
    args = ap.parse_args(argv)
    pairs = [tuple(p.split(":", 1)) for p in args.pair] if args.pair else list(all_pairs())
    cv = os.path.join(args.tree, "lxr", "cv9")
    for src, tgt in pairs:
        text = conversion(side(src), side(tgt))
        for name in file_names(src, tgt):
            write_file(os.path.join(cv, name), text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
