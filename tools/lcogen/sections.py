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

import re
import unicodedata

import glibc
import glibc_collate
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


def collate_section(cs, multibyte, kind):
    """kind "code": code order, every character at position 0 with the
    single weight 2 ordered by code (0x8000 | 2), so strings compare by
    their character codes. "thai": the library's built-in Thai collation.
    "glibc:<source>": the collation of a glibc locale source, level by
    level (glibc_collate.py)."""
    if kind == "thai":
        return "thai_smo\n"
    if kind.startswith("glibc:"):
        table = glibc_collate.table_for(kind[len("glibc:"):], cs)
        named = glibc_collate.inexact(table)
        if named:
            print("%s: order not exact for %s" % (cs.name, " ".join(
                "U+%04X" % ord(c) if len(c) == 1 else repr(c) for c in named)))
        return glibc_collate.section(table, multibyte)
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
    """Writes texts as counted strings in one code set. A character without
    a form in the code set is written as its compatibility decomposition,
    or as the substitute that the code set's users write for it."""

    SUBSTITUTES = {"\u20ac": "EUR", "\u20aa": "ILS"}

    def __init__(self, cs):
        self.cs = cs

    def encode(self, text):
        out = []
        for c in text:
            data = self.cs.encode(c)
            if data is None:
                alt = self.SUBSTITUTES.get(c) or unicodedata.normalize("NFKD", c)
                if alt == c or any(self.cs.encode(a) is None for a in alt):
                    raise ValueError("%r has no form in %s" % (text, self.cs.name))
                data = b"".join(self.cs.encode(a) for a in alt)
            out.append(data)
        return b"".join(out)

    def string(self, text):
        data = self.encode(text)
        return "%d %s\n" % (len(data), data.hex()) if data else "0\n"

    def strings(self, texts):
        return "".join(self.string(t) for t in texts)

    def counted(self, texts):
        return "%d\n" % len(texts) + self.strings(texts)


def engine_format(fmt):
    """A time format as the formatting engine takes it: %Z, %z and %s are
    dropped with the blank before them, %k and %l become %H and %I, %P
    becomes %p, and %F (a date in other formatters, the fraction here)
    becomes %Y-%m-%d."""
    fmt = re.sub(r" ?%[Zzs]", "", fmt)
    return (fmt.replace("%k", "%H").replace("%l", "%I").replace("%P", "%p")
            .replace("%F", "%Y-%m-%d"))


def era_entry(era):
    """direction:offset:start:end:name:format -> the library's seven fields,
    the era name serving also as the second name."""
    fields = era.split(":", 5)
    if len(fields) != 6:
        raise ValueError("malformed era %r" % era)
    return ":".join(fields[:5] + [fields[4], engine_format(fields[5])])


def _one(src, key, default=""):
    return src.get(key, [default])[0]


def _int(value):
    return NOT_GIVEN if value == -1 else value


def _int_list(values):
    if values in ([], [-1]):
        return "0\n"
    values = [127 if v == -1 else v for v in values]
    return " ".join(str(v) for v in [len(values)] + values) + "\n"


def numeric_section(t, src):
    # The LC_NUMERIC signs: "+" so that the '+' and blank flags and exponent
    # signs of the number formatting engine come out as the C library writes them.
    return (t.strings([_one(src, "decimal_point"), _one(src, "thousands_sep")])
            + _int_list(src.get("grouping", [-1])) + t.strings(["+", "-"]))


MONETARY_INTS = ["int_frac_digits", "frac_digits", "p_cs_precedes", "p_sep_by_space",
                 "n_cs_precedes", "n_sep_by_space", "p_sign_posn", "n_sign_posn"]


def monetary_section(t, src):
    return (t.strings([_one(src, k) for k in ("int_curr_symbol", "currency_symbol",
                                              "mon_decimal_point", "mon_thousands_sep")])
            + _int_list(src.get("mon_grouping", [-1]))
            + t.strings([_one(src, "positive_sign"), _one(src, "negative_sign")])
            + "".join("%d\n" % _int(_one(src, k, -1)) for k in MONETARY_INTS))


def time_section(t, src, calendar="gregorian"):
    am_pm = src.get("am_pm", ["", ""])
    fmt = lambda k: engine_format(_one(src, k))   # noqa: E731
    return "".join([
        calendar + "\n",
        t.strings(src["abday"]), t.strings(src["day"]),
        t.counted(src["abmon"]), t.counted(src["mon"]),
        t.strings([fmt("d_t_fmt"), fmt("d_fmt"), fmt("t_fmt"), am_pm[0], am_pm[1],
                   fmt("t_fmt_ampm")]),
        t.counted([era_entry(e) for e in src.get("era", [])]),
        t.strings([fmt("era_d_fmt"), fmt("era_t_fmt"), fmt("era_d_t_fmt")]),
        t.counted(src.get("alt_digits", [])),
    ])


def messages_section(t, src):
    return t.strings([_one(src, k) for k in ("yesexpr", "noexpr", "yesstr", "nostr")])


def locale_file(spec, cs, source, collation="code", calendar="gregorian", time=None):
    """The whole text of the locale-object file of the locale spec, its
    text categories imported from the glibc locale source named source;
    time replaces LC_TIME keywords (the calendar fixtures' month names)."""
    multibyte = not cs.single_byte
    t = Texts(cs)
    time_src = dict(glibc.category(source, "LC_TIME"))
    time_src.update(time or {})
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
            ("LC_COLLATE", collate_section(cs, multibyte, collation)),
            ("LC_NUMERIC", numeric_section(t, glibc.category(source, "LC_NUMERIC"))),
            ("LC_MONETARY", monetary_section(t, glibc.category(source, "LC_MONETARY"))),
            ("LC_TIME", time_section(t, time_src, calendar)),
            ("LC_MESSAGES", messages_section(t, glibc.category(source, "LC_MESSAGES")))):
        parts.append("### %s\n" % marker)
        parts.append(body)
    return "".join(parts)
