"""Imports LC_COLLATE from the glibc locale sources into the collation
tables of a locale-object file.

The source is read as glibc's localedef reads it: "copy" of another
source, collating-element definitions, and the order, in which every line
"<name> [weights]" takes the next position (collating symbols listed
outside an order section included). Conditional blocks take their else
branch. A weight names a symbol or a character; its value is the position
of that name in the order.

Each level becomes one forward pass. At a pass, a symbol's weight is its
rank (from 2) among the weights the code set's characters use there. A
level weight of several symbols becomes an expansion over characters that
carry those symbols alone at that level; where none does (a letter followed
by its accent symbols), one weight ranked by the whole sequence. IGNORE is
weight 1. Characters with equal weights at every pass share one position.

inexact(table) names the characters whose order the tables cannot give
exactly, found by comparing the tables with a model of glibc's level by
level comparison.
"""

import os
import random
import re

import glibc

_NAME = re.compile(r"<([^>]+)>")


class Source:
    def __init__(self):
        self.position = {}      # name -> position in the order
        self.weights = {}       # name -> list of per-level tuples of names, or None (itself)
        self.elements = {}      # name -> str of its characters
        self.levels = 0
        self.undefined = None   # position of UNDEFINED


def _char_of(name):
    if re.fullmatch(r"U[0-9A-Fa-f]{4,8}", name):
        return chr(int(name[1:], 16))
    return None


def _strip_comment(line, comment):
    quoted = False
    for i, c in enumerate(line):
        if c == '"':
            quoted = not quoted
        elif c == comment and not quoted:
            return line[:i].rstrip()
    return line


def _read(name, src, depth=0):
    if depth > 8:
        raise glibc.SourceError("copy loop at %s" % name)
    path = os.path.join(glibc.LOCALE_DIR, name)
    inside = name.startswith("iso14651")  # files holding only LC_COLLATE
    skipping = []  # per open conditional: True while its lines are left out
    for line, _escape in glibc._logical_lines(path):
        line = _strip_comment(line, "%").strip()
        if not line:
            continue
        if not inside:
            if line == "LC_COLLATE":
                inside = True
            continue
        if line == "END LC_COLLATE":
            break
        word = line.split()[0]
        if word in ("ifdef", "ifndef"):
            skipping.append(True)
            continue
        if word == "else":
            skipping[-1] = not skipping[-1]
            continue
        if word == "endif":
            skipping.pop()
            continue
        if any(skipping):
            continue
        if word == "LC_COLLATE":
            continue
        if word == "copy":
            _read(line.split('"')[1], src, depth + 1)
        elif word == "collating-element":
            m = re.match(r'collating-element\s+<([^>]+)>\s+from\s+"(.*)"', line)
            chars = [_char_of(n) for n in _NAME.findall(m.group(2))]
            if None not in chars:
                src.elements[m.group(1)] = "".join(chars)
        elif word == "order_start":
            rest = line[len("order_start"):].strip()
            fields = rest.split(";")
            if fields[0].startswith("<"):
                fields = fields[1:]
            src.levels = max(src.levels, len(fields))
        elif word == "UNDEFINED":
            src.undefined = len(src.position)
            src.position["UNDEFINED"] = src.undefined
        elif line.startswith("<"):
            m = re.match(r"<([^>]+)>\s*(.*)$", line)
            name, rest = m.group(1), m.group(2).strip()
            if ".." in line:
                continue  # ranges of ideographs: no code set here holds them
            src.position.setdefault(name, len(src.position))
            if rest:
                levels = []
                for field in rest.split(";"):
                    field = field.strip()
                    levels.append(() if field == "IGNORE" else tuple(_NAME.findall(field)))
                src.weights[name] = levels
            elif name not in src.weights:
                src.weights[name] = None


def load(name):
    src = Source()
    _read(name, src)
    return src


def _unit_levels(src, name):
    """The per-level name tuples of a character or element name; None when
    the source does not place it."""
    if name in src.weights:
        w = src.weights[name]
        if w is None:
            return [(name,)] * src.levels
        return (w + [w[-1]] * src.levels)[:src.levels]
    if src.undefined is not None:
        return [("UNDEFINED",)] * src.levels
    return None


def _uname(ch):
    return "U%04X" % ord(ch) if ord(ch) <= 0xFFFF else "U%08X" % ord(ch)


class Table:
    """The tables of one code set: units (characters and elements) with
    their per-pass weights, expansions, positions."""

    def __init__(self, src, cs):
        self.src = src
        self.cs = cs
        self.levels = src.levels
        self.chars = []        # (bytes, str)
        self.glibc = {}        # str (character or element) -> per-level name tuples
        self.unplaced = []
        for data, ch in cs.characters():
            self.chars.append((data, ch))
            lv = _unit_levels(src, _uname(ch))
            if lv is None:
                self.unplaced.append(ch)
                lv = [("UNDEFINED-LAST",)] * self.levels
            self.glibc[ch] = lv
        self.elements = []
        for name, text in src.elements.items():
            if len(text) < 2 or len(text) > 15 or name not in src.weights:
                continue
            if all(cs.encode(c) is not None for c in text):
                self.elements.append(text)
                self.glibc[text] = _unit_levels(src, name)
        self.elements.sort(key=len, reverse=True)  # the longest match first
        self._build()

    def _pos(self, name):
        return self.src.position.get(name, len(self.src.position) + 1)

    def _build(self):
        self.expansions = []
        exp_index = {}
        self.weights = {}  # unit -> per-pass weight values
        self.composite = set()
        per_level = []
        for lv in range(self.levels):
            alone = {}
            for _data, ch in self.chars:
                t = self.glibc[ch][lv]
                if len(t) == 1 and t[0] not in alone:
                    alone[t[0]] = ch
            atoms = set()
            for unit, levels in self.glibc.items():
                t = levels[lv]
                if len(t) == 1 or (len(t) > 1 and not all(s in alone for s in t)):
                    atoms.add(t)
            ranked = sorted(atoms, key=lambda t: tuple(self._pos(s) for s in t))
            rank = {t: i + 2 for i, t in enumerate(ranked)}
            per_level.append((alone, rank))
        for unit, levels in self.glibc.items():
            ws = []
            for lv, t in enumerate(levels):
                alone, rank = per_level[lv]
                if not t:
                    ws.append(1)
                elif t in rank:
                    ws.append(rank[t])
                    if len(t) > 1:
                        self.composite.add(unit)
                else:
                    text = "".join(alone[s] for s in t)
                    if text not in exp_index:
                        exp_index[text] = len(self.expansions)
                        self.expansions.append(text)
                    ws.append(0x4000 | exp_index[text])
            self.weights[unit] = ws
        self.maxweight = max([2] + [w for ws in self.weights.values() for w in ws
                                    if not w & 0x4000])
        if self.maxweight > 0x3FFF or len(self.expansions) > 0x3FFF:
            raise ValueError("%s: weights beyond 14 bits" % self.cs.name)

    # ---- the two models of comparison ----

    def units(self, text):
        """Splits a string into units: elements (longest first), else
        characters."""
        out, i = [], 0
        while i < len(text):
            for e in self.elements:
                if text.startswith(e, i):
                    out.append(e)
                    i += len(e)
                    break
            else:
                out.append(text[i])
                i += 1
        return out

    def glibc_key(self, text):
        us = self.units(text)
        return tuple(tuple(self._pos(s) for u in us for s in self.glibc[u][lv])
                     for lv in range(self.levels))

    def table_key(self, text):
        us = self.units(text)
        key = []
        for lv in range(self.levels):
            seq = []
            for u in us:
                w = self.weights[u][lv]
                if w & 0x4000:
                    seq.extend(self.weights[c][lv] for c in self.expansions[w & 0x3FFF])
                elif w != 1:
                    seq.append(w)
            key.append(tuple(s for s in seq if s != 1))
        return tuple(key)


def _sign(a, b):
    return (a > b) - (a < b)


def inexact(table, samples=20000, seed=14651):
    """Characters whose comparisons the tables cannot give as glibc does:
    all pairs of single characters (sampled in large code sets), and pairs
    of short strings that tie at the first level."""
    letters = [ch for _d, ch in table.chars if ch.isalpha()]
    named = set(table.unplaced)
    rng = random.Random(seed)
    singles = [ch for _d, ch in table.chars if ch != "\0"]
    pairs = []
    if len(singles) <= 512:
        pairs.extend((a, b) for a in singles for b in singles)
    else:
        pairs.extend((rng.choice(singles), rng.choice(singles)) for _ in range(samples))
    variants = {}
    for ch in letters:
        variants.setdefault(table.glibc_key(ch)[0], []).append(ch)
    groups = [g for g in variants.values() if len(g) > 1]
    for _ in range(samples if groups else 0):
        a, b = [], []
        for _k in range(rng.randint(1, 4)):
            g = rng.choice(groups)
            a.append(rng.choice(g))
            b.append(rng.choice(g))
        pairs.append(("".join(a), "".join(b)))
    for a, b in pairs:
        if _sign(table.glibc_key(a), table.glibc_key(b)) != _sign(table.table_key(a),
                                                                  table.table_key(b)):
            suspects = {u for u in table.units(a + b) if u in table.composite}
            named.update(suspects or set(a + b))
    return sorted(named)


_SOURCES = {}


def table_for(source, cs):
    if source not in _SOURCES:
        _SOURCES[source] = load(source)
    return Table(_SOURCES[source], cs)


def section(table, multibyte):
    """The LC_COLLATE section text (layout in sections.py)."""
    from codetable import CodeTable, dump
    cs = table.cs
    rows, index = [], {}

    def position(ws):
        ws = tuple(ws)
        if ws not in index:
            index[ws] = len(rows)
            rows.append(ws)
        return index[ws]

    def wide(text):
        return "".join("%08x" % int.from_bytes(cs.encode(c), "big") for c in text)

    positions = CodeTable(0)
    for data, ch in table.chars:
        positions.insert(data, position(table.weights[ch]))
    elements = ["%x%04x%s\n" % (len(e), position(table.weights[e]), wide(e))
                for e in table.elements]
    out = ["as_specified\n", dump(positions, lambda v: "%04x" % v, multibyte), "0\n",
           "%d %d %d %d %d\n" % (len(rows) - 1, table.levels, len(elements),
                                 len(table.expansions), table.maxweight),
           "0001" * table.levels + "\n"]
    out.extend(elements)
    out.extend("%x%s\n" % (len(x), wide(x)) for x in table.expansions)
    out.extend("".join("%04x" % w for w in ws) + "\n" for ws in rows)
    return "".join(out)
