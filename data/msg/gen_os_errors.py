#!/usr/bin/env python3
"""Writes the message source of the operating-system error texts.

usage: gen_os_errors.py OUTPUT [FIRST LAST]

One entry per errno value FIRST..LAST (default 1..133), its text taken from
the C library's strerror, so that the numbers match what this system's
calls report on this platform. Nothing generated is kept in the sources.
"""
import os
import sys


def escape(text):
    out = []
    for ch in text:
        if ch == "\\":
            out.append("\\\\")
        elif ch == "%":
            out.append("%%")
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append("\\x%02X" % ord(ch))
        else:
            out.append(ch)
    return "".join(out)


def main():
    if len(sys.argv) not in (2, 4):
        sys.stderr.write(__doc__)
        return 2
    first, last = (1, 133) if len(sys.argv) == 2 else (int(sys.argv[2]), int(sys.argv[3]))
    lines = [
        "# Generated from strerror; do not edit.",
        "@output os.vqm",
        "@form short",
        "@charset ISO-8859-1",
    ]
    for n in range(first, last + 1):
        text = os.strerror(n)
        # Latin-1 is the stored code set; the C locale's texts are ASCII.
        text.encode("latin-1")
        lines.append("%d [] %s" % (n, escape(text.rstrip(" "))))
    tmp = sys.argv[1] + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, sys.argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
