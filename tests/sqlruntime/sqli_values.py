"""Wire and stored forms of host values, written independently of the
runtime from the protocol's rules, for the tests and the test server.

Bind value (request 5): int16 type word, int16 indicator (-1 null: then
the int16 length word 0 and nothing else), int16 length word, the value:
  CHAR/VARCHAR      uint16 length, bytes, a pad byte after an odd length
  SMALLINT          2 bytes            INTEGER, DATE  4 bytes
  FLOAT, SMALLFLOAT 8 / 4 bytes IEEE   BIGINT         8 bytes
  INT8              int16 sign, uint32 low, uint32 high
  DECIMAL, MONEY,   uint16 L = digit bytes + 1, the stored decimal, a pad
  DATETIME          byte when L is odd; L 65535 is null
Integers are big-endian; floats here in float format 1 (big-endian).

Stored decimal: a head byte (0x80 | exponent + 64 when positive; its
complement (exponent + 64) ^ 0x7F when negative) and base-100 digits,
those of a negative number complemented (99 - d, the last non-zero
100 - d). Zero has no digits and exponent -64.

Run as a program: gen SEED N prints N random cases per host type, one a
line: host type, host length, value text, bind hex, column type, column
length word, stored hex.
"""
import datetime
import decimal
import random
import struct
import sys

D = decimal.Decimal


def dec_parts(x):
    """(sign, exponent, base-100 digits) of a Decimal, normalized."""
    if x == 0:
        return 1, -64, []
    sign = 0 if x < 0 else 1
    t = abs(x).as_tuple()
    digits = ''.join(map(str, t.digits))
    exp = t.exponent
    if exp >= 0:
        ip, fp = digits + '0' * exp, ''
    else:
        ip, fp = (digits[:exp] or '0'), digits[exp:].rjust(-exp, '0')
    if len(ip) % 2:
        ip = '0' + ip
    if len(fp) % 2:
        fp = fp + '0'
    pairs = [int((ip + fp)[i:i + 2]) for i in range(0, len(ip + fp), 2)]
    e = len(ip) // 2
    while pairs and pairs[0] == 0:
        pairs.pop(0)
        e -= 1
    while pairs and pairs[-1] == 0:
        pairs.pop()
    return sign, e, pairs


def dec_stored(x, size=None):
    """Stored form of a Decimal (None: null), padded to size bytes."""
    if x is None:
        return bytes(size or 1)
    sign, e, d = dec_parts(x)
    if size is not None:
        d = d + [0] * (size - 1 - len(d))
    if sign == 0:
        last = max(i for i, v in enumerate(d) if v)
        d = [99 - v for v in d[:last]] + [100 - d[last]] + d[last + 1:]
        head = (e + 64) ^ 0x7F
    else:
        head = 0x80 | (e + 64)
    return bytes([head] + d)


def dec_wire(x):
    if x is None:
        return struct.pack('>H', 65535)
    b = dec_stored(x)
    return struct.pack('>H', len(b)) + b + (b'\0' if len(b) % 2 else b'')


def dec_load(b):
    """Decimal of stored bytes (the inverse of dec_stored)."""
    head = b[0]
    d = list(b[1:])
    if head & 0x80:
        sign, e = 1, (head & 0x7F) - 64
    else:
        sign, e = 0, (head ^ 0x7F) - 64
        last = max((i for i, v in enumerate(d) if v), default=-1)
        if last >= 0:
            d = [99 - v for v in d[:last]] + [100 - d[last]] + d[last + 1:]
    v = D(0)
    for i, x in enumerate(d):
        v += D(x) * (D(100) ** (e - 1 - i))
    return v if sign else -v


def string(b):
    return struct.pack('>H', len(b)) + b + (b'\0' if len(b) % 2 else b'')


def head(t, ind, lw):
    return struct.pack('>hhh', t, ind, lw)


def int8_wire(v):
    sign = -1 if v < 0 else 1
    m = abs(v)
    return struct.pack('>hII', sign, m & 0xFFFFFFFF, m >> 32)


def decode_bind(b, pos=0):
    """One bind value at pos: (type word, value or None, next pos)."""
    t, ind = struct.unpack_from('>hh', b, pos)
    pos += 4
    lw = struct.unpack_from('>h', b, pos)[0]
    pos += 2
    if ind < 0:
        return t, None, pos
    st = t & 0xFF
    if st in (0, 13, 15, 16):
        n = struct.unpack_from('>H', b, pos)[0]
        v = b[pos + 2:pos + 2 + n]
        return t, v, pos + 2 + n + (n & 1)
    if st == 1:
        return t, struct.unpack_from('>h', b, pos)[0], pos + 2
    if st in (2, 6, 7):
        return t, struct.unpack_from('>i', b, pos)[0], pos + 4
    if st == 4:
        return t, struct.unpack_from('>f', b, pos)[0], pos + 4
    if st == 3:
        return t, struct.unpack_from('>d', b, pos)[0], pos + 8
    if st in (52, 53):
        return t, struct.unpack_from('>q', b, pos)[0], pos + 8
    if st in (17, 18):
        s, lo, hi = struct.unpack_from('>hII', b, pos)
        return t, (hi << 32 | lo) * (-1 if s < 0 else 1), pos + 10
    if st in (5, 8, 10, 14):
        n = struct.unpack_from('>H', b, pos)[0]
        if n == 65535:
            return t, None, pos + 2
        v = dec_load(b[pos + 2:pos + 2 + n])
        return t, (lw, v), pos + 2 + n + (n & 1)
    raise ValueError('type %d' % t)


def stored_size(ctype, w, b=b'', pos=0, unpadded=False):
    """Bytes a column of type ctype and length word w takes in a row."""
    t = ctype & 0xFF
    if t in (5, 8, 10, 14):
        return ((w & 1) + (w >> 8 & 0xFF) + 3) // 2
    if t in (13, 16):
        return (b[pos] + 1) if unpadded else (w & 0xFF) + 1
    if t in (40, 41, 43, 45):
        return struct.unpack_from('>i', b, pos + 1)[0] + 5
    if 19 <= t <= 23:
        return struct.unpack_from('>i', b, pos)[0] + 4
    return w


def decode_stored(ctype, w, b, pos=0):
    """The value of one stored column (None when null): texts as bytes,
    numbers as int, float or Decimal, DATETIME/INTERVAL as their digits."""
    t = ctype & 0xFF
    n = stored_size(ctype, w, b, pos)
    f = b[pos:pos + n]
    if t in (0, 15):
        return None if f[:1] == b'\0' else f
    if t == 1:
        v = struct.unpack('>h', f)[0]
        return None if v == -32768 else v
    if t in (2, 6, 7):
        v = struct.unpack('>i', f)[0]
        return None if v == -2 ** 31 else v
    if t in (3, 4):
        return None if f == b'\xff' * n else struct.unpack('>d' if t == 3 else '>f', f)[0]
    if t in (5, 8, 10, 14):
        return None if f[0] == 0 else dec_load(f)
    if t in (13, 16):
        return None if f[:2] == b'\x01\0' else f[1:1 + f[0]]
    if t in (17, 18):
        s, lo, hi = struct.unpack('>hII', f)
        return None if s == 0 else (hi << 32 | lo) * (-1 if s < 0 else 1)
    if t in (52, 53):
        v = struct.unpack('>q', f)[0]
        return None if v == -2 ** 63 else v
    if t in (40, 41, 43, 45):
        return None if f[0] & 1 else f[5:]
    raise ValueError('type %d' % t)


DAY0 = datetime.date(1899, 12, 31)
DT_QUAL = (14 << 8) | (0 << 4) | 10  # YEAR TO SECOND


def rand_text(r, lo, hi):
    alphabet = 'abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,-_'
    s = ''.join(r.choice(alphabet) for _ in range(r.randint(lo, hi)))
    return s.rstrip() or 'x'


def rand_dec(r, ip, fp):
    v = D(r.randint(-(10 ** (ip + fp)) + 1, 10 ** (ip + fp) - 1)).scaleb(-fp)
    return v


def gen(seed, n):
    r = random.Random(seed)
    out = []
    for _ in range(n):
        v = r.randint(-32767, 32767)
        out.append((101, 2, str(v), head(1, 0, 0x0500) + struct.pack('>h', v), 1, 2, struct.pack('>h', v)))
        for ht in (102, 103):
            v = r.randint(-2 ** 31 + 1, 2 ** 31 - 1)
            out.append((ht, 4 if ht == 102 else 8, str(v), head(2, 0, 0x0A00) + struct.pack('>i', v), 2, 4,
                        struct.pack('>i', v)))
        f = struct.unpack('>f', struct.pack('>f', r.uniform(-1e6, 1e6)))[0]
        bits = struct.pack('>f', f)
        out.append((104, 4, bits.hex(), head(4, 0, 0) + bits, 4, 4, bits))
        bits = struct.pack('>d', r.uniform(-1e12, 1e12) * r.choice([1, 1e-9, 1e100]))
        out.append((105, 8, bits.hex(), head(3, 0, 0) + bits, 3, 8, bits))
        v = rand_dec(r, r.randint(0, 12), r.randint(0, 4))
        out.append((107, 0x1004, str(v), head(5, 0, 0x1004) + dec_wire(v), 5, 0x1004, dec_stored(v, 9)))
        v = rand_dec(r, r.randint(0, 12), r.randint(0, 2))
        out.append((111, 0x1002, str(v), head(8, 0, 0x1002) + dec_wire(v), 8, 0x1002, dec_stored(v, 9)))
        day = datetime.date(1, 1, 1) + datetime.timedelta(days=r.randint(0, 3652058))
        v = (day - DAY0).days
        out.append((110, 4, str(v), head(7, 0, 0x0A00) + struct.pack('>i', v), 7, 4, struct.pack('>i', v)))
        s = rand_text(r, 1, 20).encode()
        out.append((100, 21, s.hex(), head(0, 0, 0) + string(s), 0, 20, s.ljust(20, b' ')))
        s = rand_text(r, 1, 20).encode()
        out.append((108, 20, s.hex(), head(0, 0, 0) + string(s.ljust(20, b' ')), 0, 20, s.ljust(20, b' ')))
        s = rand_text(r, 1, 20).encode()
        out.append((109, 21, s.hex(), head(0, 0, 0) + string(s), 0, 20, s.ljust(20, b' ')))
        s = rand_text(r, 1, 40).encode()
        out.append((114, 41, s.hex(), head(13, 0, 0) + string(s), 13, 40,
                    bytes([len(s)]) + s + bytes(40 - len(s))))
        v = r.randint(-2 ** 63 + 1, 2 ** 63 - 1)
        out.append((117, 12, str(v), head(17, 0, 0x1300) + int8_wire(v), 17, 10, int8_wire(v)))
        v = r.randint(-2 ** 63 + 1, 2 ** 63 - 1)
        out.append((125, 8, str(v), head(52, 0, 0x1300) + struct.pack('>q', v), 52, 8, struct.pack('>q', v)))
        t = datetime.datetime(1, 1, 1) + datetime.timedelta(seconds=r.randint(0, 315537897599))
        digits = D(t.strftime('%Y%m%d%H%M%S').rjust(14, '0'))
        out.append((112, DT_QUAL, t.strftime('%Y-%m-%d %H:%M:%S').rjust(19, '0'),
                    head(10, 0, DT_QUAL) + dec_wire(digits), 10, DT_QUAL, dec_stored(digits, 8)))
    for c in out:
        # The decoders read back what the encoders wrote.
        t, v, end = decode_bind(c[3])
        assert end == len(c[3]), c
        s = decode_stored(c[4], c[5], c[6])
        assert stored_size(c[4], c[5], c[6]) == len(c[6]), c
        if c[0] in (107, 111):
            assert s == D(c[2]) == v[1], c
        elif c[0] in (100, 108, 109, 114):
            assert s.rstrip(b' ') == bytes.fromhex(c[2]) == v.rstrip(b' '), c
        elif c[0] in (101, 102, 103, 110, 117, 125):
            assert s == int(c[2]) == v, c
        elif c[0] in (104, 105):
            assert struct.pack('>d' if c[0] == 105 else '>f', s) == bytes.fromhex(c[2]), c
    return out


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == 'gen':
        for c in gen(int(sys.argv[2]), int(sys.argv[3])):
            print(c[0], c[1], c[2], c[3].hex(), c[4], c[5], c[6].hex())


if __name__ == '__main__':
    main()
