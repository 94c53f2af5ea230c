"""Code tables: a byte trie from the 1- to 4-byte characters of a code set
to fixed-size values, and its text form as the locale library loads it.

Text form (numbers decimal unless marked hex; hex written lower case):

    header   "<longest> <shortest> <flags> " default-value "\n"
    tree     per node, pre-order: "<has-states> <has-values>\n",
             the state array as runs, the value block as runs, then the
             children in byte order among the bytes whose state is MORE
    shared   "<n-state-arrays> <n-value-blocks>\n", each distinct state
             array as runs, each distinct value block as runs, then per
             node, pre-order: "<has-states> <has-values> <si> <vi>\n"
    runs     records "ss lll rrr" (2+3+3 hex digits: start, length L,
             repeat R) then L entries then "\n"; the L entries are placed
             R times from the start; "0000000\n" ends the array
    entries  a state is 2 hex digits; a value is written by the caller's
             value writer (4 hex digits for 16-bit values)

Flags: 1 marks key ends as valid characters (always set), 2 marks the
shared form. States: 0 invalid, 1 more bytes follow, 4 the key ends.
"""

INVALID, MORE, END = 0, 1, 4
FLAG_ENDS, FLAG_SHARED = 1, 2


class Node:
    __slots__ = ("states", "values", "children")

    def __init__(self):
        self.states = [INVALID] * 256
        self.values = None
        self.children = {}


class CodeTable:
    """A prefix-free set of keys (byte strings of 1 to 4 bytes), each with a
    value; keys without a value of their own take the default."""

    def __init__(self, default):
        self.default = default
        self.root = Node()
        self.longest = 0
        self.shortest = 4

    def insert(self, key, value=None):
        if not 1 <= len(key) <= 4:
            raise ValueError("key length %d outside 1..4" % len(key))
        node = self.root
        for b in key[:-1]:
            child = node.children.get(b)
            if child is None:
                if node.states[b] == END:
                    raise ValueError("key %s extends a shorter key" % key.hex())
                node.states[b] = MORE
                child = node.children[b] = Node()
            node = child
        last = key[-1]
        if node.states[last] != INVALID:
            raise ValueError("key %s is a prefix or a duplicate" % key.hex())
        node.states[last] = END
        if value is not None and value != self.default:
            if node.values is None:
                node.values = [self.default] * 256
            node.values[last] = value
        if len(key) > self.longest:
            self.longest = len(key)
        if len(key) < self.shortest:
            self.shortest = len(key)

    def make_single_byte_complete(self):
        """A table of one-byte keys only treats every byte as a character."""
        if self.longest <= 1 and self.shortest == 1:
            self.root.states = [END] * 256

    def preorder(self):
        stack = [self.root]
        while stack:
            node = stack.pop()
            yield node
            for b in sorted(node.children, reverse=True):
                stack.append(node.children[b])


def runs(entries, zero):
    """Splits a 256-entry array into (start, [entries], repeat) records:
    zero entries are skipped; four or more equal entries make a uniform
    record; anything else a literal record that stops before the fourth
    of four equal entries."""
    out = []
    i = 0
    while i < 256:
        if entries[i] == zero:
            i += 1
            continue
        s = i
        if s + 3 < 256 and entries[s] == entries[s + 1] == entries[s + 2] == entries[s + 3]:
            r = 4
            while s + r < 256 and entries[s + r] == entries[s]:
                r += 1
            out.append((s, [entries[s]], r))
            i = s + r
            continue
        stop, equal = 256, 1
        for j in range(s + 1, 256):
            equal = equal + 1 if entries[j] == entries[j - 1] else 1
            if equal == 4:
                stop = j
                break
        end = stop - 1
        while entries[end] == zero:
            end -= 1
        out.append((s, entries[s:end + 1], 1))
        i = end + 1
    return out


def _write_runs(out, entries, zero, fmt):
    for start, body, repeat in runs(entries, zero):
        out.append("%02x%03x%03x%s\n" % (start, len(body), repeat, "".join(fmt(e) for e in body)))
    out.append("0000000\n")


def _state(s):
    return "%02x" % s


def dump(table, value_fmt, shared):
    """Returns the text form of the table; value_fmt writes one value."""
    table.make_single_byte_complete()
    flags = FLAG_ENDS | (FLAG_SHARED if shared else 0)
    out = ["%d %d %d %s\n" % (table.longest, table.shortest, flags, value_fmt(table.default))]
    if not shared:
        for node in table.preorder():
            out.append("1 %d\n" % (node.values is not None))
            _write_runs(out, node.states, INVALID, _state)
            if node.values is not None:
                _write_runs(out, node.values, table.default, value_fmt)
        return "".join(out)

    state_index, value_index, node_lines = {}, {}, []
    for node in table.preorder():
        si = state_index.setdefault(tuple(node.states), len(state_index))
        if node.values is None:
            node_lines.append("1 0 %d 0\n" % si)
        else:
            vi = value_index.setdefault(tuple(node.values), len(value_index))
            node_lines.append("1 1 %d %d\n" % (si, vi))
    out.append("%d %d\n" % (len(state_index), len(value_index)))
    for states in state_index:
        _write_runs(out, list(states), INVALID, _state)
    for values in value_index:
        _write_runs(out, list(values), table.default, value_fmt)
    out.extend(node_lines)
    return "".join(out)
