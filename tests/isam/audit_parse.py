#!/usr/bin/env python3
"""Reads an ISAM audit trail and prints one line per record:
   <type> <time> <pid> <uid> <recnum> <length> <hex of the record bytes>
Usage: audit_parse.py FILE varlen|fixed [RECLEN]
Exits 1 when the file is not a well-formed trail."""
import struct
import sys


def main():
    data = open(sys.argv[1], "rb").read()
    var = sys.argv[2] == "varlen"
    reclen = int(sys.argv[3]) if not var else 0
    pos = 0
    while pos < len(data):
        head = 16 if var else 14
        if pos + head > len(data):
            sys.exit("truncated header at %d" % pos)
        t1, t2, when, pid, uid, recnum = struct.unpack_from(">ccIHHi", data, pos)
        if t1 != t2 or t1 not in b"adrw":
            sys.exit("bad type letters at %d" % pos)
        length = reclen
        if var:
            (plus1,) = struct.unpack_from(">H", data, pos + 14)
            length = plus1 - 1
        pos += head
        body = data[pos:pos + length]
        if len(body) != length or data[pos + length:pos + length + 1] != b"\n":
            sys.exit("bad record body at %d" % pos)
        pos += length + 1
        print(t1.decode(), when, pid, uid, recnum, length, body.hex())


main()
