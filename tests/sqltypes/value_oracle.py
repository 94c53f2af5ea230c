#!/usr/bin/env python3
"""Differential test of value conversion, unload text, comparison and
LIKE / MATCHES: value_probe's answers against models written here from
Python's int, float, struct, decimal and re.

Conversions follow Python's integers and Decimal (a FLOAT as the
17-significant-digit decimal of the double, a SMALLFLOAT as the 9-digit
one), with the range errors where the value leaves INTEGER, SMALLINT or
BIGINT. The LIKE / MATCHES model is a regular expression per pattern
prefix: a value matches when some prefix of the pattern matches all of it
and every token after the prefix may stand at the end of a value.
"""
import argparse
import itertools
import os
import random
import re
import struct
import subprocess
import sys
from decimal import Decimal, ROUND_HALF_UP, ROUND_DOWN, localcontext
from fractions import Fraction as F

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from decimal_oracle import to_b100, value  # noqa: E402
from types_oracle import dectoasc_model  # noqa: E402

I31, I63 = 2 ** 31, 2 ** 63


def fmt_dec(d):
    sign, exp, digits = d
    return "%d:%d:%s" % (sign, exp, "".join("%02X" % b for b in digits))


def parse_dec(t):
    if t == "N":
        return None
    sign, exp, hexd = t.split(":")
    return (int(sign), int(exp), tuple(int(hexd[i:i + 2], 16) for i in range(0, len(hexd), 2)))


def dec_of(x):
    """A Decimal triple of an exact number (at most 16 base-100 bytes)."""
    rc, d = to_b100(F(x))
    assert rc == 0
    return d


def dec_exact(fr):
    """A Fraction whose denominator is a power of 100, as an exact Decimal."""
    with localcontext() as c:
        c.prec = 100
        return Decimal(fr.numerator) / Decimal(fr.denominator)


def dbl_bits(x):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", x))[0]


def flt_bits(x):
    return "%08x" % struct.unpack("<I", struct.pack("<f", x))[0]


def as_float32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def d17(x):
    """The decimal of a double with 17 significant digits."""
    return Decimal("%.16e" % x)


def d9(x):
    return Decimal("%.8e" % x)


class Probe:
    def __init__(self, path, env):
        self.path, self.env = path, env

    def run(self, lines):
        text = "".join(l + "\n" for l in lines)
        out = subprocess.run([self.path], input=text.encode("latin-1"), capture_output=True,
                             env=self.env, check=True).stdout.decode("latin-1")
        return out.split("\n")[:len(lines)]


# ------------------------------------------------------------ conversions

def rand_int(rng, bits):
    k = rng.choice([4, 8, 15, 16, 31, 32, 40, 62, 63, 64])
    k = min(k, bits)
    return rng.randint(-(2 ** k) + 1, 2 ** k - 1)


def rand_numtext(rng):
    ip = str(rng.randint(0, 10 ** rng.randint(0, 20)))
    if rng.random() < 0.5:
        ip += "." + str(rng.randint(0, 10 ** rng.randint(1, 6))).zfill(rng.randint(1, 6))
    return ("-" if rng.random() < 0.4 else "") + ip


def conv_cases(rng, n):
    """(probe line, exact value or None, kind) for random values."""
    cases = []
    for _ in range(n):
        kind = rng.choice(["smallint", "integer", "bigint", "int8", "decimal", "money", "float",
                           "smallfloat", "char"])
        if kind == "smallint":
            v = rng.randint(-32767, 32767)
            cases.append(("1:%d" % v, Decimal(v), kind))
        elif kind == "integer":
            v = rng.randint(-(I31 - 1), I31 - 1)
            cases.append(("2:%d" % v, Decimal(v), kind))
        elif kind in ("bigint", "int8"):
            v = rand_int(rng, 63)
            cases.append(("%d:%d" % (52 if kind == "bigint" else 17, v), Decimal(v), kind))
        elif kind in ("decimal", "money"):
            with localcontext() as c:
                c.prec = 60
                x = Decimal(rand_numtext(rng)) * Decimal(10) ** rng.randint(-3, 2)
            d = dec_of(F(x))
            cases.append(("%d:%s" % (5 if kind == "decimal" else 8, fmt_dec(d)),
                          dec_exact(value(d)), kind))
        elif kind == "float":
            x = rng.choice([rng.uniform(-1e6, 1e6), rng.uniform(-3e9, 3e9),
                            rng.uniform(-1e19, 1e19), rng.uniform(-1, 1)])
            cases.append(("3:" + dbl_bits(x), x, kind))
        elif kind == "smallfloat":
            x = as_float32(rng.choice([rng.uniform(-1e6, 1e6), rng.uniform(-3e9, 3e9),
                                       rng.uniform(-1, 1)]))
            cases.append(("4:" + flt_bits(x), x, kind))
        else:
            t = rand_numtext(rng)
            cases.append(("0:" + t, t, kind))
    return cases


def exact_of(x, kind):
    """The exact number the Decimal step sees."""
    if kind == "float":
        return d17(x)
    if kind == "smallfloat":
        return d9(x)
    if kind == "char":
        return Decimal(x)
    return x


def trunc(d):
    return int(d.to_integral_value(rounding=ROUND_DOWN))


def check_conv(line, x, kind, got):
    """Expected fields of conv, compared field by field; a list of faults."""
    f = got.split("\t")
    if len(f) != 6:
        return ["malformed"]
    faults = []
    ex = exact_of(x, kind)
    # INT8 from a double below 2^31 truncates the double itself.
    i = trunc(ex)
    rc4, v4 = map(int, f[0].split())
    want4 = (0, i) if abs(i) <= I31 - 1 else (-1215, None)
    if rc4 != want4[0] or (rc4 == 0 and v4 != want4[1]):
        faults.append("int4 %s want %s" % (f[0], want4))
    rc2, v2 = map(int, f[1].split())
    if abs(i) > I31 - 1:
        want2 = (-1215, None)
    elif abs(i) > 32767:
        want2 = (-1214, None)
    else:
        want2 = (0, i)
    if rc2 != want2[0] or (rc2 == 0 and v2 != want2[1]):
        faults.append("int2 %s want %s" % (f[1], want2))
    rcb, vb = map(int, f[2].split())
    wantb = (0, i) if abs(i) <= I63 - 1 else (-1284, None)
    if rcb != wantb[0] or (rcb == 0 and vb != wantb[1]):
        faults.append("bigint %s want %s" % (f[2], wantb))
    rcd, bits = f[3].split()
    if kind in ("float", "smallfloat"):
        wantd = x
    elif kind == "char":
        wantd = float(x)
    else:
        wantd = float(ex)
    if int(rcd) != 0 or bits != dbl_bits(wantd):
        faults.append("dbl %s want %s" % (f[3], dbl_bits(wantd)))
    rcx, d = f[4].split()
    dv = value(parse_dec(d)) if int(rcx) == 0 else None
    if int(rcx) != 0 or dv != F(ex):
        faults.append("dec %s want %s" % (f[4], ex))
    rc8, v8 = f[5].split()
    if kind in ("float", "smallfloat"):
        # The double itself below 2^31, else its 17-digit decimal.
        j = int(x) if abs(x) < I31 else trunc(d17(x))
        want8 = (0, j) if abs(j) <= I63 - 1 else (-1284, None)
    elif kind == "char" and len(x.lstrip("-")) > 25:
        want8 = (-1284, None)  # the INT8 text reader takes at most 25 characters after the sign
    else:
        want8 = (0, i) if abs(i) <= I63 - 1 else (-1284, None)
    if int(rc8) != want8[0] or (want8[0] == 0 and int(v8) != want8[1]):
        faults.append("int8 %s want %s" % (f[5], want8))
    return faults


def edge_conv_cases():
    """Values just outside each range: (line, expected rc of int4, int2, bigint)."""
    return [
        ("2:-2147483648", (-1215, -1215, 0)),   # a non-null INTEGER 0x80000000
        ("1:-32768", (0, -1214, 0)),
        ("52:2147483648", (-1215, -1215, 0)),
        ("52:-2147483648", (-1215, -1215, 0)),
        ("0:9223372036854775808", (-1215, -1215, -1284)),
        ("0:-9223372036854775807", (-1215, -1215, 0)),
        ("0:32768", (0, -1214, 0)),
        ("0:38850776154339856909", (-1215, -1215, -1284)),  # ten bytes past 2^64
        ("0:12a", (-1213, -1213, -1213)),
        ("3:" + dbl_bits(9.3e18), (-1215, -1215, -1284)),
        ("11:x", (-608, -608, -608)),
        ("45:x", (-1260, -1260, -1260)),
    ]


# ------------------------------------------------------------ unload text

def text_model(kind, x, w, left):
    """rvaltotext's expected "rc\t[field]"."""
    W = w if 1 <= w <= 80 else 80
    if kind in ("smallint", "integer", "bigint", "int8"):
        s = str(x)
    elif kind == "float":
        p = 6
        if W < 15:
            p = W - 9 if x < 0 else W - 8
            if p < 2:
                p = 0
        s = "%.*e" % (p, x)
    elif kind == "decimal":
        d, scale = x
        m = dectoasc_model(d, W, 16 if scale == 255 else scale)
        if m.startswith("-1"):
            return "-1207\t[" + "*" * w + "]" if w > 0 else None
        s = m[m.index("[") + 1:-1].rstrip(" ")
    elif kind == "char":
        s = x
        if w <= 0:
            return "0\t[" + s + "]"
        return "0\t[" + s[:w].ljust(w) + "]"
    if w > 0 and len(s) > w:
        return "-1207\t[" + "*" * w + "]"
    if w <= 0:
        return "0\t[" + s + "]"
    return "0\t[" + (s.ljust(w) if left else s.rjust(w)) + "]"


def text_cases(rng, n):
    cases = []
    for _ in range(n):
        kind = rng.choice(["smallint", "integer", "bigint", "int8", "float", "decimal", "char"])
        w = rng.randint(0, 82)
        left = rng.randint(0, 1)
        if kind == "smallint":
            x = rng.randint(-32767, 32767)
            spec = "1:%d" % x
        elif kind == "integer":
            x = rng.randint(-(I31 - 1), I31 - 1)
            spec = "2:%d" % x
        elif kind in ("bigint", "int8"):
            x = rand_int(rng, 63)
            spec = "%d:%d" % (52 if kind == "bigint" else 17, x)
        elif kind == "float":
            # The exponent form: magnitudes outside 1e-130 .. 1e124.
            x = rng.choice([1, -1]) * rng.choice([rng.uniform(1, 9.9) * 10.0 ** rng.randint(125, 300),
                                                  rng.uniform(1, 9.9) * 10.0 ** -rng.randint(131, 300)])
            spec = "3:" + dbl_bits(x)
        elif kind == "decimal":
            with localcontext() as c:
                c.prec = 60
                v = Decimal(rand_numtext(rng)) * Decimal(10) ** rng.randint(-4, 2)
            d = dec_of(F(v))
            scale = rng.choice([255, rng.randint(0, 6)])
            x = (d, scale)
            spec = "5/%04x:%s" % ((30 << 8) | scale, fmt_dec(d))
        else:
            x = "".join(rng.choice("ab c") for _ in range(rng.randint(0, 12)))
            spec = "0:" + x
        want = text_model(kind, x, w, left)
        if want is not None:
            cases.append(("text\t%s\t%d\t%d" % (spec, w, left), want))
    return cases


# ------------------------------------------------------------ comparison

CMP_OPS = {46: lambda c: c == 0, 47: lambda c: c != 0, 48: lambda c: c <= 0,
           49: lambda c: c < 0, 50: lambda c: c >= 0, 51: lambda c: c > 0}


def rand_cmp_value(rng, kind, near=None):
    """(spec, kind, exact value) of a random value, often equal to `near`."""
    if near is not None and rng.random() < 0.4:
        base = int(near) if abs(near) < I31 - 1 else rng.randint(-1000, 1000)
    else:
        base = rng.randint(-100000, 100000)
    if kind == "smallint":
        v = max(-32767, min(32767, base))
        return "1:%d" % v, v
    if kind == "integer":
        return "2:%d" % base, base
    if kind in ("bigint", "int8"):
        v = base * rng.choice([1, 1, 1000000007])
        return "%d:%d" % (52 if kind == "bigint" else 17, v), v
    if kind in ("decimal", "money"):
        v = F(base) + F(rng.choice([0, 0, rng.randint(1, 99)]), 100)
        return "%d:%s" % (5 if kind == "decimal" else 8, fmt_dec(dec_of(v))), v
    if kind == "float":
        v = float(base) + rng.choice([0.0, 0.0, 0.1, 0.5, 1e-9])
        return "3:" + dbl_bits(v), v
    if kind == "smallfloat":
        v = as_float32(float(base) + rng.choice([0.0, 0.0, 0.1, 0.5]))
        return "4:" + flt_bits(v), v
    t = str(base) + rng.choice(["", "", ".5", ".25", ".10"])
    return "0:" + t, Decimal(t)


def cmp_model(ka, va, kb, vb):
    kinds = {ka, kb}
    if kinds & {"float", "smallfloat"}:
        a, b = float(va), float(vb)
        if "smallfloat" in kinds:
            a, b = as_float32(a), as_float32(b)
    else:
        a, b = F(va), F(vb)
    return (a > b) - (a < b)


def cmp_cases(rng, n):
    kinds = ["smallint", "integer", "bigint", "int8", "decimal", "money", "float", "smallfloat",
             "char"]
    cases = []
    for _ in range(n):
        ka, kb = rng.choice(kinds), rng.choice(kinds)
        if ka == kb == "char":
            continue  # two texts compare as text
        sa, va = rand_cmp_value(rng, ka)
        sb, vb = rand_cmp_value(rng, kb, float(va))
        c = cmp_model(ka, va, kb, vb)
        op = rng.choice(list(CMP_OPS))
        cases.append(("cmp\t%d\t%s\t%s" % (op, sa, sb), "0 0 %d" % (1 if CMP_OPS[op](c) else 0)))
    return cases


# ------------------------------------------------------------ decfitprec

def fit_model(x, p, s):
    with localcontext() as c:
        c.prec = 80
        if s != 255:
            if x.as_tuple().exponent < -s:
                x = x.quantize(Decimal(1).scaleb(-s), rounding=ROUND_HALF_UP)
            ints = len(str(int(abs(x)))) if abs(x) >= 1 else 0
            return (-1 if p - s < ints else 0), x
        digits = len(x.normalize().as_tuple().digits)
        if x != 0 and digits > p:
            x = x.quantize(Decimal(1).scaleb(x.adjusted() - p + 1), rounding=ROUND_HALF_UP)
        return 0, x


def fit_cases(rng, n):
    cases = []
    for _ in range(n):
        with localcontext() as c:
            c.prec = 60
            x = Decimal(rand_numtext(rng)) * Decimal(10) ** rng.randint(-6, 4)
        d = dec_of(F(x))
        x = dec_exact(value(d))
        p = rng.randint(1, 32)
        s = rng.choice([255, rng.randint(0, p)])
        cases.append((d, x, p, s))
    return cases


def check_fit(case, got):
    d, x, p, s = case
    rc, y = got.split()
    want_rc, want = fit_model(x, p, s)
    if int(rc) != want_rc:
        return False
    return want_rc != 0 or value(parse_dec(y)) == F(want)


# ------------------------------------------------------------ LIKE / MATCHES

def tokens(pat, matches, esc="\\"):
    """Tokens: ('lit', c, escaped), ('one',), ('any',), ('cls', neg, items),
    ('never',); and whether an escape stood before a character that needs
    none."""
    special = set("*?[]" if matches else "%_") | {esc}
    out, flag, i, n = [], False, 0, len(pat)
    lone = False
    while i < n:
        c = pat[i]
        if c == esc:
            if i + 1 == n:
                out.append(("any",))
                lone = True
                break
            flag |= pat[i + 1] not in special
            out.append(("lit", pat[i + 1], True))
            i += 2
        elif c == ("*" if matches else "%"):
            if not out or out[-1] != ("any",):
                out.append(("any",))
            i += 1
        elif c == ("?" if matches else "_"):
            out.append(("one",))
            i += 1
        elif matches and c == "[":
            j = i + 1
            neg = j < n and pat[j] == "^"
            if neg:
                j += 1
            items, closed = [], False
            while j < n:
                d = pat[j]
                if d == "]":
                    closed = True
                    j += 1
                    break
                if d == esc and j + 1 < n:
                    flag |= pat[j + 1] not in special
                    items.append([pat[j + 1], pat[j + 1], True])
                    j += 2
                elif d == "-" and items and items[-1][2] and j + 1 < n and pat[j + 1] != "]":
                    hi = pat[j + 1]
                    j += 2
                    if hi == esc and j < n:
                        flag |= pat[j] not in special
                        hi = pat[j]
                        j += 1
                    items[-1] = [items[-1][0], hi, False]
                else:
                    items.append([d, d, True])
                    j += 1
            if not closed:
                out.append(("never",))
                break
            out.append(("cls", neg, [(a, b) for a, b, _ in items]))
            i = j
        else:
            out.append(("lit", c, False))
            i += 1
    while out and out[-1][0] == "lit" and not out[-1][2] and out[-1][1] == " ":
        out.pop()
    return out, flag, lone


def class_admits(tok, c, inrange):
    _, neg, items = tok
    hit = any((a == b and c == a) or (a != b and inrange(c, a, b)) for a, b in items)
    return hit != neg


def regex_of(toks, inrange, alphabet):
    parts = []
    for t in toks:
        if t[0] == "lit":
            parts.append(re.escape(t[1]))
        elif t[0] == "one":
            parts.append(".")
        elif t[0] == "any":
            parts.append(".*")
        elif t[0] == "never":
            parts.append("(?!)")
        else:
            chars = [c for c in alphabet if class_admits(t, c, inrange)]
            parts.append("[" + "".join(re.escape(c) for c in chars) + "]" if chars else "(?!)")
    return re.compile("".join(parts), re.S)


def at_end(t, inrange):
    return (t[0] == "any" or (t[0] == "lit" and t[1] == " ") or
            (t[0] == "cls" and class_admits(t, " ", inrange)))


def pattern_model(pat, matches, values, inrange, alphabet, ansi=False):
    toks, flag, lone = tokens(pat, matches)
    start = len(toks)
    while start > 0 and at_end(toks[start - 1], inrange):
        start -= 1
    regs = [regex_of(toks[:k], inrange, alphabet) for k in range(start, len(toks) + 1)]
    bad = ansi and (flag or lone)
    out = ""
    for v in values:
        v = v.rstrip(" ")
        hit = any(r.fullmatch(v) for r in regs)
        out += ("E" if bad else "1") if hit else "0"
    return out + "\t" + ("1" if flag and not ansi else "0")


def all_strings(alphabet, maxlen):
    for n in range(maxlen + 1):
        for t in itertools.product(alphabet, repeat=n):
            yield "".join(t)


def pattern_cases(probe, locale_name, ansi_sample):
    """The exhaustive LIKE and MATCHES run in one locale: (name, failures, total)."""
    values = list(all_strings("ab ", 5))
    order = probe.run(["rng\t -ab"])[0]
    chars = " -ab"
    table = {}
    k = 0
    for lo in chars:
        for hi in chars:
            for c in chars:
                table[(c, lo, hi)] = order[k] == "1"
                k += 1

    def inrange(c, lo, hi):
        if c in chars and lo in chars and hi in chars:
            return table[(c, lo, hi)]
        return lo <= c <= hi

    alphabet = "ab -*?[]^\\%_"
    lines, wants = ["vals\t" + "\t".join(values)], [None]
    for ansi in (0, 1):
        lines.append("ansi\t%d" % ansi)
        wants.append(None)
        like = list(all_strings("ab %_\\", 4))
        match = list(all_strings("ab*?\\[]^-", 4))
        if ansi:
            like = like[::ansi_sample]
            match = match[::ansi_sample]
        for op, pats, m in ((56, like, False), (52, match, True)):
            for p in pats:
                lines.append("m\t%d\t%s" % (op, p))
                wants.append(pattern_model(p, m, values, inrange, alphabet, bool(ansi)))
    got = probe.run(lines)
    failed = []
    for line, want, g in zip(lines, wants, got):
        if want is not None and g != want:
            failed.append((locale_name + ": " + line[:40], want, g))
    return failed, sum(1 for w in wants if w is not None)


# ------------------------------------------------------------ main

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    ap.add_argument("--seed", type=int, default=20261210)
    ap.add_argument("--scale", type=float, default=1.0)
    args = ap.parse_args()
    print("seed %d" % args.seed)
    rng = random.Random(args.seed)
    n = lambda k: max(1, int(k * args.scale))  # noqa: E731
    base = {k: v for k, v in os.environ.items()
            if k not in ("DBDATE", "GL_DATE", "DBMONEY", "CLIENT_LOCALE", "DB_LOCALE",
                         "ZEL_UNLOAD_DLQ_CSV_FORMAT", "ZEL_USE_PREC_16")}
    probe = Probe(args.probe, base)
    failed, total = [], 0

    conv = conv_cases(rng, n(20000))
    got = probe.run(["conv\t" + spec for spec, _, _ in conv])
    for (spec, x, kind), g in zip(conv, got):
        faults = check_conv(spec, x, kind, g)
        if faults:
            failed.append(("conv " + spec, "; ".join(faults), g))
    total += len(conv)
    edges = edge_conv_cases()
    got = probe.run(["conv\t" + spec for spec, _ in edges])
    for (spec, rcs), g in zip(edges, got):
        have = tuple(int(f.split()[0]) for f in g.split("\t")[:3])
        if have != rcs:
            failed.append(("conv " + spec, str(rcs), g))
    total += len(edges)

    fits = fit_cases(rng, n(20000))
    got = probe.run(["fit\t%s\t%04x" % (fmt_dec(d), (p << 8) | s) for d, _, p, s in fits])
    for case, g in zip(fits, got):
        if not check_fit(case, g):
            failed.append(("fit %s p=%d s=%d" % (case[1], case[2], case[3]),
                           str(fit_model(case[1], case[2], case[3])), g))
    total += len(fits)

    dbls = [rng.uniform(-1, 1) * 2.0 ** rng.randint(0, 63) for _ in range(n(20000))]
    got = probe.run(["i8dbl\t" + dbl_bits(x) for x in dbls])
    for x, g in zip(dbls, got):
        want = int(x) if abs(x) < I31 else trunc(d17(x))
        want = "0 %d" % want if abs(want) < I63 else None
        if want is not None and g != want:
            failed.append(("i8dbl %r" % x, want, g))
    total += len(dbls)

    cases = text_cases(rng, n(20000)) + cmp_cases(rng, n(20000))
    got = probe.run([l for l, _ in cases])
    for (line, want), g in zip(cases, got):
        if g != want:
            failed.append((line, want, g))
    total += len(cases)

    # Unload text of FLOAT in a locale with a decimal comma.
    de = []
    for _ in range(n(2000)):
        x = rng.choice([1, -1]) * rng.uniform(1, 9.9) * 10.0 ** rng.randint(125, 300)
        w = rng.randint(0, 82)
        want = text_model("float", x, w, 1)
        if want.startswith("0"):
            want = want.replace(".", ",")
        de.append(("text\t3:%s\t%d\t1" % (dbl_bits(x), w), want))
    got = Probe(args.probe, dict(base, CLIENT_LOCALE="de_de.8859-1")).run([l for l, _ in de])
    for (line, want), g in zip(de, got):
        if g != want:
            failed.append(("de_de: " + line, want, g))
    total += len(de)

    # MONEY 1234.5 and -1234.5 (scale 2 and floating) under the locale and
    # under DBMONEY; DATE widths under the date format in force.
    pos, neg = "1:2:0C2232", "0:2:0C2232"
    fixed = [
        ({}, [("text\t8/0702:%s\t0\t1" % pos, "0\t[$1234.50]"),
              ("text\t8/0702:%s\t12\t0" % neg, "0\t[   -$1234.50]"),
              ("text\t8/07FF:%s\t0\t1" % pos, "0\t[$1234.50]"),
              ("text\t8/0702:%s\t5\t1" % pos, "-1207\t[*****]"),
              ("width\t7\t0", "10"), ("width\t8\t0702", "10")]),
        ({"DBMONEY": "DM,"}, [("text\t8/0702:%s\t0\t1" % pos, "0\t[DM1234,50]"),
                              ("text\t8/0702:%s\t10\t1" % neg, "0\t[DM-1234,50]"),
                              ("width\t8\t0702", "11")]),
        ({"DBMONEY": ".EUR"}, [("text\t8/0702:%s\t12\t0" % neg, "0\t[ -1234.50EUR]")]),
        ({"DBDATE": "DMY2/"}, [("width\t7\t0", "8"), ("text\t7:36584\t0\t1", "0\t[29/02/00]")]),
        ({"DBDATE": "Y4MD-"}, [("width\t7\t0", "10"), ("text\t7:36584\t12\t0", "0\t[  2000-02-29]")]),
    ]
    for extra, cases in fixed:
        got = Probe(args.probe, dict(base, **extra)).run([l for l, _ in cases])
        for (line, want), g in zip(cases, got):
            if g != want:
                failed.append(("%s: %s" % (extra, line), want, g))
        total += len(cases)

    for loc in ("en_us.8859-1", "en_us.utf8"):
        f, t = pattern_cases(Probe(args.probe, dict(base, CLIENT_LOCALE=loc)), loc,
                             max(1, int(7 / args.scale)))
        failed += f
        total += t

    for line, want, got in failed[:30]:
        print("MISMATCH %r\n  expected %r\n  got      %r" % (line, want, got))
    print("%d passed, %d failed" % (total - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
