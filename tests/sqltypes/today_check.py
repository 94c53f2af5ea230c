#!/usr/bin/env python3
"""Today's DATE against Python's date.today() in several time zones, and
across a 900-second slot and midnight under a fake clock (faketime).

rtoday caches today for the current 900-second slot: the fake clock starts
seconds before a local midnight and the probe sleeps past it; the date must
follow. With DBTODAY the first current time is that moment and later ones
run on with the clock. Ends with "N passed, M failed".
"""
import argparse
import datetime as dt
import os
import shutil
import subprocess
import sys
import time

EPOCH = dt.date(1899, 12, 31).toordinal()
ZONES = ["UTC", "America/Los_Angeles", "Asia/Kathmandu", "Pacific/Kiritimati",
         "Pacific/Pago_Pago", "Australia/Eucla"]


def probe(path, lines, env, prefix=()):
    out = subprocess.run(list(prefix) + [path], input="".join(l + "\n" for l in lines),
                         capture_output=True, text=True, env=env, check=True, timeout=120)
    return out.stdout.splitlines()


def python_today(zone):
    os.environ["TZ"] = zone
    time.tzset()
    return dt.date.today().toordinal() - EPOCH


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", required=True)
    args = ap.parse_args()
    base = {k: v for k, v in os.environ.items() if k not in ("DBTODAY", "TZ", "FAKETIME")}
    results = []
    for zone in ZONES:
        env = dict(base, TZ=zone)
        before = python_today(zone)
        got = int(probe(args.probe, ["today"], env)[0])
        after = python_today(zone)
        results.append(("today in %s" % zone, got in (before, after), "%d vs %d" % (got, before)))

    faketime = shutil.which("faketime")
    if faketime is None:
        print("faketime is not installed: clock tests skipped")
    else:
        # The address checker must accept the preloaded fake clock.
        asan = base.get("ASAN_OPTIONS", "")
        fenv = dict(base, ASAN_OPTIONS=(asan + ":" if asan else "") + "verify_asan_link_order=0")
        for zone, start in (("Europe/Berlin", "2024-02-28 23:59:57"),
                            ("Asia/Kathmandu", "2023-12-31 23:59:58"),
                            ("America/Los_Angeles", "2024-06-15 12:14:58")):
            env = dict(fenv, TZ=zone)
            lines = probe(args.probe, ["today", "sleep\t3", "today", "today"], env,
                          (faketime, start))
            d0 = dt.date.fromisoformat(start[:10])
            crosses = start.endswith("23:59:57") or start.endswith("23:59:58")
            want = [d0.toordinal() - EPOCH,
                    (d0 + dt.timedelta(days=1 if crosses else 0)).toordinal() - EPOCH]
            got = [int(lines[0]), int(lines[2])]
            results.append(("clock from %s in %s" % (start, zone), got == want,
                            "%s vs %s" % (got, want)))
        # DBTODAY: the first current time is its moment; the clock runs on.
        env = dict(fenv, TZ="UTC", DBTODAY="2000-01-01 00:00:00")
        lines = probe(args.probe, ["today", "current\t%d" % 0x0E0A, "sleep\t2",
                                   "current\t%d" % 0x0E0A], env, (faketime, "2024-05-05 10:00:00"))
        first = dt.datetime.fromisoformat(lines[1].split("\t")[1])
        later = dt.datetime.fromisoformat(lines[3].split("\t")[1])
        results.append(("DBTODAY first rtoday", lines[0] == "36525", lines[0]))
        results.append(("DBTODAY first moment", first - dt.datetime(2000, 1, 1) < dt.timedelta(seconds=2),
                        str(first)))
        results.append(("DBTODAY runs on", later - first >= dt.timedelta(seconds=2), str(later)))
    failed = [r for r in results if not r[1]]
    for name, _, detail in failed:
        print("MISMATCH %s: %s" % (name, detail))
    print("%d passed, %d failed" % (len(results) - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
