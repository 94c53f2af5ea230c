#!/usr/bin/env python3
"""An independent reader of message files (.vqm) and of message sources.

Written from the description of the format, not from the compiler: a
message file is big-endian; a 4-byte header (magic 0xFE68 for 8-byte short
index entries or 0xFE69 for 10-byte long ones, then a signed 16-bit entry
count), the index sorted by ascending signed number, then the texts at the
offsets the entries give. A number is found by a binary search that reads
the index in pages of at most eight entries and never past its end.
"""
import struct

MAGIC_SHORT = 0xFE68
MAGIC_LONG = 0xFE69
PAGE_ENTRIES = 8

NOT_FOUND = -1228      # the number is not in the file
BAD_MAGIC = -1229      # not a message file
SHORT_PAGE = -1231     # an index page was not read whole

# The rows of the range table that the system relies on, plus the rows this
# build adds for the SQL numbers beyond 999 and the locale errors.
RANGES = [
    (1, 79, "os.vqm"),
    (100, 199, "isam.vqm"),
    (200, 999, "sql.vqm"),
    (1000, 1999, "sql.vqm"),
    (23100, 23199, "sql.vqm"),
    (32765, 32766, "os.vqm"),
    (87000, 88999, "tev.vqm"),
]


def file_for_number(number):
    """The message file of a number: first row holding its magnitude."""
    magnitude = abs(number)
    for low, high, name in RANGES:
        if low <= magnitude <= high:
            return name
    return "os.vqm"


class MessageFile:
    """One open message file; records every index read it makes."""

    def __init__(self, path):
        self.path = path
        self.f = open(path, "rb")
        self.reads = []            # (offset, length) of each index page read
        head = self.f.read(4)
        magic = struct.unpack(">H", head[:2])[0] if len(head) == 4 else 0
        if magic == MAGIC_SHORT:
            self.long_entries = False
            self.entry_size = 8
        elif magic == MAGIC_LONG:
            self.long_entries = True
            self.entry_size = 10
        else:
            self.f.close()
            raise ValueError(BAD_MAGIC)
        self.count = struct.unpack(">h", head[2:4])[0]
        self.index_end = 4 + self.count * self.entry_size
        self.per_read = min(self.count, PAGE_ENTRIES)

    def close(self):
        self.f.close()

    def _entry(self, raw):
        if self.long_entries:
            return struct.unpack(">ihI", raw)
        return struct.unpack(">hhI", raw)

    def _page(self, first):
        wanted = min(self.per_read, self.count - first)
        offset = 4 + first * self.entry_size
        self.f.seek(offset)
        raw = self.f.read(wanted * self.entry_size)
        self.reads.append((offset, wanted * self.entry_size))
        if len(raw) < wanted * self.entry_size:
            return None
        size = self.entry_size
        return [self._entry(raw[i * size:(i + 1) * size]) for i in range(wanted)]

    def find(self, number):
        """(0, text bytes) or (error, None)."""
        low, high = 0, self.count - 1
        while low <= high:
            middle = (low + high) // 2
            page = self._page(middle)
            if page is None:
                return SHORT_PAGE, None
            if number < page[0][0]:
                high = middle - 1
                continue
            for num, length, offset in page:
                if num == number:
                    self.f.seek(offset)
                    text = self.f.read(length)
                    return 0, text
            low = middle + len(page)
        return NOT_FOUND, None

    def entries(self):
        """Every (number, text) in index order."""
        out = []
        for first in range(0, self.count, PAGE_ENTRIES):
            self.per_read = PAGE_ENTRIES
            page = self._page(first)
            self.per_read = min(self.count, PAGE_ENTRIES)
            if page is None:
                raise ValueError(SHORT_PAGE)
            for num, length, offset in page:
                self.f.seek(offset)
                out.append((num, self.f.read(length)))
        return out


def parse_source(text, charset="latin-1"):
    """Parses message source text into {number: stored bytes} and the
    declared kind lists {number: [kinds]}. Directives other than @charset
    are ignored here."""
    texts, kinds = {}, {}
    for line in text.split("\n"):
        if line.endswith("\r"):
            line = line[:-1]
        stripped = line.strip(" \t")
        if not stripped or stripped.startswith("#"):
            continue
        if stripped.startswith("@"):
            parts = stripped.split("#")[0].split()
            if parts[0] == "@charset" and parts[1].upper().replace("_", "-") == "UTF-8":
                charset = "utf-8"
            continue
        head, _, rest = stripped.partition("]")
        number_text, _, kind_text = head.partition(" [")
        number = int(number_text)
        if rest.startswith(" "):
            rest = rest[1:]
        data = bytearray()
        line_feed = True
        i = 0
        while i < len(rest):
            ch = rest[i]
            if ch == "\\":
                esc = rest[i + 1]
                if esc == "n":
                    data += b"\n"
                elif esc == "t":
                    data += b"\t"
                elif esc == "\\":
                    data += b"\\"
                elif esc == "c":
                    line_feed = False
                elif esc == "x":
                    data.append(int(rest[i + 2:i + 4], 16))
                    i += 2
                else:
                    raise ValueError("bad escape in %r" % line)
                i += 2
                continue
            data += ch.encode(charset)
            i += 1
        if line_feed:
            data += b"\n"
        if number in texts:
            raise ValueError("duplicate %d" % number)
        texts[number] = bytes(data)
        kinds[number] = kind_text.split()
    return texts, kinds
