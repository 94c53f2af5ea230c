#!/usr/bin/env python3
"""Checks stored forms of SQL values against Python's struct and decimal.

Reads lines "kind value hex" on stdin (value as Python literal text),
computes the expected bytes independently and prints one line per
mismatch, then "N passed, M failed".
"""
import struct
import sys
from decimal import Decimal, ROUND_HALF_UP, getcontext

getcontext().prec = 200


def dec_stored(text, nbytes):
    """Stored Decimal of a value with at most 16 base-100 digits."""
    d = Decimal(text)
    if d == 0:
        return bytes([0x80]) + bytes(nbytes - 1)
    neg = d < 0
    d = abs(d)
    # base-100 digits: find exponent e with 100^(e-1) <= d < 100^e
    e = 0
    while d >= Decimal(100) ** e:
        e += 1
    while d < Decimal(100) ** (e - 1):
        e -= 1
    scaled = d * Decimal(100) ** (nbytes - 1 - e)
    q = int(scaled.to_integral_value(rounding=ROUND_HALF_UP))
    if q == 100 ** (nbytes - 1):
        q //= 100
        e += 1
    digits = [(q // 100 ** (nbytes - 2 - i)) % 100 for i in range(nbytes - 1)]
    if neg:
        last = max((i for i, x in enumerate(digits) if x), default=-1)
        for i in range(len(digits)):
            if i < last:
                digits[i] = 99 - digits[i]
            elif i == last:
                digits[i] = 100 - digits[i]
        return bytes([(e + 64) ^ 0x7F]) + bytes(digits)
    return bytes([0x80 | (e + 64)]) + bytes(digits)


def expected(kind, value):
    if kind == "smallint":
        return struct.pack(">h", int(value))
    if kind == "integer":
        return struct.pack(">i", int(value))
    if kind == "bigint":
        return struct.pack(">q", int(value))
    if kind == "int8":
        v = int(value)
        sign = -1 if v < 0 else 1
        m = abs(v)
        return struct.pack(">hII", sign, m & 0xFFFFFFFF, m >> 32)
    if kind in ("smallfloat", "smallfloat1"):
        b = struct.pack("<f", float(value))
        return b[::-1] if kind.endswith("1") else b
    if kind in ("float", "float1"):
        b = struct.pack("<d", float(value))
        return b[::-1] if kind.endswith("1") else b
    if kind.startswith("decimal"):
        # decimal:P:S
        _, p, s = kind.split(":")
        p, s = int(p), int(s)
        return dec_stored(value, (p + (s & 1) + 3) // 2)
    if kind == "lvarchar":
        data = bytes.fromhex(value)
        return struct.pack(">BI", 0, len(data)) + data
    if kind.startswith("varchar"):
        m = int(kind.split(":")[1])
        data = (b"" if value == "-" else bytes.fromhex(value))[:m]
        return bytes([len(data)]) + data + b" " * (m - len(data))
    raise ValueError(kind)


def main():
    passed = failed = 0
    for line in sys.stdin:
        parts = line.split()
        if not parts:
            continue
        kind, value, got = parts[0], parts[1], parts[2] if len(parts) > 2 else ""
        want = expected(kind, value).hex()
        if want == got:
            passed += 1
        else:
            failed += 1
            if failed <= 20:
                print(f"MISMATCH {kind} {value}: got {got} want {want}")
    print(f"{passed} passed, {failed} failed")


main()
