#!/usr/bin/env python3
"""Compiles the SQLSTATE mapping table (lines "code message SQLSTATE", '#'
comments) into the binary mapping file: magic "vrox00", a big-endian
record count, then 13-byte records (int32 code, int32 message number,
5 characters of SQLSTATE) in descending order of code."""
import struct
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_pam.py TABLE OUTPUT")
    rows = {}
    with open(sys.argv[1], encoding="ascii") as f:
        for n, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            parts = line.split()
            if len(parts) != 3 or len(parts[2]) != 5:
                sys.exit("%s:%d: expected: code message SQLSTATE" % (sys.argv[1], n))
            code, msg = int(parts[0]), int(parts[1])
            if code in rows:
                sys.exit("%s:%d: code %d repeated" % (sys.argv[1], n, code))
            rows[code] = (msg, parts[2].encode("ascii"))
    out = bytearray(b"vrox00" + struct.pack(">i", len(rows)))
    for code in sorted(rows, reverse=True):
        msg, state = rows[code]
        out += struct.pack(">ii", code, msg) + state
    tmp = sys.argv[2] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(out)
    import os
    os.replace(tmp, sys.argv[2])


if __name__ == "__main__":
    main()
