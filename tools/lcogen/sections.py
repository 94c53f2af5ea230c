"""The sections of a locale-object (.lco) file.

File layout (lines end with "\n"):

    FILE_TYPE=locale_object
    COMPILER_VERSION=11
    HEADER_LINES=<n>            n header lines in all
    <n - 3 further lines>       not read by the library
    <code-set name>             at most 19 characters
    ### LC_CTYPE      ...       the six sections, each after its marker
    ### LC_COLLATE    ...
    ### LC_NUMERIC    ...
    ### LC_MONETARY   ...
    ### LC_TIME       ...
    ### LC_MESSAGES   ...

LC_CTYPE:
    class table (code table, 4 hex digits of class bits per value)
    <class count>\n, then per locale class "<number> <name>\n"
    case table (code table, 4 hex digits: index into the case pairs)
    <pair count d>, then d times "\n" + 8 hex digits upper + 8 hex digits
    lower (wide values, 0 for none); the last line read (the last pair's,
    or the count's when d is 0) ends with " <case factor>\n", the most
    output bytes that case conversion writes per input byte.

Texts are counted strings "<length> <hex bytes>\n" ("0\n" when empty),
written in the locale's code set.
"""

from codetable import CodeTable, dump
from charsets import LOCALE_CLASSES, case_partner, class_bits

COMPILER_VERSION = "11"
NOT_GIVEN = 2147483647          # a monetary integer that the locale leaves open


def _hex4(v):
    return "%04x" % v


def _wide(data):
    return int.from_bytes(data, "big")


def ctype_section(cs, multibyte):
    classes = CodeTable(0)
    cases = CodeTable(0)
    pairs, pair_index = [], {}
    factor = 1.0
    for data, ch in cs.characters():
        classes.insert(data, class_bits(ch))
        up = case_partner(ch, "upper", cs.encode)
        low = case_partner(ch, "lower", cs.encode)
        index = 0
        if up is not None or low is not None:
            pair = (_wide(up or data), _wide(low or data))
            index = pair_index.get(pair)
            if index is None:
                pairs.append(pair)
                index = pair_index[pair] = len(pairs)
                if index > 0xFFFF:
                    raise ValueError("%s: more case pairs than 16-bit indexes" % cs.name)
            for partner in (up, low):
                if partner is not None:
                    factor = max(factor, len(partner) / len(data))
        cases.insert(data, index)

    out = [dump(classes, _hex4, multibyte)]
    out.append("%d\n" % len(LOCALE_CLASSES))
    out.extend("%d %s\n" % (number, name) for number, name in LOCALE_CLASSES)
    out.append(dump(cases, _hex4, multibyte))
    out.append("%d" % len(pairs))
    out.extend("\n%08x%08x" % pair for pair in pairs)
    out.append(" %r\n" % factor)
    return "".join(out)


def collate_section(cs, multibyte, thai):
    """Code-order collation: every character at position 0 with the single
    weight 2 ordered by code (0x8000 | 2), so strings compare by their
    character codes. The Thai locale names its built-in collation."""
    if thai:
        return "thai_smo\n"
    positions = CodeTable(0)
    for data, _ in cs.characters():
        positions.insert(data)
    return "".join([
        "as_specified\n",
        dump(positions, _hex4, multibyte),
        "1\n",                  # code order
        "0 1 0 0 2\n",          # maxpos, passes, elements, expansions, maxweight
        "0001\n",               # pass 1 forward
        " 8002\n",              # the weight of position 0
    ])


class Texts:
    """Writes texts as counted strings in one code set."""

    def __init__(self, cs):
        self.cs = cs

    def string(self, text):
        chars = [self.cs.encode(c) for c in text]
        if None in chars:
            raise ValueError("%r has no form in %s" % (text, self.cs.name))
        data = b"".join(chars)
        return "%d %s\n" % (len(data), data.hex()) if data else "0\n"

    def strings(self, texts):
        return "".join(self.string(t) for t in texts)

    def counted(self, texts):
        return "%d\n" % len(texts) + self.strings(texts)


def numeric_section(t):
    # decimal point, thousands separator, grouping (count 0), signs
    return t.strings([".", ""]) + "0\n" + t.strings(["", "-"])


def monetary_section(t):
    return (t.strings(["", "", "", ""]) + "0\n" + t.strings(["", "-"])
            + "%d\n" % NOT_GIVEN * 8)


_ABDAY = ["Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"]
_DAY = ["Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"]
_ABMON = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
_MON = ["January", "February", "March", "April", "May", "June", "July",
        "August", "September", "October", "November", "December"]


def time_section(t):
    return "".join([
        "gregorian\n",
        t.strings(_ABDAY), t.strings(_DAY),
        t.counted(_ABMON), t.counted(_MON),
        # d_t_fmt, d_fmt, t_fmt, am, pm, t_fmt_ampm
        t.strings(["%a %b %e %H:%M:%S %Y", "%m/%d/%y", "%H:%M:%S", "AM", "PM", "%I:%M:%S %p"]),
        t.counted([]),                  # eras
        t.strings(["", "", ""]),        # era_d_fmt, era_t_fmt, era_d_t_fmt
        t.counted([]),                  # alternate digits
    ])


def messages_section(t):
    # yes expression, no expression, yes string, no string
    return t.strings(["^[yY]", "^[nN]", "yes", "no"])


def locale_file(spec, cs, thai=False):
    """The whole text of the locale-object file of the locale spec."""
    multibyte = not cs.single_byte
    t = Texts(cs)
    header = [
        "FILE_TYPE=locale_object",
        "COMPILER_VERSION=" + COMPILER_VERSION,
        "HEADER_LINES=5",
        "LOCALE=" + spec,
        "CODESET_NUMBER=%d" % cs.number,
        cs.name,
    ]
    parts = ["\n".join(header) + "\n"]
    for marker, body in (
            ("LC_CTYPE", ctype_section(cs, multibyte)),
            ("LC_COLLATE", collate_section(cs, multibyte, thai)),
            ("LC_NUMERIC", numeric_section(t)),
            ("LC_MONETARY", monetary_section(t)),
            ("LC_TIME", time_section(t)),
            ("LC_MESSAGES", messages_section(t))):
        parts.append("### %s\n" % marker)
        parts.append(body)
    return "".join(parts)
