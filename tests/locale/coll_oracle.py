#!/usr/bin/env python3
"""Compares the collation of the generated locale-object files with the C
library's strcoll and strxfrm in the same locales, built with localedef
from the same sources into a temporary directory.

For random strings, and for pairs built to tie at the first level (the same
letters with other accents and case, punctuation inserted), the signs of the
library's wide comparator, general comparator and sort keys (and of the
locale's mbscoll slot on strings without ignorable characters) must equal
the sign of strcoll and of strcmp of the strxfrm keys. Strings mix letters
with space, punctuation and controls, or with digits and currency signs,
never both: the C library gives digits and currency signs a backward second
level per run of characters, which one direction per pass cannot express.
Characters the generator names as not exact are left out. Shift-JIS strings
reach the C library re-encoded in UTF-8 (its SHIFT_JIS charmap reads some
bytes as other characters). Ends with "N passed, M failed".

usage: coll_oracle.py PROBE LC11_DIRECTORY LCOGEN_DIRECTORY
"""

import ctypes
import os
import random
import subprocess
import sys
import tempfile
import unicodedata

# our file -> (locale source, charmap, glibc locale name, our codec, glibc codec)
LOCALES = [
    ("en_us/0333.lco", "en_US", "ISO-8859-1", "en_US.ISO-8859-1", "8859-1", "latin-1", "latin-1"),
    ("de_de/0333.lco", "de_DE", "ISO-8859-1", "de_DE.ISO-8859-1", "8859-1", "latin-1", "latin-1"),
    ("ja_jp/e006.lco", "ja_JP", "UTF-8", "ja_JP.UTF-8", "sjis", "shift_jis", "utf-8"),
]
PAIRS = 3000  # per kind of pair, family and locale


def glibc_signs(name, codec):
    """Runs in a child: reads hex pairs, prints the signs of strcoll and of
    strcmp of the strxfrm keys."""
    libc = ctypes.CDLL("libc.so.6")
    libc.setlocale.restype = ctypes.c_char_p
    if libc.setlocale(6, name.encode()) is None:  # LC_ALL
        sys.exit("cannot set %s" % name)

    def xfrm(s):
        n = libc.strxfrm(None, s, 0)
        buf = ctypes.create_string_buffer(n + 1)
        libc.strxfrm(buf, s, n + 1)
        return buf.raw[:n]

    def sign(v):
        return (v > 0) - (v < 0)
    out = []
    for line in sys.stdin:
        a, b = (bytes.fromhex(h) for h in line.rstrip("\n").split(" "))
        ka, kb = xfrm(a), xfrm(b)
        out.append("%d %d" % (sign(libc.strcoll(a, b)), sign((ka > kb) - (ka < kb))))
    print("\n".join(out))


def families(cs, named):
    """The characters of the test strings: letters, and the two families
    of other characters."""
    chars = [ch for _d, ch in cs.characters() if ch not in named and ch != "\0"]
    letters = [c for c in chars if c.isalpha()]
    punct = [c for c in chars if not c.isalnum() and unicodedata.category(c)[0] in "PSZC"
             and unicodedata.category(c) != "Sc"]
    digits = [c for c in chars if c in "0123456789" or unicodedata.category(c) == "Sc"]
    return letters, punct, digits


def make_pairs(rng, letters, others, insert_others):
    groups = {}
    for c in letters:
        base = unicodedata.normalize("NFD", c)[0].lower()
        groups.setdefault(base, []).append(c)
    pairs = []

    def word(n):
        return [rng.choice(others) if others and rng.random() < 0.2 else rng.choice(letters)
                for _ in range(n)]
    for _ in range(PAIRS):
        pairs.append(("".join(word(rng.randint(0, 8))), "".join(word(rng.randint(0, 8)))))
    for _ in range(PAIRS):
        a = word(rng.randint(1, 8))
        b = []
        for c in a:
            g = groups.get(unicodedata.normalize("NFD", c)[0].lower()) if c in letters else None
            b.append(rng.choice(g) if g else c)
            if insert_others and others and rng.random() < 0.15:
                b.append(rng.choice(others))
        pairs.append(("".join(a), "".join(b)))
    return pairs


def main(argv):
    if len(argv) == 3 and argv[0] == "--glibc":
        glibc_signs(argv[1], argv[2])
        return 0
    probe, lc11, lcogen = argv
    sys.path.insert(0, lcogen)
    import glibc_collate
    from charsets import CODESETS
    passed = failed = 0
    shown = 0
    with tempfile.TemporaryDirectory() as locpath:
        for rel, source, charmap, name, codeset, ours, theirs in LOCALES:
            r = subprocess.run(["localedef", "-i", source, "-f", charmap,
                                os.path.join(locpath, name)], capture_output=True, text=True)
            if not os.path.isdir(os.path.join(locpath, name)):
                print("FAIL: localedef %s: %s" % (name, r.stderr.strip()))
                failed += 1
                continue
            cs = CODESETS[codeset]
            table = glibc_collate.table_for(source, cs)
            named = set(glibc_collate.inexact(table))
            if any(len(c) == 1 and len(unicodedata.normalize("NFD", c)) == 2 for c in named):
                print("FAIL: %s: a letter with one accent is named not exact" % rel)
                failed += 1
            letters, punct, digits = families(cs, named)
            rng = random.Random(3314)
            work = []  # (a, b, slot comparable)
            for others, insert in ((punct, True), (digits, False)):
                for a, b in make_pairs(rng, letters, others, insert):
                    work.append((a, b, others is digits))
            lines = "".join("%s %s\n" % (a.encode(ours).hex(), b.encode(ours).hex())
                            for a, b, _ in work)
            mine = subprocess.run([probe, os.path.join(lc11, rel)], input=lines,
                                  capture_output=True, text=True)
            if mine.returncode != 0:
                print("FAIL: probe %s: %s" % (rel, mine.stderr.strip()))
                failed += 1
                continue
            glines = "".join("%s %s\n" % (a.encode(theirs).hex(), b.encode(theirs).hex())
                             for a, b, _ in work)
            env = dict(os.environ, LOCPATH=locpath)
            theirs_out = subprocess.run([sys.executable, __file__, "--glibc", name, theirs],
                                        input=glines, capture_output=True, text=True, env=env)
            if theirs_out.returncode != 0:
                print("FAIL: glibc %s: %s" % (name, theirs_out.stderr.strip()))
                failed += 1
                continue
            for (a, b, slot), m, g in zip(work, mine.stdout.split("\n"),
                                          theirs_out.stdout.split("\n")):
                wcoll, im, key, mbscoll = (int(v) for v in m.split())
                coll, xfrm = (int(v) for v in g.split())
                got = [wcoll, im, key] + ([mbscoll] if slot else [])
                if all(v == coll for v in got) and xfrm == coll:
                    passed += 1
                    continue
                failed += 1
                if shown < 20:
                    shown += 1
                    print("FAIL: %s: %r %r: strcoll %d strxfrm %d, ours %r" % (
                        rel, a, b, coll, xfrm, got))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
