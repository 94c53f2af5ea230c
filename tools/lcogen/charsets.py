"""The code sets the installation provides, their characters, and the class
bits and case partners of each character.

A character is its byte string in the code set. Its wide value is those
bytes read as one big-endian number (UTF-8 E4 B8 AD is 0xE4B8AD), which is
also the key of the code tables.
"""

import unicodedata

import glibc

# Class bits of the LC_CTYPE class table.
UPPER, LOWER, ALPHA, DIGIT = 0x0001, 0x0002, 0x0004, 0x0008
SPACE, CNTRL, PUNCT, GRAPH = 0x0010, 0x0020, 0x0040, 0x0080
PRINT, XDIGIT, BLANK = 0x0100, 0x0200, 0x0400
# The locale's own classes: number k has the bit 0x800 << k.
LOCALE_CLASSES = [(0, "full_width")]
FULL_WIDTH = 0x0800 << 0

_NO_BREAK = "\u00a0\u2007\u202f"


def class_bits(ch):
    """Class bits of one Unicode character (None: a byte that the code set's
    codec does not map, which has no class)."""
    if ch is None:
        return 0
    cat = unicodedata.category(ch)
    bits = 0
    digit = ch in "0123456789"
    if cat == "Lu":
        bits |= UPPER
    if cat == "Ll":
        bits |= LOWER
    # Letters, letter-like numbers, combining marks and the decimal digits
    # of other scripts are alphabetic, so that they count as alphanumeric.
    alpha = cat[0] == "L" or cat in ("Nl", "Mn", "Mc") or (cat == "Nd" and not digit)
    if alpha:
        bits |= ALPHA
    if digit:
        bits |= DIGIT
    if ch in "0123456789abcdefABCDEF":
        bits |= XDIGIT
    separator = cat in ("Zs", "Zl", "Zp") and ch not in _NO_BREAK
    if ch in "\t\n\v\f\r " or separator:
        bits |= SPACE
    if ch == "\t" or (separator and cat == "Zs"):
        bits |= BLANK
    if cat == "Cc":
        bits |= CNTRL
    printable = cat not in ("Cc", "Cs", "Cn", "Zl", "Zp")
    if printable:
        bits |= PRINT
        if cat != "Zs":
            bits |= GRAPH
            if not (alpha or digit):
                bits |= PUNCT
    if unicodedata.east_asian_width(ch) in ("W", "F"):
        bits |= FULL_WIDTH
    return bits


_SIMPLE_CASE = {}


def _simple_case(direction):
    """The simple case mapping {code point: code point} of glibc's i18n
    LC_CTYPE source, read once."""
    if direction not in _SIMPLE_CASE:
        _SIMPLE_CASE[direction] = glibc.case_map("to" + direction)
    return _SIMPLE_CASE[direction]


def case_partner(ch, direction, encode):
    """The character that the simple case mapping (one character to one
    character) maps ch to, as bytes of the code set; None when that is ch
    itself or has no form in the code set. A character whose full mapping
    takes several characters ("\u1f80" upper-cases to two) still has its
    single-character partner ("\u1f88")."""
    if ch is None:
        return None
    mapped = _simple_case(direction).get(ord(ch))
    if mapped is None or mapped == ord(ch):
        return None
    return encode(chr(mapped))


class CodeSet:
    """name: the code-set name written in locale files and the registry;
    number: its code-set number; codec: the Python codec of its bytes."""

    def __init__(self, name, number, codec, chars):
        self.name = name
        self.single_byte = chars is _single_byte
        self.number = number
        self.codec = codec
        self._chars = chars
        self._cache = None

    def characters(self):
        """(bytes, Unicode character or None) of every character."""
        if self._cache is None:
            self._cache = list(self._chars(self))
        return self._cache

    def encode(self, ch):
        """Bytes of one character in this code set, or None."""
        try:
            data = ch.encode(self.codec)
        except UnicodeEncodeError:
            return None
        return data if self.valid(data) else None

    def valid(self, data):
        return True


def _single_byte(cs):
    for b in range(256):
        data = bytes([b])
        try:
            yield data, data.decode(cs.codec)
        except UnicodeDecodeError:
            yield data, None


def _double_byte_leads(cs):
    """One-byte characters, then every lead/trail pair that decodes to one
    character; a byte that is a character alone never leads a pair."""
    singles = set()
    for b in range(256):
        data = bytes([b])
        try:
            ch = data.decode(cs.codec)
        except UnicodeDecodeError:
            continue
        singles.add(b)
        yield data, ch
    for lead in range(256):
        if lead in singles:
            continue
        for trail in range(256):
            data = bytes([lead, trail])
            try:
                ch = data.decode(cs.codec)
            except UnicodeDecodeError:
                continue
            if len(ch) == 1:
                yield data, ch


def _utf8(cs):
    for cp in range(0x110000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        ch = chr(cp)
        yield ch.encode("utf-8"), ch


# The two-byte test code set: every character is two bytes, the UTF-16
# big-endian unit of a code point in these ranges. Its shortest character,
# and so its string terminator, is two bytes long.
TST_RANGES = [(0x0000, 0x05FF), (0x3000, 0x30FF), (0xFF00, 0xFFEF)]


def _tst(cs):
    for lo, hi in TST_RANGES:
        for cp in range(lo, hi + 1):
            yield cp.to_bytes(2, "big"), chr(cp)


class _TstCodeSet(CodeSet):
    def valid(self, data):
        cp = int.from_bytes(data, "big")
        return len(data) == 2 and any(lo <= cp <= hi for lo, hi in TST_RANGES)


CODESETS = {
    "8859-1": CodeSet("8859-1", 0x0333, "latin-1", _single_byte),
    "utf8": CodeSet("utf8", 0xE01C, "utf-8", _utf8),
    "sjis": CodeSet("sjis", 0xE006, "shift_jis", _double_byte_leads),
    "thai620": CodeSet("thai620", 0xE01D, "tis_620", _single_byte),
    "8859-6": CodeSet("8859-6", 0x0441, "iso8859_6", _single_byte),
    "8859-8": CodeSet("8859-8", 0x0394, "iso8859_8", _single_byte),
    "tst": _TstCodeSet("tst", 0xE020, "utf-16-be", _tst),
}
