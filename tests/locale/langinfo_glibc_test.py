#!/usr/bin/env python3
"""Compares gl_nl_langinfo and gl_localeconv of the generated locale-object
files with nl_langinfo and localeconv of the C library for the same
locales, compiled with localedef into a temporary directory. The C
library's texts are first put the way the locale library keeps them: time
formats without the conversions its engine refuses, era strings with seven
fields. Ends with "N passed, M failed".

usage: langinfo_glibc_test.py DUMP_PROGRAM LC11_DIRECTORY
"""

import ctypes
import locale
import os
import re
import shutil
import subprocess
import sys
import tempfile

# our file -> (locale source, charmap, glibc locale name, code-set line)
LOCALES = [
    ("en_us/0333.lco", "en_US", "ISO-8859-1", "en_US.ISO-8859-1", "8859-1"),
    ("en_us/e01c.lco", "en_US", "UTF-8", "en_US.UTF-8", "utf8"),
    ("de_de/0333.lco", "de_DE", "ISO-8859-1", "de_DE.ISO-8859-1", "8859-1"),
    ("ja_jp/e006.lco", "ja_JP", "SHIFT_JIS", "ja_JP.SJIS", "sjis"),
    ("th_th/e01d.lco", "th_TH", "TIS-620", "th_TH.TIS-620", "thai620"),
]

AM_STR, PM_STR, YESSTR, NOSTR = 0x20026, 0x20027, 0x50002, 0x50003


class Lconv(ctypes.Structure):
    _fields_ = [(n, ctypes.c_char_p) for n in (
        "decimal_point", "thousands_sep", "grouping", "int_curr_symbol", "currency_symbol",
        "mon_decimal_point", "mon_thousands_sep", "mon_grouping", "positive_sign",
        "negative_sign")] + [(n, ctypes.c_char) for n in (
        "int_frac_digits", "frac_digits", "p_cs_precedes", "p_sep_by_space", "n_cs_precedes",
        "n_sep_by_space", "p_sign_posn", "n_sign_posn")]


def engine_format(fmt):
    fmt = re.sub(rb" ?%[Zzs]", b"", fmt)
    for a, b in ((b"%k", b"%H"), (b"%l", b"%I"), (b"%P", b"%p"), (b"%F", b"%Y-%m-%d")):
        fmt = fmt.replace(a, b)
    return fmt


def seven_fields(era):
    f = era.split(b":", 5)
    return b":".join(f[:5] + [f[4], engine_format(f[5])])


def glibc_values(name, era_count, digit_count):
    """Runs in a child so that setlocale stays there; prints hex lines."""
    libc = ctypes.CDLL("libc.so.6")
    libc.setlocale.restype = ctypes.c_char_p
    libc.nl_langinfo.restype = ctypes.c_void_p
    libc.localeconv.restype = ctypes.POINTER(Lconv)
    if libc.setlocale(locale.LC_ALL, name.encode()) is None:
        raise SystemExit("setlocale %s failed" % name)

    def text(item):
        return ctypes.string_at(libc.nl_langinfo(item))

    def strings(item, n):
        p, out = libc.nl_langinfo(item), []
        for _ in range(n):
            s = ctypes.string_at(p)
            out.append(s)
            p += len(s) + 1
        return out
    v = {0: engine_format(text(locale.D_T_FMT))}
    for i in range(7):
        v[1 + i] = text(locale.DAY_1 + i)
        v[8 + i] = text(locale.ABDAY_1 + i)
    for i in range(12):
        v[15 + i] = text(locale.MON_1 + i)
        v[35 + i] = text(locale.ABMON_1 + i)
    lc = libc.localeconv().contents
    v.update({55: text(locale.RADIXCHAR), 56: text(locale.THOUSEP), 57: text(YESSTR),
              58: text(NOSTR), 59: lc.currency_symbol,
              61: engine_format(text(locale.D_FMT)), 62: engine_format(text(locale.T_FMT)),
              63: engine_format(text(locale.T_FMT_AMPM)), 64: text(AM_STR), 65: text(PM_STR),
              67: engine_format(text(locale.ERA_D_FMT)),
              68: engine_format(text(locale.ERA_D_T_FMT)),
              69: engine_format(text(locale.ERA_T_FMT)),
              71: text(locale.YESEXPR), 72: text(locale.NOEXPR)})
    if era_count:
        v[66] = b"\n".join(seven_fields(e) for e in strings(locale.ERA, era_count))
        v[70] = b"\n".join(strings(locale.ALT_DIGITS, digit_count)) if digit_count else None
    else:
        v[66] = v[70] = None
    for field, kind in Lconv._fields_:
        value = getattr(lc, field)
        v[field] = value[0] if kind is ctypes.c_char else value
    for key, value in v.items():
        if value is None:
            print("%s -" % key)
        elif isinstance(value, int):
            print("%s %d" % (key, value))
        else:
            print("%s %s" % (key, value.hex()))


def parse_dump(out):
    ours = {}
    for line in out.splitlines():
        kind, key, value = line.split(" ", 2)
        if kind == "list":
            continue
        ours[int(key) if kind == "item" else key] = value
    return ours


def main(argv):
    if len(argv) == 4 and argv[1] == "--glibc":
        name, counts = argv[2], argv[3].split(",")
        glibc_values(name, int(counts[0]), int(counts[1]))
        return 0
    dump, lc11 = argv[1], argv[2]
    passed = failed = 0
    tmp = tempfile.mkdtemp(prefix="langinfo_")
    try:
        for ours_file, source, charmap, name, codeset in LOCALES:
            r = subprocess.run(["localedef", "--no-warnings=ascii", "-i", source, "-f", charmap,
                                os.path.join(tmp, name)], capture_output=True, text=True)
            if not os.path.isdir(os.path.join(tmp, name)):
                print("FAIL: localedef %s: %s" % (name, r.stderr.strip()))
                failed += 1
                continue
            r = subprocess.run([dump, os.path.join(lc11, ours_file)], capture_output=True,
                               text=True)
            if r.returncode != 0:
                print("FAIL: %s: %s" % (ours_file, r.stderr.strip()))
                failed += 1
                continue
            ours = parse_dump(r.stdout)
            eras = 0 if ours[66] == "-" else bytes.fromhex(ours[66]).count(b"\n") + 1
            digits = 0 if ours[70] == "-" else bytes.fromhex(ours[70]).count(b"\n") + 1
            env = dict(os.environ, LOCPATH=tmp)
            g = subprocess.run([sys.executable, argv[0], "--glibc", name, "%d,%d" % (eras, digits)],
                               capture_output=True, text=True, env=env)
            if g.returncode != 0:
                print("FAIL: glibc %s: %s" % (name, g.stderr.strip()))
                failed += 1
                continue
            want = parse_dump("\n".join("x " + line for line in g.stdout.splitlines()))
            want = {int(k) if k.isdigit() else k: v for k, v in want.items()}
            want[60] = codeset.encode().hex()
            want[73] = b"gregorian\n".hex()
            for i in list(range(27, 35)) + list(range(47, 55)):
                want[i] = "-"               # past the twelve months
            for g_name in ("grouping", "mon_grouping"):
                if want[g_name] == "":
                    want[g_name] = "-"      # no grouping: no string
            for key in sorted(want, key=str):
                got = ours.get(key)
                if got == want[key]:
                    passed += 1
                else:
                    failed += 1
                    print("FAIL: %s %s: ours %s, C library %s" % (ours_file, key, got, want[key]))
    finally:
        shutil.rmtree(tmp)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
