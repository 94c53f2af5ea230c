#!/usr/bin/env python3
"""Differential test of date parsing and the DATETIME and INTERVAL formats.

Generates cases from a printed seed and runs them through datefmt_probe,
one probe process per environment (the date format is settled once per
process). Expected answers come from Python's datetime and timedelta, a
model of the two-digit-year rules at a pinned today, and the C library's
strftime and strptime (through ctypes) in en_US and de_DE locales compiled
with localedef into a temporary directory. Ends with "N passed, M failed".
"""
import argparse
import ctypes
import datetime as dt
import os
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from decimal_oracle import run  # noqa: E402
from types_oracle import century_model  # noqa: E402

EPOCH = dt.date(1899, 12, 31).toordinal()
TODAY = dt.date(2024, 6, 15)
Y2F5 = (19 << 8) | (0 << 4) | 15


def days(x):
    return x.toordinal() - EPOCH


def rand_date(rng, lo=1, hi=9999):
    return dt.date.fromordinal(rng.randint(dt.date(lo, 1, 1).toordinal(),
                                           dt.date(hi, 12, 31).toordinal()))


class Tm(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int) for n in ("sec", "min", "hour", "mday", "mon", "year", "wday",
                                            "yday", "isdst")] + [("gmtoff", ctypes.c_long),
                                                                 ("zone", ctypes.c_char_p)]


class Libc:
    """strftime_l and strptime of the C library in locales of our own."""

    def __init__(self):
        self.c = ctypes.CDLL("libc.so.6")
        self.c.newlocale.restype = ctypes.c_void_p
        self.c.newlocale.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p]
        self.c.strftime_l.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p,
                                      ctypes.POINTER(Tm), ctypes.c_void_p]
        self.c.strptime.restype = ctypes.c_char_p
        self.c.strptime.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(Tm)]
        self.dir = tempfile.mkdtemp(prefix="datefmt_locales_")
        os.environ["LOCPATH"] = self.dir
        self.locales = {}

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def locale(self, source):
        if source not in self.locales:
            name = source + ".ISO-8859-1"
            subprocess.run(["localedef", "--no-warnings=ascii", "-i", source, "-f", "ISO-8859-1",
                            os.path.join(self.dir, name)], capture_output=True)
            self.locales[source] = self.c.newlocale(0x1FBF, name.encode(), None)  # LC_ALL_MASK
        return self.locales[source]

    def strftime(self, source, fmt, x, micro=0):
        tm = Tm(x.second, x.minute, x.hour, x.day, x.month - 1, x.year - 1900,
                x.isoweekday() % 7, x.timetuple().tm_yday - 1, 0, 0, None)
        buf = ctypes.create_string_buffer(512)
        n = self.c.strftime_l(buf, 512, fmt.encode("latin-1"), ctypes.byref(tm),
                              self.locale(source))
        return buf.raw[:n].decode("latin-1")

    def strptime(self, text, fmt):
        tm = Tm()
        end = self.c.strptime(text.encode("latin-1"), fmt.encode("latin-1"), ctypes.byref(tm))
        if end is None or end.strip():
            return None
        return dt.date(tm.year + 1900, tm.mon + 1, tm.mday)


# ------------------------------------------------------------- DATE input

def complete_year(rule, m, d, yy):
    """Expected (rc, date) of a two-digit year under the century rule."""
    c = century_model(rule, TODAY, m, d, yy)
    try:
        return 0, days(dt.date(100 * c + yy, m, d))
    except ValueError:
        return -1206, -2 ** 31


def mask_cases(rng, rule, n):
    """rfmtdate with random masks, read back by rdefmtdate."""
    cases = []
    for _ in range(n):
        order = rng.sample("dmy", 3)
        long_year = rng.random() < 0.5
        sep = rng.choice(["", "/", "-", ".", " ", ", ", ":"])
        pieces = {"d": "dd", "m": "mm", "y": "yyyy" if long_year else "yy"}
        mask = sep.join(rng.choice([p, p.upper()]) for p in (pieces[k] for k in order))
        x = rand_date(rng, 1000 if long_year else 1)
        fmt = sep.join({"d": "%d", "m": "%m", "y": "%04d" % x.year if long_year else "%y"}[k]
                       for k in order)
        text = x.strftime(fmt.replace("%y", "%02d" % (x.year % 100)))
        d = days(x)
        cases.append(("fmtdate\t%d\t%s" % (d, mask), "0\t" + text))
        exp = (0, d) if long_year else complete_year(rule, x.month, x.day, x.year % 100)
        cases.append(("defmtdate\t%s\t%s" % (mask, text), "%d %d" % exp))
        # Month names in any case are read under "mm".
        if sep.strip() and rng.random() < 0.3:
            name = rng.choice([x.strftime("%b"), x.strftime("%B")])
            name = "".join(c.upper() if rng.random() < 0.5 else c.lower() for c in name)
            parts = {"d": "%02d" % x.day, "m": name,
                     "y": "%04d" % x.year if long_year else "%02d" % (x.year % 100)}
            named = sep.join(parts[k] for k in order)
            cases.append(("defmtdate\t%s\t%s" % (mask, named), "%d %d" % exp))
    return cases


def dbdate_value(rng):
    order = rng.sample("DMY", 3)
    width = rng.choice(["2", "4"])
    sep = rng.choice("/-.,0")
    value = "".join(k + (width if k == "Y" else "") for k in order) + sep
    s = "" if sep == "0" else sep
    fmt = s.join({"D": "%d", "M": "%m", "Y": "{Y}" if width == "4" else "{y}"}[k] for k in order)
    return value, fmt, width == "4"


def render(x, fmt):
    return x.strftime(fmt.replace("{Y}", "%04d" % x.year).replace("{y}", "%02d" % (x.year % 100)))


def dbdate_cases(rng, rule, fmt, long_year, n, others):
    """rdatestr and rstrdate under the process's DBDATE; rstrdbdate under others."""
    cases = []
    for _ in range(n):
        x = rand_date(rng, 1000)
        d = days(x)
        text = render(x, fmt)
        cases.append(("datestr\t%d" % d, "0\t" + text))
        exp = (0, d) if long_year else complete_year(rule, x.month, x.day, x.year % 100)
        cases.append(("strdate\t%s" % text, "%d %d" % exp))
        value, ofmt, olong = rng.choice(others)
        if olong:  # a two-digit year follows the locale parser's own rule
            cases.append(("strdbdate\t%s\t%s" % (value, render(x, ofmt)), "0 %d" % d))
    return cases


GL_DATES = ["%d %B %Y", "%A, %b %d %Y", "%Y%m%d", "%d.%m.%Y", "%B %d, %Y", "%a %e %b %Y"]


def gl_date_cases(rng, libc, fmt, n):
    cases = []
    for _ in range(n):
        x = rand_date(rng, 1000)
        text = x.strftime(fmt.replace("%Y", "%04d" % x.year))
        if rng.random() < 0.3:
            text = text.upper()
        got = libc.strptime(text, fmt)
        cases.append(("strdate\t%s" % text, "0 %d" % days(got) if got else "-1218 %d" % -2 ** 31))
    return cases


# Eras of the Japanese calendar: name, first day.
ERAS = [("\u4ee4\u548c", dt.date(2019, 5, 1)), ("\u5e73\u6210", dt.date(1989, 1, 8)),
        ("\u662d\u548c", dt.date(1926, 12, 25))]


def era_cases(rng, n):
    """Era names of ja_jp.sjis read by rdefmtdate under g and e masks."""
    cases = []
    for _ in range(n):
        name, start = rng.choice(ERAS[:2])
        end = dt.date(2030, 12, 31) if start.year == 2019 else dt.date(2019, 4, 30)
        x = dt.date.fromordinal(rng.randint(start.toordinal(), end.toordinal()))
        era_year = x.year - start.year + 1
        sjis = name.encode("shift_jis").decode("latin-1")
        mask, text = rng.choice([
            ("gyy/mm/dd", "%s%02d/%02d/%02d" % (sjis, era_year, x.month, x.day)),
            ("eyyyy-mm-dd", "%s%04d-%02d-%02d" % (sjis, era_year, x.month, x.day))])
        cases.append(("defmtdate\t%s\t%s" % (mask, text), "0 %d" % days(x)))
    return cases


# ------------------------------------------------------ DATETIME formats

LETTERS = "YmdHMSyIpbBaA"


def widen(fmt):
    """The C library's spelling of a format as the formatter reads it."""
    out, i = "", 0
    while i < len(fmt):
        if fmt[i] == "%" and i + 1 < len(fmt) and fmt[i + 1] in LETTERS:
            c = fmt[i + 1]
            out += "%04Y" if c == "Y" else "%02" + c if c in "HIMSdmy" else "%" + c
            i += 2
        else:
            out += fmt[i]
            i += 1
    return out


def rand_dt(rng):
    x = rand_date(rng, 1000)
    return dt.datetime(x.year, x.month, x.day, rng.randint(0, 23), rng.randint(0, 59),
                       rng.randint(0, 59), rng.randint(0, 99999) * 10)


def dt_text(x):
    return "%04d-%02d-%02d %02d:%02d:%02d.%05d" % (x.year, x.month, x.day, x.hour, x.minute,
                                                   x.second, x.microsecond // 10)


def dtfmt_cases(rng, libc, source, n):
    cases = []
    for _ in range(n):
        x = rand_dt(rng)
        fmt = ""
        for _ in range(rng.randint(1, 6)):
            if rng.random() < 0.3:
                fmt += rng.choice(["at ", "-", " ", "/", "<", "x y"])
            fmt += "%" + rng.choice(LETTERS)
        exp = libc.strftime(source, widen(fmt), x)
        cases.append(("dtfmt\t%s\t%s" % (dt_text(x), fmt), "0\t" + exp))
    return cases


UNITS = [("%Y", "{:04d}"), ("-%m", "{:02d}"), ("-%d", "{:02d}"), (" %H", "{:02d}"),
         (":%M", "{:02d}"), (":%S", "{:02d}")]


def dtcvfmt_cases(rng, n):
    """A format naming every unit from the year down reads its own text back."""
    cases = []
    for _ in range(n):
        x = rand_dt(rng)
        last = rng.randint(0, 6)
        fields = [x.year, x.month, x.day, x.hour, x.minute, x.second]
        fmt, text = "", ""
        for k in range(min(last + 1, 6)):
            fmt += UNITS[k][0]
            text += UNITS[k][0][:-2] + UNITS[k][1].format(fields[k])
        if last == 6:
            digits = rng.randint(1, 5)
            fmt += ".%F" + str(digits)
            text += "." + ("%05d" % (x.microsecond // 10))[:digits]
        defaults = [0, 1, 1, 0, 0, 0]
        kept = [fields[i] if i <= last else defaults[i] for i in range(6)]
        frac = ("%05d" % (x.microsecond // 10))[:digits].ljust(5, "0") if last == 6 else "00000"
        exp = "%04d-%02d-%02d %02d:%02d:%02d.%s" % tuple(kept[:6] + [frac])
        cases.append(("dtcvfmt\t%s\t%s" % (text, fmt), "0\t" + exp))
    return cases


# ------------------------------------------------------ INTERVAL formats

def q(length, first, last):
    return (length << 8) | (first << 4) | last


def interval_cases(rng, n):
    cases = []
    for _ in range(n):
        digits = rng.randint(1, 9)
        td = dt.timedelta(days=rng.randint(0, 10 ** digits - 1), seconds=rng.randint(0, 86399),
                          microseconds=rng.randint(0, 99999) * 10)
        neg = rng.random() < 0.4 and td != dt.timedelta(0)
        hh, rest = divmod(td.seconds, 3600)
        mm, ss = divmod(rest, 60)
        frac = "%05d" % (td.microseconds // 10)
        qual = q(digits + 11, 4, 15)
        std = "%s%d %02d:%02d:%02d.%s" % ("-" if neg else "", td.days, hh, mm, ss, frac)
        ascii_ = (("-" if neg else "") + str(td.days)).rjust(digits + 1) + \
            " %02d:%02d:%02d.%s" % (hh, mm, ss, frac)
        fmt = "%d days %H:%M:%S%F5"
        text = "%s%02d days %02d:%02d:%02d.%s" % ("-" if neg else "", td.days, hh, mm, ss, frac)
        cases.append(("infmt\t%d\t%s\t%s" % (qual, std, fmt), "0\t" + text))
        cases.append(("incvfmt\t%d\t%s\t%s" % (qual, text, fmt), "0\t" + ascii_))
        # Year to month: the format's default precisions are 4 and 2.
        years, months = rng.randint(0, 9999), rng.randint(0, 11)
        neg = rng.random() < 0.4 and (years or months)
        yq = q(6, 0, 2)
        std = "%s%d-%02d" % ("-" if neg else "", years, months)
        text = "%s%04d-%02d" % ("-" if neg else "", years, months)
        ascii_ = (("-" if neg else "") + str(years)).rjust(5) + "-%02d" % months
        cases.append(("infmt\t%d\t%s\t%%Y-%%m" % (yq, std), "0\t" + text))
        cases.append(("incvfmt\t%d\t%s\t%%Y-%%m" % (yq, text), "0\t" + ascii_))
    return cases


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    ap.add_argument("--seed", type=int, default=20261210)
    ap.add_argument("--scale", type=float, default=1.0)
    args = ap.parse_args()
    print("seed %d" % args.seed)
    rng = random.Random(args.seed)
    n = lambda k: max(1, int(k * args.scale))  # noqa: E731
    libc = Libc()
    base = {k: v for k, v in os.environ.items()
            if k not in ("DBDATE", "GL_DATE", "DBTIME", "GL_DATETIME", "DBCENTURY", "CLIENT_LOCALE",
                         "DB_LOCALE", "USE_DTENV")}
    base.update(TZ="UTC", DBTODAY="2024-06-15 12:00:00")
    runs = []
    try:
        for rule in "RCFP":
            env = dict(base, DBCENTURY=rule)
            runs.append(("masks DBCENTURY=" + rule, env, mask_cases(rng, rule, n(1500))))
        values = [dbdate_value(rng) for _ in range(12)]
        for value, fmt, long_year in values:
            rule = rng.choice("RCFP")
            env = dict(base, DBDATE=value, DBCENTURY=rule)
            runs.append(("DBDATE=%s DBCENTURY=%s" % (value, rule), env,
                         dbdate_cases(rng, rule, fmt, long_year, n(300), values)))
        for fmt in GL_DATES:
            runs.append(("GL_DATE=" + fmt, dict(base, GL_DATE=fmt),
                         gl_date_cases(rng, libc, fmt, n(300))))
        runs.append(("eras ja_jp.sjis", dict(base, CLIENT_LOCALE="ja_jp.sjis"),
                     era_cases(rng, n(500))))
        runs.append(("datetime formats en_us", base,
                     dtfmt_cases(rng, libc, "en_US", n(3000)) + dtcvfmt_cases(rng, n(2000)) +
                     interval_cases(rng, n(2000))))
        de = dict(base, CLIENT_LOCALE="de_de.8859-1")
        runs.append(("datetime formats de_de", de, dtfmt_cases(rng, libc, "de_DE", n(3000))))
        total = 0
        failed = []
        for name, env, cases in runs:
            total += len(cases)
            failed += [(name + ": " + l, e, g) for l, e, g in run(args.probe, cases, env)]
    finally:
        libc.close()
    for line, expected, got in failed[:60]:
        print("MISMATCH %r\n  expected %r\n  got      %r" % (line, expected, got))
    print("%d passed, %d failed" % (total - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
