#!/usr/bin/env python3
"""Differential test of the installed conversion objects: every single
source character and random texts (valid, cut short, invalid) go through
the library (by way of cvo_probe) and through Python's codecs, and the
random texts also through glibc's iconv(3); the EBCDIC Korean mixed code
set, which Python lacks, has glibc as its only oracle.

A character the target lacks must come out as the target's "?" with the
substitution flag. Prints "N passed, M failed"; exit status 1 on failures.

usage: cvo_oracle.py PROBE TREE [SEED]
"""

import codecs
import ctypes
import os
import random
import subprocess
import sys

SO, SI = b"\x0e", b"\x0f"


class Iconv:
    """glibc iconv(3): bytes, or None when iconv refuses the input."""

    libc = None

    def __init__(self, to, frm):
        if Iconv.libc is None:
            libc = ctypes.CDLL("libc.so.6")
            libc.iconv_open.restype = ctypes.c_void_p
            libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
            pp, sp = ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)
            libc.iconv.argtypes = [ctypes.c_void_p, pp, sp, pp, sp]
            libc.iconv.restype = ctypes.c_size_t
            Iconv.libc = libc
        self.cd = Iconv.libc.iconv_open(to.encode(), frm.encode())

    def __call__(self, data):
        libc, fail = Iconv.libc, ctypes.c_size_t(-1).value
        libc.iconv(self.cd, None, None, None, None)
        src = ctypes.create_string_buffer(data, len(data))
        dst = ctypes.create_string_buffer(16 + 8 * len(data))
        ip, il = ctypes.c_char_p(ctypes.addressof(src)), ctypes.c_size_t(len(data))
        op, ol = ctypes.c_char_p(ctypes.addressof(dst)), ctypes.c_size_t(len(dst))
        room = ol.value
        if libc.iconv(self.cd, ctypes.byref(ip), ctypes.byref(il), ctypes.byref(op),
                      ctypes.byref(ol)) == fail or il.value:
            return None
        if libc.iconv(self.cd, None, None, ctypes.byref(op), ctypes.byref(ol)) == fail:
            return None
        return dst.raw[:room - ol.value]


class Bad(Exception):
    """A source text the library must refuse: error 1 invalid, 7 cut short."""

    def __init__(self, error):
        super().__init__(error)
        self.error = error


class PyCodeSet:
    def __init__(self, codec, glibc):
        self.codec, self.glibc = codec, glibc

    prefixes = None

    def decode(self, data):
        try:
            return data.decode(self.codec)
        except UnicodeDecodeError:
            pass
        dec = codecs.getincrementaldecoder(self.codec)()
        try:
            dec.decode(data, False)
        except UnicodeDecodeError:
            raise Bad(1)
        self.cut_short(dec.getstate()[0])
        raise Bad(1)

    def cut_short(self, rest):
        """Raises Bad(7) when rest begins some character of the code set."""
        if self.prefixes is None:
            self.prefixes = set()
            for d in self.singles():
                try:
                    self.decode(d)
                except Bad:
                    continue
                self.prefixes.update(d[:i] for i in range(1, len(d)))
        if rest and rest in self.prefixes:
            raise Bad(7)

    def encode_char(self, ch):
        try:
            return ch.encode(self.codec)
        except UnicodeEncodeError:
            return None

    def encode(self, text):
        """(bytes, substitution flag)."""
        try:
            return text.encode(self.codec), 0
        except UnicodeEncodeError:
            pass
        out, subst = [], 0
        for ch in text:
            b = self.encode_char(ch)
            if b is None:
                b, subst = self.encode_char("?"), 1
            out.append(b)
        return b"".join(out), subst

    def singles(self):
        for b in range(256):
            yield bytes([b])


class Utf8(PyCodeSet):
    # Planes 3-13, 15 and 16 hold no character of any code set here and
    # take one path through the tables: a spread sample of them will do.
    SPARSE_STEP = 61

    def singles(self):
        for cp in range(0x110000):
            if 0xD800 <= cp <= 0xDFFF:
                continue
            if (cp >> 16) in (0, 1, 2, 14) or cp % self.SPARSE_STEP == 0:
                yield chr(cp).encode()


class Sjis(PyCodeSet):
    def singles(self):
        yield from super().singles()
        for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD)):
            for trail in range(256):
                yield bytes([lead, trail])


class Ucs2(PyCodeSet):
    """Two-byte units, little-endian, no surrogates."""

    def __init__(self):
        super().__init__("utf-16-le", "UTF-16LE")

    def decode(self, data):
        units = [int.from_bytes(data[i:i + 2], "little") for i in range(0, len(data) - 1, 2)]
        if any(0xD800 <= u <= 0xDFFF for u in units):
            raise Bad(1)
        if len(data) % 2:
            raise Bad(7)
        return "".join(map(chr, units))

    def encode_char(self, ch):
        return ch.encode("utf-16-le") if ord(ch) <= 0xFFFF else None

    def encode(self, text):
        if all(ord(ch) <= 0xFFFF for ch in text):
            return text.encode("utf-16-le"), 0
        return super().encode(text)

    def singles(self):
        for u in range(0x10000):
            yield u.to_bytes(2, "little")


class Ebcdic933(PyCodeSet):
    def __init__(self):
        super().__init__(None, "IBM933")
        self.dec, self.enc = Iconv("UTF-8", "IBM933"), Iconv("IBM933", "UTF-8")

    def decode(self, data):
        out = self.dec(data)
        if out is None:
            # Cut short: a shifted run ending on the first byte of a pair.
            shifted, i = False, 0
            while i < len(data):
                c = data[i:i + 1]
                if c in (SO, SI):
                    shifted, i = c == SO, i + 1
                else:
                    i += 2 if shifted else 1
            if i > len(data):
                self.cut_short_lead(data[-1])
            raise Bad(1)
        return out.decode()

    def cut_short_lead(self, lead):
        if any(self.dec(SO + bytes([lead, t]) + SI) for t in range(0x40, 0xFF)):
            raise Bad(7)

    def encode_char(self, ch):
        return self.enc(ch.encode())

    def encode(self, text):
        subst = 0
        chars = []
        for ch in text:
            if self.encode_char(ch) is None:
                ch, subst = "?", 1
            chars.append(ch)
        return self.enc("".join(chars).encode()), subst

    def singles(self):
        for b in range(256):
            if bytes([b]) not in (SO, SI):
                yield bytes([b])
        for lead in range(0x40, 0xFF):
            for trail in range(0x40, 0xFF):
                yield SO + bytes([lead, trail]) + SI


CODESETS = {
    "8859-1": ("en_us.8859-1", PyCodeSet("latin-1", "ISO-8859-1")),
    "utf8": ("en_us.utf8", Utf8("utf-8", "UTF-8")),
    "sjis": ("ja_jp.sjis", Sjis("shift_jis", "SHIFT_JIS")),
    "cp1252": ("en_us.cp1252", PyCodeSet("cp1252", "CP1252")),
    "unicode": ("en_us.unicode", Ucs2()),
    "thai620": ("th_th.thai620", PyCodeSet("tis_620", "TIS-620")),
    "csid933": ("ko_kr.csid933", Ebcdic933()),
}
PAIRS = [("8859-1", "utf8"), ("sjis", "utf8"), ("cp1252", "8859-1"),
         ("8859-1", "unicode"), ("thai620", "utf8"), ("csid933", "utf8")]


def expected(src, tgt, data):
    """(rc, error, substitution flag, output) as the library must give."""
    try:
        text = src.decode(data)
    except Bad as e:
        return -1, e.error, None, None
    out, subst = tgt.encode(text)
    return 0, 0, subst, out


class Tally:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
            return
        self.failed += 1
        if self.failed <= 20:
            print("FAIL", what)


def run_probe(probe, env, tspec, sspec, inputs):
    text = "".join(d.hex() + "\n" for d in inputs)
    r = subprocess.run([probe, tspec, sspec], input=text, capture_output=True, text=True,
                       env=env, check=False)
    if r.returncode != 0:
        raise SystemExit("cvo_probe %s %s: %s" % (tspec, sspec, r.stderr))
    results = []
    for line in r.stdout.splitlines():
        rc, err, subst, *out = line.split(" ")
        results.append((int(rc), int(err), int(subst), bytes.fromhex(out[0] if out else "")))
    return results


def random_texts(rng, valid_singles, count):
    """Valid texts of 1-12 characters, and the same cut or corrupted."""
    texts = []
    for _ in range(count):
        chars = [rng.choice(valid_singles) for _ in range(rng.randint(1, 12))]
        texts.append(b"".join(chars))
    broken = []
    for t in texts[: count // 3]:
        broken.append(t[: rng.randint(0, len(t))])
        pos = rng.randrange(len(t))
        broken.append(t[:pos] + bytes([rng.randrange(256)]) + t[pos + 1:])
    return texts, broken


def check_pair(probe, env, rng, sname, tname, tally):
    (sspec, src), (tspec, tgt) = CODESETS[sname], CODESETS[tname]
    singles = list(src.singles())
    want = [expected(src, tgt, d) for d in singles]
    valid = [d for d, w in zip(singles, want) if w[0] == 0 and d != b"\x00" and d != b"\x00\x00"]
    texts, broken = random_texts(rng, valid, 300)
    inputs = singles + texts + broken
    want += [expected(src, tgt, d) for d in texts + broken]
    got = run_probe(probe, env, tspec, sspec, inputs)
    label = "%s->%s" % (sname, tname)
    for data, w, g in zip(inputs, want, got):
        if w[0] == 0:
            tally.check(g == w, "%s %s: want %s got %s" % (label, data.hex(), w, g))
        else:
            tally.check(g[:2] == w[:2], "%s %s: want rc/error %s got %s" % (label, data.hex(), w[:2], g[:2]))
    tally.check(len(got) == len(inputs), "%s: %d results for %d inputs" % (label, len(got), len(inputs)))
    # The same random texts through glibc: where glibc converts the whole
    # text and Python agrees on it, the library must give glibc's bytes.
    if src.codec is not None and tgt.codec is not None:
        oracle = Iconv(tgt.glibc, src.glibc)
        for data, w, g in zip(texts, want[len(singles):], got[len(singles):]):
            g_out = oracle(data)
            if g_out is not None and w[0] == 0 and not w[2] and g_out == w[3]:
                tally.check(g[3] == g_out, "%s %s: glibc %s got %s" % (label, data.hex(), g_out.hex(), g[3].hex()))


def main(argv):
    probe, tree = argv[0], argv[1]
    seed = int(argv[2]) if len(argv) > 2 else 20240613
    print("seed", seed)
    rng = random.Random(seed)
    env = dict(os.environ, TARVELONDIR=tree)
    env.pop("GL_PATH", None)
    tally = Tally()
    for a, b in PAIRS:
        for s, t in ((a, b), (b, a)):
            check_pair(probe, env, rng, s, t, tally)
    print("%d passed, %d failed" % (tally.passed, tally.failed))
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
