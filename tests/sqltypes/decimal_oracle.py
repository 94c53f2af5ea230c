#!/usr/bin/env python3
"""Differential test of Decimal and BIGINT against exact arithmetic.

Generates random operations with a fixed seed, runs them through
decimal_probe, and compares every result byte for byte (return code and
stored form) with an exact model built on fractions.Fraction: the exact
result rounded half up to 16 base-100 digits, the exponent clamped to
-64..63 (-1201 / -1200). Addition first drops the smaller operand's digits
outside the 18-byte window the implementation adds in.

Ends with the line "N passed, M failed"; exits non-zero on any failure.
"""
import argparse
import math
import os
import random
import struct
import subprocess
import sys
from fractions import Fraction as F

NULL = None  # a Decimal operand is None (null) or (sign, exponent, digits)
ZERO = (1, -64, ())


# ---------------------------------------------------------------- the model

def value(d):
    sign, exp, digits = d
    m = 0
    for b in digits:
        m = m * 100 + b
    v = F(m) * F(100) ** (exp - len(digits))
    return -v if sign == 0 else v


def clamp(sign, exp, digits):
    if exp < -64:
        return -1201, (sign, -64, digits)
    if exp > 63:
        return -1200, (sign, 63, digits)
    return 0, (sign, exp, digits)


def to_b100(x, places=16):
    """Exact Fraction -> (rc, decimal) rounded half up to `places` bytes."""
    if x == 0:
        return 0, ZERO
    sign = 1 if x > 0 else 0
    x = abs(x)
    # First guess from decimal lengths, then adjust: 100^(e-1) <= x < 100^e.
    e = (len(str(x.numerator)) - len(str(x.denominator))) // 2
    while x >= F(100) ** e:
        e += 1
    while x < F(100) ** (e - 1):
        e -= 1
    n = x * F(100) ** (places - e)
    q, r = divmod(n.numerator, n.denominator)
    if 2 * r >= n.denominator:
        q += 1
    if q == 100 ** places:
        q //= 100
        e += 1
    digits = [(q // 100 ** (places - 1 - i)) % 100 for i in range(places)]
    while digits and digits[-1] == 0:
        digits.pop()
    return clamp(sign, e, tuple(digits))


def complement(digits):
    d = list(digits)
    last = len(d) - 1
    while last >= 0 and d[last] == 0:
        last -= 1
    if last >= 0:
        d[last] = 100 - d[last]
        for i in range(last):
            d[i] = 99 - d[i]
    return d


def stored(d, n=22):
    """(rc, hex) of the stored form in n bytes."""
    n = min(n, 22)
    if d is NULL:
        return 0, "00" * n
    sign, exp, digits = d
    if not digits:
        return 0, "80" + "00" * (n - 1)
    room = n - 1
    if len(digits) > room:
        # Round half up to `room` bytes on the magnitude.
        m = abs(value(d))
        rc, r = to_b100(m, room) if room > 0 else (0, None)
        if room == 0:
            e = exp + 1 if digits[0] >= 50 else exp
            if e > 63:
                return -1200, None
            body = []
        else:
            if r[1] > 63 or rc == -1200:
                return -1200, None
            e = r[1]
            body = list(r[2])
    else:
        e, body = exp, list(digits)
    body += [0] * (room - len(body))
    if sign == 0:
        if e == 63 and room >= 1 and body[0] == 99 and any(body[1:]):
            return -1200, None
        body = complement(body)
        head = (e + 64) ^ 0x7F
    else:
        head = 0x80 | (e + 64)
    return 0, "%02X" % head + "".join("%02X" % b for b in body)


def result(rc, d):
    src, h = stored(d)
    return "%d %s" % (rc, h if src == 0 else "-")


def mag(d):
    return abs(value(d))


def add_model(a, b):
    if a is NULL or b is NULL:
        return result(0, NULL)
    L, S = (a, b) if mag(a) >= mag(b) else (b, a)
    if not L[2]:
        return result(0, ZERO)
    shift = L[1] - S[1]
    w = min(max(len(L[2]), len(S[2]) + shift), 17) + 1
    St = (S[0], S[1], tuple(x for k, x in enumerate(S[2]) if shift + k + 1 < w))
    return result(*to_b100(value(L) + (value(St) if St[2] else 0)))


def negate(b):
    if b is NULL:
        return b
    return (1 - b[0], b[1], b[2])


def mul_model(a, b):
    if a is NULL or b is NULL:
        return result(0, NULL)
    return result(*to_b100(value(a) * value(b)))


def div_model(a, b):
    if a is NULL or b is NULL:
        return result(0, NULL)
    if not b[2]:
        return result(-1202, ZERO)
    return result(*to_b100(value(a) / value(b)))


def cmp_model(a, b):
    if a is NULL or b is NULL:
        return "-2"
    x, y = value(a), value(b)
    return str((x > y) - (x < y))


def half_up(x, places):
    """x rounded half away from zero to `places` decimals (Fraction)."""
    unit = F(10) ** -places
    m = abs(x) / unit
    q = math.floor(m + F(1, 2))
    return (q if x >= 0 else -q) * unit


def toward_zero(x, places):
    unit = F(10) ** -places
    q = math.floor(abs(x) / unit)
    return (q if x >= 0 else -q) * unit


def round_model(a, places):
    if a is NULL:
        return result(0, NULL)
    rc, r = to_b100(half_up(value(a), places))
    if rc == -1200:
        return result(-1200, a)  # does not fit: the value stays as it was
    return result(rc, r)


def trunc_model(a, places):
    if a is NULL:
        return result(0, NULL)
    return result(*to_b100(toward_zero(value(a), places)))


def ld_model(h):
    b = bytes.fromhex(h)
    n = min(len(b), 18)
    b = b[:n]
    if b[0] == 0 and (n == 1 or b[1] == 0):
        return result(0, NULL)
    body = list(b[1:])
    if any(x > 99 for x in body):
        return "-1 -"
    if b[0] & 0x80:
        sign, exp = 1, (b[0] & 0x7F) - 64
    else:
        sign, exp = 0, (b[0] ^ 0x7F) - 64
        body = complement(body)
    x = value((sign, exp, tuple(body)))
    if x == 0:
        return result(0, ZERO)
    return result(*to_b100(x))


def tolong_model(a, small):
    if a is NULL:
        return "0 %d" % (-32768 if small else -2147483648)
    if a[1] > 5 and a[2]:
        return "-1200 12345"
    x = value(a)
    if abs(x) > 2147483647:
        return "-1200 12345"
    t = int(x)  # toward zero
    if small and abs(t) > 32767:
        return "-1200 12345"
    return "0 %d" % t


def cvlong_model(v):
    if v == -2147483648:
        return result(0, NULL)
    return result(*to_b100(F(v)))


def cvdbl_model(bits, ndigits, is_float):
    if is_float:
        x = struct.unpack(">f", struct.pack(">I", bits))[0]
        if bits == 0xFFFFFFFF:
            return "-1223 -"  # widened, no longer eight 0xFF bytes: a NaN
    else:
        if bits == 0xFFFFFFFFFFFFFFFF:
            return result(0, NULL)
        x = struct.unpack(">d", struct.pack(">Q", bits))[0]
    if math.isnan(x) or math.isinf(x):
        return "-1223 -"
    if x == 0:
        return result(0, ZERO)
    text = "%.*e" % (ndigits - 1, x)
    return result(*to_b100(F(text)))


# ------------------------------------------------------------- generators

BIASED = [0, 1, 49, 50, 51, 98, 99]


def rand_digits(rng, count):
    d = [rng.choice(BIASED) if rng.random() < 0.5 else rng.randrange(100)
         for _ in range(count)]
    d[0] = d[0] or rng.randrange(1, 100)
    d[-1] = d[-1] or rng.randrange(1, 100)
    return tuple(d)


def rand_exp(rng):
    r = rng.random()
    if r < 0.15:
        return rng.choice([-64, -63, -62, 61, 62, 63])
    if r < 0.7:
        return rng.randint(-4, 6)
    return rng.randint(-64, 63)


def rand_dec(rng, allow_null=True):
    r = rng.random()
    if allow_null and r < 0.02:
        return NULL
    if r < 0.05:
        return ZERO
    count = rng.randint(1, 16) if rng.random() < 0.7 else rng.choice([1, 15, 16])
    return (rng.randint(0, 1), rand_exp(rng), rand_digits(rng, count))


def rand_pair(rng):
    a = rand_dec(rng)
    r = rng.random()
    if a is not NULL and a[2] and r < 0.1:
        return a, (1 - a[0], a[1], a[2])  # equal magnitudes
    if r < 0.15:
        return a, a
    if a is not NULL and a[2] and r < 0.5:
        e = max(-64, min(63, a[1] - rng.randint(0, 18)))
        return a, (rng.randint(0, 1), e, rand_digits(rng, rng.randint(1, 16)))
    return a, rand_dec(rng)


def fmt(d):
    if d is NULL:
        return "N"
    return "%d:%d:%s" % (d[0], d[1], "".join("%02X" % x for x in d[2]))


def rand_double_bits(rng, is_float):
    r = rng.random()
    if is_float:
        if r < 0.02:
            return 0xFFFFFFFF
        if r < 0.05:
            return rng.choice([0, 0x80000000, 0x7F800000, 0xFF800000, 0x7FC00000, 1])
        if r < 0.5:
            return rng.getrandbits(32)
        return struct.unpack(">I", struct.pack(">f", rng.uniform(-1e6, 1e6)))[0]
    if r < 0.02:
        return 0xFFFFFFFFFFFFFFFF
    if r < 0.05:
        return rng.choice([0, 1 << 63, 0x7FF0000000000000, 0xFFF0000000000000,
                           0x7FF8000000000000, 1, 0x7FEFFFFFFFFFFFFF])
    if r < 0.4:
        return rng.getrandbits(64)
    if r < 0.7:
        x = rng.uniform(-1, 1) * 10 ** rng.randint(-140, 140)
    else:
        x = float(rng.randint(-10 ** 9, 10 ** 9)) / 10 ** rng.randint(0, 6)
    return struct.unpack(">Q", struct.pack(">d", x))[0]


def generate(rng, n):
    cases = []  # (probe line, expected)
    weights = [("add", 20), ("sub", 12), ("mul", 15), ("div", 15), ("cmp", 6),
               ("round", 7), ("trunc", 6), ("st", 5), ("ld", 5), ("cvlong", 2),
               ("tolong", 3), ("toint", 2), ("cvdbl", 6), ("cvflt", 3), ("big", 3)]
    ops = [op for op, w in weights for _ in range(w)]
    while len(cases) < n:
        op = rng.choice(ops)
        if op in ("add", "sub", "mul", "div", "cmp"):
            a, b = rand_pair(rng)
            if op == "div" and rng.random() < 0.03:
                b = ZERO
            line = "%s %s %s" % (op, fmt(a), fmt(b))
            exp = {"add": lambda: add_model(a, b),
                   "sub": lambda: add_model(a, negate(b)),
                   "mul": lambda: mul_model(a, b),
                   "div": lambda: div_model(a, b),
                   "cmp": lambda: cmp_model(a, b)}[op]()
            cases.append((line, exp))
        elif op in ("round", "trunc"):
            a = rand_dec(rng)
            places = rng.randint(-8, 40) if rng.random() < 0.9 else rng.randint(-140, 170)
            model = round_model if op == "round" else trunc_model
            cases.append(("%s %s %d" % (op, fmt(a), places), model(a, places)))
        elif op == "st":
            a = rand_dec(rng)
            n_bytes = rng.randint(1, 24)
            rc, h = stored(a, n_bytes)
            cases.append(("st %s %d" % (fmt(a), n_bytes), "%d %s" % (rc, h if rc == 0 else "-")))
        elif op == "ld":
            if rng.random() < 0.5:
                a = rand_dec(rng)
                _, h = stored(a, rng.randint(2, 22))
                if h is None:
                    continue
                raw = bytearray(bytes.fromhex(h))
                if rng.random() < 0.3:  # disturb one digit byte
                    i = rng.randrange(len(raw))
                    raw[i] = rng.randrange(256) if i == 0 else rng.randrange(100)
            else:
                raw = bytearray(rng.choice(BIASED + [rng.randrange(256)])
                                for _ in range(rng.randint(1, 22)))
            if rng.random() < 0.05:
                raw[rng.randrange(len(raw))] = rng.randrange(100, 256)
            h = raw.hex().upper()
            cases.append(("ld " + h, ld_model(h)))
        elif op == "cvlong":
            v = rng.choice([0, 1, -1, 2147483647, -2147483647, -2147483648, 100, -32768,
                            rng.randint(-2 ** 31, 2 ** 31 - 1), rng.randint(-10 ** 4, 10 ** 4)])
            cases.append(("cvlong %d" % v, cvlong_model(v)))
        elif op in ("tolong", "toint"):
            if rng.random() < 0.5:
                v = rng.randint(-2 ** 32, 2 ** 32)
                if op == "toint":
                    v = rng.randint(-40000, 40000)
                x = F(v) + F(rng.randint(0, 99), 100) * (1 if v >= 0 else -1)
                if rng.random() < 0.3:
                    x = F(v)
                _, a = to_b100(x)
            else:
                a = rand_dec(rng)
            cases.append(("%s %s" % (op, fmt(a)), tolong_model(a, op == "toint")))
        elif op in ("cvdbl", "cvflt"):
            is_float = op == "cvflt"
            bits = rand_double_bits(rng, is_float)
            cases.append(("%s %0*X" % (op, 8 if is_float else 16, bits),
                          cvdbl_model(bits, 9 if is_float else 17, is_float)))
        else:
            v = rng.choice([0, 1, -1, 2 ** 63 - 1, -2 ** 63, -2 ** 63 + 1, 255, 256,
                            rng.randint(-2 ** 63, 2 ** 63 - 1), rng.randint(-2 ** 20, 2 ** 20)])
            packed = struct.pack(">q", v)
            cases.append(("stbig %d" % v, packed.hex().upper()))
            cases.append(("ldbig %s" % packed.hex().upper(), str(v)))
    return cases


def prec16_cases(rng, n):
    cases = []
    for _ in range(n):
        is_float = rng.random() < 0.4
        bits = rand_double_bits(rng, is_float)
        op = "cvflt" if is_float else "cvdbl"
        cases.append(("%s %0*X" % (op, 8 if is_float else 16, bits),
                      cvdbl_model(bits, 8 if is_float else 16, is_float)))
    return cases


def run(probe, cases, env):
    text = "".join(line + "\n" for line, _ in cases)
    out = subprocess.run([probe], input=text.encode("latin-1"), capture_output=True,
                         env=env, check=True).stdout.decode("latin-1").split("\n")
    failed = []
    for i, (line, expected) in enumerate(cases):
        got = out[i] if i < len(out) else "<missing>"
        if got != expected:
            failed.append((line, expected, got))
    return failed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    ap.add_argument("--n", type=int, default=24000)
    ap.add_argument("--seed", type=int, default=20261210)
    args = ap.parse_args()
    print("seed %d" % args.seed)
    rng = random.Random(args.seed)
    cases = generate(rng, args.n)
    extra = prec16_cases(rng, max(1, args.n // 20))
    env = {k: v for k, v in os.environ.items() if k != "ZEL_USE_PREC_16"}
    failed = run(args.probe, cases, env)
    env16 = dict(env, ZEL_USE_PREC_16="1")
    failed += [(l + "  [ZEL_USE_PREC_16=1]", e, g) for l, e, g in run(args.probe, extra, env16)]
    for line, expected, got in failed[:20]:
        print("MISMATCH %s\n  expected %s\n  got      %s" % (line, expected, got))
    total = len(cases) + len(extra)
    print("%d passed, %d failed" % (total - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
