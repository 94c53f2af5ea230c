"""Reads the categories LC_NUMERIC, LC_MONETARY, LC_TIME and LC_MESSAGES of
a locale source in the format of /usr/share/i18n/locales: comment and
escape characters, continued lines, "copy" of another source, strings of
<Uxxxx> symbols and literal characters separated by ";", and integers.

category(name, "LC_TIME") -> {keyword: [values]}; a value is a str for a
string and an int for a number.

case_map("toupper") -> {code point: code point}: the simple (one character
to one character) case mapping of the LC_CTYPE source "i18n_ctype", a list
of "(<Ufrom>,<Uto>)" pairs.
"""

import os
import re

LOCALE_DIR = "/usr/share/i18n/locales"

_SYMBOL = re.compile(r"<U([0-9A-Fa-f]{4,8})>")


class SourceError(Exception):
    pass


def _logical_lines(path):
    comment, escape = "#", "\\"
    with open(path, encoding="utf-8") as f:
        raw = f.read().split("\n")
    pending = ""
    for line in raw:
        stripped = line.strip()
        m = re.match(r"(comment_char|escape_char)\s+(\S)\s*$", stripped)
        if m and not pending:
            if m.group(1) == "comment_char":
                comment = m.group(2)
            else:
                escape = m.group(2)
            continue
        if not pending and stripped.startswith(comment):
            continue
        if line.rstrip().endswith(escape) and not line.rstrip().endswith(escape * 2):
            pending += line.rstrip()[:-1]
            continue
        line = pending + line
        pending = ""
        if line.strip():
            yield line.strip(), escape


def _values(text, escape):
    """The ';'-separated values of one keyword line."""
    values, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if c in " \t;":
            i += 1
        elif c == '"':
            i += 1
            out = []
            while i < n and text[i] != '"':
                if text[i] == escape and i + 1 < n:
                    out.append(text[i + 1])
                    i += 2
                    continue
                m = _SYMBOL.match(text, i)
                if m:
                    out.append(chr(int(m.group(1), 16)))
                    i = m.end()
                    continue
                out.append(text[i])
                i += 1
            if i >= n:
                raise SourceError("unterminated string: %s" % text)
            values.append("".join(out))
            i += 1
        else:
            m = re.match(r"-?\d+", text[i:])
            if not m:
                raise SourceError("bad value: %s" % text[i:])
            values.append(int(m.group(0)))
            i += m.end()
    return values


def _sections(name):
    path = os.path.join(LOCALE_DIR, name)
    sections, current, body = {}, None, None
    for line, escape in _logical_lines(path):
        if current is None:
            if re.match(r"LC_[A-Z]+$", line):
                current, body = line, []
            continue
        if line == "END " + current:
            sections[current] = body
            current = None
            continue
        body.append((line, escape))
    return sections


def category(name, cat, _depth=0):
    if _depth > 8:
        raise SourceError("copy loop at %s" % name)
    body = _sections(name).get(cat)
    if body is None:
        raise SourceError("%s has no %s" % (name, cat))
    result = {}
    for line, escape in body:
        keyword, _, rest = line.partition(" ")
        if "\t" in keyword:
            keyword, _, more = keyword.partition("\t")
            rest = more + " " + rest
        if keyword == "copy":
            result.update(category(_values(rest, escape)[0], cat, _depth + 1))
        else:
            result[keyword] = _values(rest.strip(), escape)
    return result


_PAIR = re.compile(r"\(<U([0-9A-Fa-f]{4,8})>,<U([0-9A-Fa-f]{4,8})>\)")


def case_map(keyword, name="i18n_ctype"):
    """{code point: code point} of the toupper or tolower list of a source's
    LC_CTYPE category."""
    body = _sections(name).get("LC_CTYPE")
    if body is None:
        raise SourceError("%s has no LC_CTYPE" % name)
    for line, _ in body:
        head, _, rest = line.partition(" ")
        if head == keyword:
            pairs = {int(a, 16): int(b, 16) for a, b in _PAIR.findall(rest)}
            if not pairs or rest.count("(") != len(pairs):
                raise SourceError("%s: unreadable %s list" % (name, keyword))
            return pairs
    raise SourceError("%s has no %s" % (name, keyword))
