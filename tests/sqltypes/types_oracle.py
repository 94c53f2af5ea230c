#!/usr/bin/env python3
"""Differential test of the SQL text, date, datetime and 64-bit integer types.

Generates cases from a printed seed, runs them through types_probe under
several environments (DBDATE, GL_DATE, DBCENTURY with a pinned DBTODAY,
DBMONEY) and compares every answer with Python's decimal, datetime and
integers. Ends with the line "N passed, M failed"; exits non-zero on any
failure.
"""
import argparse
import calendar
import datetime as dt
import os
import random
import sys
from decimal import Decimal, ROUND_HALF_UP, ROUND_DOWN, localcontext
from fractions import Fraction as F

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from decimal_oracle import run, to_b100, value  # noqa: E402

EPOCH = dt.date(1899, 12, 31).toordinal()  # DATE 0
I64 = 2 ** 63
NULL_BIG = -I64


def fmt_dec(d):
    if d is None:
        return "N"
    sign, exp, digits = d
    return "%d:%d:%s" % (sign, exp, "".join("%02X" % b for b in digits))


# ------------------------------------------------------------------ dates

def date_of(n):
    return dt.date.fromordinal(n + EPOCH)


def date_cases(rng, n):
    cases = []
    picks = [-693594, 2958464, 0, 1, -1, 36584, 2958465, -693595, 59, 60, 61]
    for _ in range(n):
        d = rng.choice(picks) if rng.random() < 0.05 else rng.randint(-693594, 2958464)
        if -693594 <= d <= 2958464:
            x = date_of(d)
            cases.append(("jul\t%d" % d, "0 %d %d %d" % (x.month, x.day, x.year)))
            cases.append(("dow\t%d" % d, str(x.isoweekday() % 7)))
        else:
            cases.append(("jul\t%d" % d, "-1210 0 0 0"))
        y, m, dd = rng.randint(-2, 10002), rng.randint(0, 13), rng.randint(0, 32)
        if rng.random() < 0.5:
            y = rng.randint(1, 9999)
            m = rng.randint(1, 12)
            dd = rng.randint(1, calendar.monthrange(y, m)[1] + 1)
        if (m, dd, y) == (0, 0, 0):
            exp = "0 %d" % -2 ** 31
        elif y <= 0 or y > 9999:
            exp = "-1204 0"
        elif m < 1 or m > 12:
            exp = "-1205 0"
        elif dd < 1 or dd > calendar.monthrange(y, m)[1]:
            exp = "-1206 0"
        else:
            exp = "0 %d" % (dt.date(y, m, dd).toordinal() - EPOCH)
        cases.append(("mdy\t%d\t%d\t%d" % (m, dd, y), exp))
        yy = rng.randint(1, 9999)
        cases.append(("leap\t%d" % yy, "1" if calendar.isleap(yy) else "0"))
    return cases


def rand_date(rng, lo=1000):
    return rng.randint(dt.date(lo, 1, 1).toordinal(), dt.date(9999, 12, 31).toordinal()) - EPOCH


# DBDATE values and the strftime formats they stand for.
DBDATES = [("MDY4/", "%m/%d/{Y}"), ("DMY4.", "%d.%m.{Y}"), ("Y4MD-", "{Y}-%m-%d"),
           ("MDY2/", "%m/%d/%y"), ("DMY2-", "%d-%m-%y"), ("Y2DM,", "%y,%d,%m"),
           ("MDY40", "%m%d{Y}"), ("YMD4/", None)]
GL_DATES = ["%d %B %Y", "%A, %b %d %Y", "%j/%Y", "%a %e %b %y", "%Y%m%d", "[%B]"]


def strftime(x, fmt):
    return x.strftime(fmt.replace("{Y}", "%04d" % x.year))


def datestr_cases(rng, fmt, n, lo=1000):
    cases = []
    for _ in range(n):
        d = rand_date(rng, lo)
        cases.append(("datestr\t%d" % d, "0\t" + strftime(date_of(d), fmt)))
    return cases


MASK_PIECES = [("dd", "%d"), ("mm", "%m"), ("yyyy", "{Y}"), ("yyy", "{Y}"), ("yy", "%y"),
               ("ddd", "%a"), ("ww", "%a"), ("mmm", "%b")]


def mixed_case(rng, s):
    return "".join(c.upper() if rng.random() < 0.5 else c for c in s)


def fmtdate_cases(rng, n):
    cases = []
    for _ in range(n):
        pieces = rng.sample(MASK_PIECES, rng.randint(1, 4))
        mask, fmt = "", ""
        for i, (p, f) in enumerate(pieces):
            if i:
                sep = rng.choice(" /-.,:")
                mask += sep
                fmt += sep
            mask += mixed_case(rng, p)
            fmt += f
        if rng.random() < 0.3:
            mask, fmt = "(" + mask + ")", "(" + fmt + ")"
        d = rand_date(rng)
        cases.append(("fmtdate\t%d\t%s" % (d, mask), "0\t" + strftime(date_of(d), fmt)))
    # The day of the year handed to the locale format, counted from 0.
    for d in (dt.date(2024, 3, 1), dt.date(2024, 2, 28), dt.date(2023, 3, 1), dt.date(2000, 12, 31)):
        n_ = d.toordinal() - EPOCH
        cases.append(("gldate\t%d\t%%j" % n_, "0\t" + d.strftime("%j")))
    for _ in range(200):
        d = rand_date(rng)
        cases.append(("gldate\t%d\t%%j %%A %%d %%B %%Y" % d, "0\t" + date_of(d).strftime("%j %A %d %B %Y")))
    return cases


def century_model(rule, today, m, d, yy):
    k = today.year // 100

    def cand(c):
        y = 100 * c + yy
        if not 1 <= y <= 9999:
            return None
        try:
            return dt.date(y, m, d).toordinal()
        except ValueError:
            if m == 2 and d == 29:
                return dt.date(y, 3, 1).toordinal()
            raise
    if rule == "R":
        return k
    t = today.toordinal()
    x = cand(k)
    if rule == "F":
        return k + 1 if x - t <= 0 else k
    if rule == "P":
        return k if x - t < 0 else k - 1
    p, nx = cand(k - 1), cand(k + 1)
    dx, dp, dn = abs(x - t), abs(p - t), abs(nx - t)
    if dx < dp:
        return k if dx < dn else k + 1
    return k - 1 if dp < dn else k + 1


def century_cases(rng, rule, today, n):
    cases = []
    for _ in range(n):
        m = rng.randint(1, 12)
        d = rng.randint(1, 29 if m == 2 else calendar.monthrange(2001, m)[1])
        yy = rng.randint(0, 99)
        if rng.random() < 0.1:
            m, d = today.month, today.day
        cases.append(("century\t%d\t%d\t%d" % (m, d, yy), str(century_model(rule, today, m, d, yy))))
    if rule == "C" and today.year == 2024:
        cases.append(("century\t2\t29\t0", "20"))
    return cases


# -------------------------------------------------------------- datetime

def q(length, first, last):
    return (length << 8) | (first << 4) | last


YTF5 = q(19, 0, 15)
DAY9F5 = q(20, 4, 15)
YTM = q(6, 0, 2)
YTD = q(8, 0, 4)
YTS = q(14, 0, 10)


def dt_text(x, frac_digits=5, last=15):
    """dttoasc of a YEAR TO ... value."""
    s = "%04d-%02d-%02d %02d:%02d:%02d" % (x.year, x.month, x.day, x.hour, x.minute, x.second)
    if last == 4:
        return s[:10]
    if last == 10:
        return s
    if last == 8:
        return s[:16]
    if last == 6:
        return s[:13]
    if last == 2:
        return s[:7]
    if last == 0:
        return s[:4]
    return s + "." + ("%06d" % x.microsecond)[:frac_digits]


def first_field(v, digits, negative):
    """intoasc's first field: leading zeros as blanks, '-' before the first
    significant character, one leading blank for the sign."""
    s = str(v).rjust(digits, " ")
    s = " " + s
    if negative:
        i = len(s) - len(str(v))
        s = s[:i - 1] + "-" + s[i:]
    return s


def day_interval_text(days, secs, micro, negative, day_digits=9, frac=5):
    h, rem = divmod(secs, 3600)
    mi, se = divmod(rem, 60)
    s = first_field(days, day_digits, negative)
    s += " %02d:%02d:%02d" % (h, mi, se)
    if frac:
        s += "." + ("%06d" % micro)[:frac]
    return s


def td_parts(td):
    neg = td < dt.timedelta(0)
    if neg:
        td = -td
    return td.days, td.seconds, td.microseconds, neg


def rand_dt(rng, lo=1, hi=9999):
    t = rng.randint(dt.datetime(lo, 1, 1).toordinal(), dt.datetime(hi, 12, 31).toordinal())
    x = dt.datetime.fromordinal(t).replace(hour=rng.randint(0, 23), minute=rng.randint(0, 59),
                                           second=rng.randint(0, 59),
                                           microsecond=rng.randint(0, 99999) * 10)
    return x


def add_months(x, months):
    total = x.year * 12 + (x.month - 1) + months
    y, m = divmod(total, 12)
    if not 1 <= y <= 9999:
        return None
    d = min(x.day, calendar.monthrange(y, m + 1)[1])
    return x.replace(year=y, month=m + 1, day=d)


def datetime_cases(rng, n):
    cases = []
    for _ in range(n):
        kind = rng.random()
        a = rand_dt(rng)
        if kind < 0.35:
            # DATETIME plus or minus DAY(9) TO FRACTION(5).
            days = rng.choice([rng.randint(0, 40), rng.randint(0, 4000000)])
            td = dt.timedelta(days=days, hours=rng.randint(0, 23), minutes=rng.randint(0, 59),
                              seconds=rng.randint(0, 59), microseconds=rng.randint(0, 99999) * 10)
            neg = rng.random() < 0.5
            itext = day_interval_text(*td_parts(td)[:3], neg)
            sub = rng.random() < 0.3
            op = "dtsubi" if sub else "dtadd"
            signed = -td if neg != sub else td
            try:
                r = a + signed
                exp = "0\t" + dt_text(r)
            except OverflowError:
                exp = "-1204\t"
            cases.append(("%s\t%d\t%s\t%d\t%s" % (op, YTF5, dt_text(a), DAY9F5, itext), exp))
        elif kind < 0.55:
            # YEAR TO DAY or YEAR TO SECOND plus YEAR TO MONTH: the day is
            # clamped to the new month's length.
            if rng.random() < 0.5:
                a = a.replace(day=calendar.monthrange(a.year, a.month)[1])
            years, months = rng.randint(0, 300), rng.randint(0, 11)
            neg = rng.random() < 0.5
            itext = ("-" if neg else "") + "%d-%02d" % (years, months)
            r = add_months(a, (-1 if neg else 1) * (years * 12 + months))
            last, qual = rng.choice([(4, YTD), (10, YTS)])
            exp = "-1267\t" if r is None else "0\t" + dt_text(r, last=last)
            cases.append(("dtadd\t%d\t%s\t%d\t%s" % (qual, dt_text(a, last=last), YTM, itext), exp))
        elif kind < 0.7:
            b = rand_dt(rng) if rng.random() < 0.5 else a + dt.timedelta(seconds=rng.randint(-10 ** 6, 10 ** 6))
            if not 1 <= b.year <= 9999:
                continue
            days, secs, micro, neg = td_parts(a - b)
            exp = "0\t" + day_interval_text(days, secs, micro, neg)
            cases.append(("dtsub\t%d\t%s\t%d\t%s\t%d" % (YTF5, dt_text(a), YTF5, dt_text(b), DAY9F5), exp))
        elif kind < 0.8:
            # Round trips and truncation to shorter qualifiers.
            last = rng.choice([0, 2, 4, 6, 8, 10, 11, 12, 13, 14, 15])
            digits = 4 + last
            nf = last - 10 if last > 10 else 0
            cases.append(("dtcv\t%d\t%s" % (YTF5, dt_text(a)), "0\t" + dt_text(a)))
            exp = dt_text(a, frac_digits=nf, last=last if last <= 10 else 15)
            cases.append(("dtext\t%d\t%s\t%d" % (YTF5, dt_text(a), q(digits, 0, last)), "0\t" + exp))
        elif kind < 0.9:
            # Interval text round trips and conversions between qualifiers.
            td = dt.timedelta(days=rng.randint(0, 99999), seconds=rng.randint(0, 86399),
                              microseconds=rng.randint(0, 99999) * 10)
            neg = rng.random() < 0.5
            days, secs, micro, _ = td_parts(td)
            src = day_interval_text(days, secs, micro, neg)
            cases.append(("incv\t%d\t%s" % (DAY9F5, src), "0\t" + src))
            total_us = (days * 86400 + secs) * 10 ** 6 + micro
            target = rng.choice(["hour", "minute", "second", "day5"])
            if target == "hour":
                h, rest = divmod(total_us, 3600 * 10 ** 6)
                m_, rest = divmod(rest, 60 * 10 ** 6)
                s_, us = divmod(rest, 10 ** 6)
                text = first_field(h, 9, neg and total_us > 0) + ":%02d:%02d.%03d" % (m_, s_, us // 1000)
                tq = q(9 + 13 - 6, 6, 13)
                exp = "-1265\t" if h >= 10 ** 9 else "0\t" + text
            elif target == "minute":
                m_, rest = divmod(total_us, 60 * 10 ** 6)
                s_ = rest // 10 ** 6
                tq = q(9 + 10 - 8, 8, 10)
                exp = "-1265\t" if m_ >= 10 ** 9 else "0\t" + first_field(m_, 9, neg and total_us > 0) + ":%02d" % s_
            elif target == "second":
                s_, us = divmod(total_us, 10 ** 6)
                tq = q(9 + 12 - 10, 10, 12)
                exp = "-1265\t" if s_ >= 10 ** 9 else "0\t" + first_field(s_, 9, neg and total_us > 0) + ".%02d" % (us // 10000)
            else:
                tq = q(5 + 6 - 4, 4, 6)
                exp = "-1265\t" if days >= 10 ** 5 else "0\t" + first_field(days, 5, neg and total_us > 0) + " %02d" % (secs // 3600)
            if neg and total_us == 0:
                continue
            cases.append(("inext\t%d\t%s\t%d" % (DAY9F5, src, tq), exp))
        else:
            cases.extend(scale_cases(rng))
    return cases


def count_fraction(days, secs, micro, neg):
    v = F(days * 86400 + secs) + F(micro, 10 ** 6)
    return -v if neg else v


def interval_from_seconds(v, frac):
    """Splits a count of seconds (truncated to frac digits) into DAY(9) TO
    FRACTION(frac) text, or None when the days need more than 9 digits."""
    neg = v < 0
    v = abs(v)
    scaled = int(v * 10 ** frac)  # toward zero
    whole, fr = divmod(scaled, 10 ** frac)
    days, rest = divmod(whole, 86400)
    if days >= 10 ** 9:
        return None
    micro = fr * 10 ** (6 - frac)
    negative = neg and scaled != 0
    return day_interval_text(days, rest, micro, negative, 9, frac)


def b100_value(rc_d):
    rc, d = rc_d
    return rc, value(d)


def scale_cases(rng):
    td = dt.timedelta(days=rng.randint(0, 20000), seconds=rng.randint(0, 86399),
                      microseconds=rng.randint(0, 99999) * 10)
    neg = rng.random() < 0.5
    days, secs, micro, _ = td_parts(td)
    text = day_interval_text(days, secs, micro, neg)
    count = count_fraction(days, secs, micro, neg)
    factor = rng.choice([rng.uniform(-1000, 1000), rng.randint(-50, 50), rng.uniform(-1, 1)])
    # deccvdbl: 17 significant digits of the double.
    fdec = F(Decimal("%.16e" % factor)) if factor != 0 else F(0)
    _, fdec_b = to_b100(fdec)
    fdec = value(fdec_b) if fdec != 0 else F(0)
    out = []
    for op in ("invmul", "invdiv"):
        if op == "invdiv" and fdec == 0:
            continue
        rc, res = to_b100(count * fdec if op == "invmul" else count / fdec)
        r = value(res) if rc == 0 else None
        txt = interval_from_seconds(r, 5) if r is not None else None
        exp = "0\t" + txt if txt is not None else None
        if exp is None:
            continue
        out.append(("%s\t%d\t%s\t%r\t%d" % (op, DAY9F5, text, factor, DAY9F5), exp))
    td2 = dt.timedelta(days=rng.randint(0, 500), seconds=rng.randint(1, 86399))
    d2, s2, m2, _ = td_parts(td2)
    text2 = day_interval_text(d2, s2, m2, False)
    _, qd = to_b100(count / count_fraction(d2, s2, m2, False))
    out.append(("invdivinv\t%d\t%s\t%d\t%s" % (DAY9F5, text, DAY9F5, text2),
                "0 %s" % repr_g17(float(value(qd)))))
    return out


def repr_g17(x):
    return "%.17g" % x


# --------------------------------------------------------- decimal text

def b100_of_text(text):
    """deccvasc's answer: the value of the first 32 significant digits
    (further digits dropped), rounded half up to 16 base-100 bytes."""
    d = Decimal(text.replace(",", ""))
    if d == 0:
        return "0 1:-64:"
    sign, digits, exp = d.as_tuple()
    digits = list(digits)
    while digits and digits[0] == 0:
        digits.pop(0)
    e = len(digits) + exp  # value = 0.d1d2... * 10^e
    if e < -130:
        return "-1201 1:-64:"
    if e > 126:
        return "-1200 1:-64:"
    kept = digits[:32]
    v = F(int("".join(map(str, kept)))) * F(10) ** (e - len(kept))
    rc, b = to_b100(-v if sign else v)
    return "%d %s" % (rc, fmt_dec(b) if rc == 0 else "1:-64:")


def group(intpart, rng, good):
    s = intpart
    groups = []
    while len(s) > 3:
        groups.insert(0, s[-3:])
        s = s[:-3]
    groups.insert(0, s)
    if not good and len(groups) > 1:
        i = rng.randrange(len(groups))
        g = groups[i]
        if i == 0:
            groups[1] = g[-1:] + groups[1]
            groups[0] = g[:-1]
            if not groups[0]:
                groups.pop(0)
        else:
            groups[i] = g[:-1]
            groups[i - 1] += g[-1:]
    return ",".join(groups)


def deccvasc_cases(rng, n):
    cases = []
    for _ in range(n):
        intpart = "".join(rng.choice("0123456789") for _ in range(rng.randint(0, 40)))
        frac = "".join(rng.choice("0123456789") for _ in range(rng.randint(0, 40)))
        if rng.random() < 0.3:
            intpart = "0" * rng.randint(0, 5) + intpart[:rng.randint(0, 6)]
        if not intpart and not frac:
            intpart = "0"
        text = intpart
        valid_group = True
        if rng.random() < 0.2 and len(intpart.lstrip("0")) > 3:
            stripped = intpart.lstrip("0") or "0"
            good = rng.random() < 0.6
            grouped = group(stripped, rng, good)
            text = grouped
            parts = grouped.split(",")
            valid_group = len(parts) == 1 or (all(len(g) == 3 for g in parts[1:]) and
                                              0 < len(parts[0]) <= 3)
            intpart = stripped
        if frac or rng.random() < 0.2:
            text += "." + frac
        if rng.random() < 0.3:
            text += rng.choice("eE") + rng.choice(["", "+", "-"]) + str(rng.randint(0, 160))
        sign = rng.choice(["", "", "-", "+"])
        full = " " * rng.randint(0, 2) + sign + text + " " * rng.randint(0, 2)
        if not valid_group:
            exp = "-1213 1:-64:"
        else:
            exp = b100_of_text(sign + text if text[0] != "." else sign + "0" + text)
            if text.startswith(".") and not frac[:1].isdigit():
                exp = "-1213 1:-64:"
        cases.append(("deccv\t" + full, exp))
    bad = ["abc", "1.2.3", "--1", "1e", "1e+", "12 3", ".", "-", "1,2345", "0x", "1x"]
    for b in bad:
        exp = "-1213 1:-64:" if b not in ("0x",) else "0 1:-64:"
        cases.append(("deccv\t" + b, exp))
    for t, e in [("0x1F", "0 1:1:1F"), ("-0x10", "0 0:1:10"), ("  ", "0 N"),
                 ("1e127", "-1200 1:-64:"), (".5", "0 1:0:32"), ("1,234.5", "0 1:2:0C2232")]:
        cases.append(("deccv\t" + t, e))
    return cases


def rand_dec(rng):
    n = rng.randint(0, 8)
    if n == 0:
        return (1, -64, ())
    digits = [rng.randint(0, 99) for _ in range(n)]
    digits[0] = rng.randint(1, 99)
    digits[-1] = rng.randint(1, 99)
    return (rng.randint(0, 1), rng.randint(-6, 8), tuple(digits))


def ecvt_model(x, count, mode):
    """decdigitstr's digits and position for |x| (exact, half up)."""
    x = abs(x)
    if x == 0:
        return "0" * count, 0
    e = Decimal(x.numerator) / Decimal(x.denominator)
    pos = e.adjusted() + 1
    wanted = count if mode == 0 else count + pos
    if wanted < 0:
        return "0", 0
    scaled = x * F(10) ** (wanted - pos)
    r = int(scaled)
    if scaled - r >= F(1, 2):
        r += 1
    if wanted == 0:
        return ("1", pos + 1) if r == 1 else ("", pos)
    s = str(r)
    if len(s) > wanted:
        return (s[:wanted] if mode == 0 else s), pos + 1
    return s.zfill(wanted), pos


def half_up(x):
    r = int(x)
    return r + 1 if x - r >= F(1, 2) else r


def first_digit_pos(x):
    """Decimal-point position of |x|: x = 0.d1d2... * 10^pos."""
    if x == 0:
        return 0
    return (Decimal(abs(x).numerator) / Decimal(abs(x).denominator)).adjusted() + 1


def dectoasc_model(d, length, decimals):
    """The fixed-width field: natural decimals, then fewer decimals, then
    the exponent form; rounding half up on the exact value."""
    sign, exp, digits = d
    x = value(d)
    neg = sign == 0
    if decimals < 0:
        decimals = 2 * (len(digits) - exp)
        if digits and digits[-1] % 10 == 0:
            decimals -= 1
        if not digits or decimals < 1:
            decimals = 1
    xpos = first_digit_pos(x)
    dd = decimals
    first_pos = None
    while True:
        r = half_up(abs(x) * 10 ** dd)
        pos = max(xpos, len(str(r)) - dd) if r > 0 else xpos
        if first_pos is None:
            first_pos = pos
        intdigits = pos if pos > 0 else 1
        width = (1 if neg else 0) + intdigits + (1 + dd if dd > 0 else 0)
        if width <= length:
            text = "-" if neg and r != 0 else ""
            text += str(r // 10 ** dd)
            if dd > 0:
                text += "." + str(r % 10 ** dd).zfill(dd)
            return "0 [" + text.ljust(length) + "]"
        excess = width - length
        if first_pos <= -4 or first_pos <= -dd:
            break
        if dd >= excess and dd > 0:
            dd -= excess
            continue
        if excess == dd + 1 and dd != 0:
            dd = 0
            continue
        break
    e = first_pos - 1
    over = (1 if neg else 0) + 1 + 3 + (1 if e < 0 else 0) + (1 if e < -99 or e > 99 else 0)
    if over >= length:
        return "-1 [" + "*" * length + "]"
    digs, p = ecvt_model(x, length - over, 0)
    digs = digs.rstrip("0") or digs[:1]
    text = ("-" if neg else "") + digs[0]
    if len(digs) > 1:
        text += "." + digs[1:]
    xx = p - 1
    text += "e" + ("-" if xx < 0 else "") + ("%02d" % abs(xx))
    if len(text) > length:
        return "-1 [" + "*" * length + "]"
    return "0 [" + text.ljust(length) + "]"


def dectext_cases(rng, n):
    cases = []
    for _ in range(n):
        d = rand_dec(rng)
        x = value(d)
        k = rng.randint(0, 20)
        s, p = ecvt_model(x, k, 0)
        cases.append(("ecvt\t%s\t%d" % (fmt_dec(d), k), "%s %d %d" % (s, p, 1 if d[0] == 0 else 0)))
        s, p = ecvt_model(x, k, 1)
        cases.append(("fcvt\t%s\t%d" % (fmt_dec(d), k), "%s %d %d" % (s, p, 1 if d[0] == 0 else 0)))
        length = rng.randint(1, 24)
        dec = rng.choice([-1, rng.randint(0, 8)])
        cases.append(("dectoasc\t%s\t%d\t%d" % (fmt_dec(d), length, dec), dectoasc_model(d, length, dec)))
        if d[2]:
            cases.append(("todbl\t%s" % fmt_dec(d), "0 %s" % repr_g17(float(x))))
    cases += [("dectoasc\t1:2:01172D3C\t5\t2", "0 [123.5]"),
              ("dectoasc\t1:-2:0A\t6\t-1", "0 [1e-05 ]"),
              ("dectoasc\t1:-2:0A\t4\t-1", "-1 [****]"),
              ("dectoasc\t1:2:0117\t8\t-1", "0 [123.0   ]"),
              ("ecvt\t1:0:0C32\t2", "13 0 0"), ("fcvt\t1:1:096360\t2", "1000 2 0"),
              ("todbl\tN", "0 N")]
    return cases


def rstol_cases(rng, n):
    cases = []
    for _ in range(n):
        v = rng.choice([rng.randint(-3 * 10 ** 9, 3 * 10 ** 9), rng.randint(-999, 999),
                        2147483647, -2147483647, 2147483648, -2147483648])
        t = str(v)
        if rng.random() < 0.2:
            t = t.replace("-", "-000") if v < 0 else "000" + t
        if rng.random() < 0.2:
            t = "+" + t if v >= 0 else t
        t = " " * rng.randint(0, 2) + t + rng.choice(["", " ", " x", "x"])
        body = t.strip()
        if abs(v) > 2147483647:
            exp = "-1215 0"
        elif body.endswith("x") and not t.rstrip().endswith(" x"):
            exp = "-1213 0"
        elif body.endswith("x"):
            exp = "0 %d" % v
        else:
            exp = "0 %d" % v
        cases.append(("rstol\t" + t, exp))
    cases += [("rstol\t", "0 -2147483648"), ("rstol\t-", "-1213 0"), ("rstol\tabc", "-1213 0")]
    return cases


# ---------------------------------------------------- INT8 and BIGINT

BOUNDS = [0, 1, -1, 2 ** 31, -2 ** 31, 2 ** 31 - 1, -(2 ** 31 - 1), I64 - 1, -(I64 - 1),
          2 ** 32, 255, -255]


def rand_big(rng):
    r = rng.random()
    if r < 0.2:
        return rng.choice(BOUNDS)
    if r < 0.5:
        return rng.randint(-2 ** 31, 2 ** 31)
    if r < 0.55:
        return None
    return rng.randint(-(I64 - 1), I64 - 1)


def bstr(v):
    return "N" if v is None else str(v)


def int8_model(op, a, b):
    if a is None or b is None:
        return "-2" if op == "cmp" else "0 N"
    if op == "cmp":
        return str((a > b) - (a < b))
    if op == "div":
        if b == 0:
            return "-1202 -"
        qv = abs(a) // abs(b)
        r = qv if (a >= 0) == (b >= 0) else -qv
    else:
        r = {"add": a + b, "sub": a - b, "mul": a * b}[op]
    if not -(I64 - 1) <= r <= I64 - 1:
        return "-1284 -"
    return "0 %d" % r


def bigint_cases(rng, n):
    cases = []
    for _ in range(n):
        a, b = rand_big(rng), rand_big(rng)
        op = rng.choice(["add", "sub", "mul", "div", "cmp"])
        if op == "mul" and rng.random() < 0.5 and a is not None and b is not None:
            a, b = a % 2 ** 33 - 2 ** 32, b % 2 ** 33 - 2 ** 32
        cases.append(("i8\t%s\t%s\t%s" % (op, bstr(a), bstr(b)), int8_model(op, a, b)))
        v = a
        if v is None:
            cases.append(("bigcv\t   ", "0 N"))
            continue
        # Text in, both bases.
        t = str(v)
        if rng.random() < 0.3:
            t = ("-" if v < 0 else rng.choice(["", "+"])) + "0" * rng.randint(1, 3) + str(abs(v))
        t = " " * rng.randint(0, 2) + t + " " * rng.randint(0, 2)
        stripped = t.strip().lstrip("+-").lstrip("0")
        exp = "-1284 -" if len(stripped) > 25 else "0 %d" % v
        cases.append(("bigcv\t" + t, exp))
        h = "0x%016x" % (v & (2 ** 64 - 1))
        cases.append(("bigcv\t" + h, "0 %d" % v))
        # Text out: base 10 and 16, fields of every width around the text.
        for base, text in ((10, str(v)), (16, h)):
            length = rng.randint(max(0, len(text) - 2), len(text) + 2)
            if length == 0:
                exp = "0 []"
            elif len(text) > length:
                exp = "-1207 [" + "*" * length + "]"
            else:
                exp = "0 [" + text + "\0" + "#" * (length - len(text) - 1) + "]"
                if len(text) == length:
                    exp = "0 [" + text + "]$"
            got_line = "bigto\t%d\t%d\t%d" % (v, length, base)
            cases.append((got_line, exp))
        # Decimal both ways; doubles in.
        _, dv = to_b100(F(v))
        cases.append(("decbig\t%d" % v, "0 " + fmt_dec(dv)))
        frac = F(rng.randint(0, 99), 100)
        x = F(v) + (frac if v >= 0 else -frac)
        rc, dx = to_b100(x)
        t_ = int(value(dx))  # toward zero
        exp = "-1284 -" if abs(t_) > I64 - 1 else "0 %d" % t_
        cases.append(("bigdec\t%s" % fmt_dec(dx), exp))
        fv = float(v)
        import struct
        bits = struct.unpack(">Q", struct.pack(">d", fv))[0]
        exp = "-1284 -" if abs(fv) >= 2.0 ** 63 else "0 %d" % int(fv)
        cases.append(("bigdbl\t%016X" % bits, exp))
    cases += [("bigcv\t1.5e3", "0 1500"), ("bigcv\t12.9", "0 12"), ("bigcv\t1.5e-3", "0 0"),
              ("bigcv\t+", "0 N"), ("bigcv\t" + "1" * 26, "-1284 -"),
              ("bigcv\t9223372036854775808", "-1284 -"), ("bigcv\t1,234", "0 1234"),
              ("bigcv\t12a", "-1213 -"), ("bigcv\t1.2.3", "-1213 -"), ("bigcv\t000", "0 0"),
              ("bigto\tN\t4\t10", "0 [    ]"), ("bigto\t255\t18\t16", "0 [0x00000000000000ff]$"),
              ("bigto\t-1\t18\t16", "0 [0xffffffffffffffff]$"), ("bigto\t12345\t4\t10", "-1207 [****]"),
              ("i8\tadd\t9223372036854775807\t1", "-1284 -"),
              ("i8\tadd\t-9223372036854775807\t-1", "-1284 -"), ("i8\tdiv\t-7\t2", "0 -3")]
    return cases


# ------------------------------------------------------------------ run

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    ap.add_argument("--seed", type=int, default=20261210)
    ap.add_argument("--scale", type=float, default=1.0)
    args = ap.parse_args()
    print("seed %d" % args.seed)
    rng = random.Random(args.seed)
    n = lambda k: max(1, int(k * args.scale))  # noqa: E731
    base = {k: v for k, v in os.environ.items()
            if k not in ("DBDATE", "GL_DATE", "DBMONEY", "DBCENTURY", "DBTODAY", "CLIENT_LOCALE",
                         "DB_LOCALE", "ZEL_NOT_STRICT_THOUS_SEP", "TZ")}
    base["TZ"] = "UTC"
    runs = []
    default_cases = date_cases(rng, n(20000))
    default_cases += [("datestr\t36584", "0\t02/29/2000")]
    default_cases += datestr_cases(rng, "%m/%d/{Y}", n(500))
    default_cases += fmtdate_cases(rng, n(3000))
    default_cases += datetime_cases(rng, n(20000))
    default_cases += deccvasc_cases(rng, n(20000))
    default_cases += dectext_cases(rng, n(10000))
    default_cases += rstol_cases(rng, n(5000))
    default_cases += bigint_cases(rng, n(12000))
    runs.append(("default", base, default_cases))
    for dbdate, fmt in DBDATES:
        if fmt is None:
            continue
        runs.append(("DBDATE=" + dbdate, dict(base, DBDATE=dbdate), datestr_cases(rng, fmt, n(300))))
    for gl in GL_DATES:
        runs.append(("GL_DATE=" + gl, dict(base, GL_DATE=gl), datestr_cases(rng, gl, n(300))))
    # A locale with a decimal comma and full stops between thousands.
    swap = str.maketrans(".,", ",.")
    de = []
    for line, expected in deccvasc_cases(rng, n(5000)):
        de.append((line.translate(swap), expected))
    for line, expected in dectext_cases(rng, n(3000)):
        if line.startswith("dectoasc"):
            de.append((line, expected.replace(".", ",")))
    de += datestr_cases(rng, "%d.%m.{Y}", n(200))
    runs.append(("CLIENT_LOCALE=de_de.8859-1", dict(base, CLIENT_LOCALE="de_de.8859-1"), de))
    today = dt.date(2024, 6, 15)
    for rule in "RCFP":
        env = dict(base, DBCENTURY=rule, DBTODAY="2024-06-15 12:00:00")
        runs.append(("DBCENTURY=" + rule, env, century_cases(rng, rule, today, n(2000))))
    total = 0
    failed = []
    for name, env, cases in runs:
        total += len(cases)
        failed += [(name + ": " + l, e, g) for l, e, g in run(args.probe, cases, env)]
    for line, expected, got in failed[:30]:
        print("MISMATCH %r\n  expected %r\n  got      %r" % (line, expected, got))
    print("%d passed, %d failed" % (total - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
