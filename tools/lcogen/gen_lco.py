#!/usr/bin/env python3
"""Writes the installation's locale data into an installation tree:

    lxr/lc11/<ll>_<tt>/<4 hex digits of the code-set number>.lco
    lxr/lc11/default.lco        the default locale (en_us.8859-1)
    lxr/cm3/registry            code-set names and numbers

Every file is written beside its final name and renamed into place, so an
interrupted run leaves no half-written file.

usage: gen_lco.py --tree DIR [--locale SPEC ...]
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from charsets import CODESETS      # noqa: E402
from registry import number_of, registry_file  # noqa: E402
from sections import locale_file   # noqa: E402
import fixtures                     # noqa: E402

# locale specification -> how it is made: the glibc locale source of its
# text categories, its collation ("code", "thai", "glibc:<source>"), and the extra
# names it is installed under.
LOCALES = {
    "en_us.8859-1": dict(source="en_US", collation="glibc:en_US", also=["default.lco"]),
    "en_us.utf8": dict(source="en_US"),
    "de_de.8859-1": dict(source="de_DE", collation="glibc:de_DE"),
    "ja_jp.sjis": dict(source="ja_JP", collation="glibc:ja_JP"),
    "th_th.thai620": dict(source="th_TH", collation="thai"),
    "xx_yy.tst": dict(source="POSIX"),       # two-byte fixed-width test locale
    # Test fixtures of the two other calendars: month names written here.
    "he_il.8859-8": dict(source="he_IL", calendar="hebrew", time=fixtures.HEBREW_MONTHS),
    "ar_sa.8859-6": dict(source="ar_SA", calendar="islamic", time=fixtures.ISLAMIC_MONTHS),
}


def locale_path(spec):
    """en_us.8859-1 -> en_us/0333.lco, as the library derives it."""
    lang_terr, codeset = spec.split(".", 1)
    return "%s/%04x.lco" % (lang_terr.lower(), number_of(codeset.lower()))


def write_file(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--tree", required=True, help="installation directory")
    ap.add_argument("--locale", action="append", choices=sorted(LOCALES),
                    help="generate only these locales (default: all)")
    args = ap.parse_args(argv)
    lc = os.path.join(args.tree, "lxr", "lc11")
    write_file(os.path.join(args.tree, "lxr", "cm3", "registry"), registry_file())
    for spec in args.locale or sorted(LOCALES):
        codeset = spec.split(".", 1)[1]
        cs = CODESETS[codeset]
        if number_of(codeset) != cs.number:
            raise SystemExit("%s: code-set number mismatch" % spec)
        how = dict(LOCALES[spec])
        also = how.pop("also", [])
        text = locale_file(spec, cs, **how)
        for name in [locale_path(spec)] + also:
            write_file(os.path.join(lc, name), text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
