"""Reads a binary wire-trace file and prints its records, one a line:
header, "msg <tag> <length> <hex>", "fork <tag> <pid>", "replay <number>".
Written from the trace's record formats."""
import struct
import sys
import time

data = open(sys.argv[1], "rb").read()
if data[:8] != b"SQLI\x00\x00\x00\x01":
    print("bad header")
    sys.exit(1)
print("header")
at = 8
while at < len(data):
    tag = data[at:at + 2]
    if tag[:1] == b"\x00" and tag[1:2] == b"n":
        print("replay %d" % struct.unpack(">H", data[at + 2:at + 4])[0])
        at += 4
    elif tag in (b"CF", b"SF"):
        print("fork %s %d" % (tag.decode(), struct.unpack(">I", data[at + 2:at + 6])[0]))
        at += 6
    elif tag in (b"CS", b"SC"):
        n = struct.unpack(">I", data[at + 2:at + 6])[0]
        when = struct.unpack("<d", data[at + 6:at + 14])[0]
        year = time.gmtime(when).tm_year
        if not 2020 <= year <= 2200 or when * 1000 != round(when * 1000, 0) and abs(when * 1000 - round(when * 1000)) > 1e-3:
            print("bad time %r" % when)
        body = data[at + 14:at + 14 + n]
        if len(body) != n:
            print("short")
            sys.exit(1)
        print("msg %s %d %s" % (tag.decode(), n, body.hex()))
        at += 14 + n
    else:
        print("unknown %s" % tag.hex())
        sys.exit(1)
