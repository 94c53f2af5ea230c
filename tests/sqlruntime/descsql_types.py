"""One value of every built-in type for the dynamic SQL tests, computed
here from the types' own rules (sqli_values.py), independently of the
runtime.

Prints one line per column:
  name type lengthword stored-hex null-stored-hex host hostlen expect-hex sethost setdata-hex
where stored-hex is the column's bytes in a row, null-stored-hex those of
a null, host/hostlen the host variable GET DESCRIPTOR fills and
expect-hex the bytes it must then begin with, and sethost/setdata-hex
the host variable SET DESCRIPTOR takes the value from.
"""
import datetime
import decimal
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sqli_values import DT_QUAL, dec_stored, int8_wire  # noqa: E402

D = decimal.Decimal


def z(s):
    return s.encode() + b'\0'


def var(b):
    return b'\0' + struct.pack('>i', len(b)) + b


VAR_NULL = b'\x01' + struct.pack('>i', 0)


def dsize(w):
    return ((w & 1) + (w >> 8 & 0xFF) + 3) // 2


def main():
    rows = []
    add = rows.append
    add(('c_smallint', 1, 2, struct.pack('>h', -1234), struct.pack('>h', -32768), 101, 2,
         struct.pack('<h', -1234), 101, struct.pack('<h', -1234)))
    add(('c_integer', 2, 4, struct.pack('>i', 123456789), struct.pack('>i', -2 ** 31), 102, 4,
         struct.pack('<i', 123456789), 102, struct.pack('<i', 123456789)))
    add(('c_serial', 6, 4, struct.pack('>i', 42), struct.pack('>i', -2 ** 31), 102, 4, struct.pack('<i', 42), 102,
         struct.pack('<i', 42)))
    # Floats travel in the connection's float format: native (little-endian
    # here) without capability bit 0x10.
    add(('c_float', 3, 8, struct.pack('<d', 3.14159), b'\xff' * 8, 105, 8, struct.pack('<d', 3.14159), 105,
         struct.pack('<d', 3.14159)))
    add(('c_smallfloat', 4, 4, struct.pack('<f', 2.5), b'\xff' * 4, 104, 4, struct.pack('<f', 2.5), 104,
         struct.pack('<f', 2.5)))
    w = 0x0802  # precision 8, scale 2; MONEY text with the default symbol
    add(('c_decimal', 5, w, dec_stored(D('-12345.67'), dsize(w)), bytes(dsize(w)), 109, 32, z('-12345.67'), 109,
         z('-12345.67')))
    add(('c_money', 8, w, dec_stored(D('1234.5'), dsize(w)), bytes(dsize(w)), 109, 32, z('$1234.50'), 109,
         z('1234.50')))
    days = (datetime.date(2026, 12, 11) - datetime.date(1899, 12, 31)).days
    add(('c_date', 7, 4, struct.pack('>i', days), struct.pack('>i', -2 ** 31), 110, 4, struct.pack('<i', days), 110,
         struct.pack('<i', days)))
    t = datetime.datetime(2026, 12, 11, 8, 54, 15)
    add(('c_datetime', 10, DT_QUAL, dec_stored(D(t.strftime('%Y%m%d%H%M%S')), dsize(DT_QUAL)), bytes(dsize(DT_QUAL)),
         109, 32, z(t.strftime('%Y-%m-%d %H:%M:%S')), 109, z(t.strftime('%Y-%m-%d %H:%M:%S'))))
    # INTERVAL DAY(3) TO SECOND: 9 digits, the point after the seconds; its
    # text starts with the sign's place.
    q = (9 << 8) | (4 << 4) | 10
    add(('c_interval', 14, q, dec_stored(D(123103000), dsize(q)), bytes(dsize(q)), 109, 32, z(' 123 10:30:00'), 109,
         z('123 10:30:00')))
    add(('c_char', 0, 10, b'abc'.ljust(10), b'\0' + b' ' * 9, 100, 11, z('abc'.ljust(10)), 100, z('abc')))
    add(('c_varchar', 13, 20, bytes([4]) + b'vary' + bytes(16), b'\x01' + bytes(20), 109, 32, z('vary'), 109,
         z('vary')))
    add(('c_nchar', 15, 10, b'nch'.ljust(10), b'\0' + b' ' * 9, 100, 11, z('nch'.ljust(10)), 100, z('nch')))
    add(('c_nvarchar', 16, 20, bytes([5]) + b'nvary' + bytes(15), b'\x01' + bytes(20), 109, 32, z('nvary'), 109,
         z('nvary')))
    add(('c_int8', 17, 10, int8_wire(-1234567890123), bytes(10), 109, 32, z('-1234567890123'), 109,
         z('-1234567890123')))
    add(('c_bigint', 52, 8, struct.pack('>q', -9 * 10 ** 18), struct.pack('>q', -2 ** 63), 125, 8,
         struct.pack('<q', -9 * 10 ** 18), 125, struct.pack('<q', -9 * 10 ** 18)))
    add(('c_boolean', 45, 1, var(b'\x01'), VAR_NULL, 45, 1, b'\x01', 45, b'\x01'))
    text = 'a long variable text value'
    add(('c_lvarchar', 43, 2048, var(text.encode()), VAR_NULL, 109, 64, z(text), 109, z(text)))
    for r in rows:
        print(r[0], ' '.join(str(x) if isinstance(x, int) else (x.hex() or '-') for x in r[1:]))


if __name__ == '__main__':
    main()
