#!/usr/bin/env python3
"""The string searches and the character streams of the locale library
against Python's codecs and str methods, on random strings.

Usage: mbs_oracle.py MBS_PROBE TREE

For each code set the probe loads the generated locale-object file and
answers commands (see mbs_probe.cc). Strings are built from characters whose
trail bytes are ASCII (Shift-JIS trail bytes 0x40-0x7E, 0x5C among them), so
that a search that matched bytes inside a character would find ASCII
characters there; Python decodes the same bytes and searches whole
characters.
"""
import os
import random
import subprocess
import sys
import tempfile

CODESETS = [
    ("sjis", "ja_jp/e006.lco", "shift_jis"),
    ("utf8", "en_us/e01c.lco", "utf-8"),
    ("8859-1", "en_us/0333.lco", "latin-1"),
]
ROUNDS = 400


def alphabet(codec):
    ascii_part = [chr(c) for c in range(0x40, 0x7F)] + list("01 ,.")
    if codec == "shift_jis":
        wide = []
        for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xF0)):
            for trail in range(0x40, 0x7F):
                try:
                    ch = bytes([lead, trail]).decode(codec)
                except UnicodeDecodeError:
                    continue
                if len(ch) == 1:
                    wide.append(ch)
        katakana = [bytes([b]).decode(codec) for b in range(0xA1, 0xE0)]
        return ascii_part, wide + katakana
    if codec == "utf-8":
        wide = [chr(c) for c in (0xE9, 0x100, 0x3A9, 0x4E2D, 0x6587, 0x1F600, 0xFF21, 0x20AC)]
        return ascii_part, wide
    return ascii_part, [chr(c) for c in range(0xA0, 0x100)]


def rand_text(rng, parts, lo, hi):
    ascii_part, wide = parts
    n = rng.randint(lo, hi)
    return "".join(rng.choice(wide) if rng.random() < 0.6 else rng.choice(ascii_part)
                   for _ in range(n))


def hx(b):
    return b.hex() if b else "-"


def off(s, idx, codec):
    return -1 if idx < 0 else len(s[:idx].encode(codec))


def fields(line):
    out = {}
    for item in line.split():
        key, val = item.split("=")
        pos, err = val.split("/")
        out[key] = (int(pos), int(err))
    return out


class Checker:
    def __init__(self):
        self.failures = 0
        self.checks = 0

    def expect(self, what, got, want, must_zero_error=False):
        self.checks += 1
        pos, err = got
        if pos != want or (must_zero_error and err != 0):
            self.failures += 1
            if self.failures <= 30:
                print(f"FAIL {what}: got {got}, want {want}"
                      + (" with error 0" if must_zero_error else ""))


def run_codeset(probe, tree, name, rel, codec, rng, check, tmp):
    parts = alphabet(codec)
    cmds, expect = [], []
    for _ in range(ROUNDS):
        s = rand_text(rng, parts, 0, 24)
        pool = s if s and rng.random() < 0.7 else rand_text(rng, parts, 1, 1)
        c = rng.choice(pool) if pool else "a"
        sb, cb = s.encode(codec), c.encode(codec)
        cmds.append(f"find {hx(sb)} {hx(cb)}")
        expect.append(("find", s, c))

        setchars = "".join(rng.choice(parts[rng.random() < 0.5]) for _ in range(rng.randint(0, 4)))
        if s and rng.random() < 0.5:
            setchars += s[0]
        cmds.append(f"span {hx(sb)} {hx(setchars.encode(codec))}")
        expect.append(("span", s, setchars))

        if s and rng.random() < 0.6:
            i = rng.randrange(len(s))
            sub = s[i:i + rng.randint(0, 4)]
        else:
            sub = rand_text(rng, parts, 0, 3)
        cmds.append(f"sub {hx(sb)} {hx(sub.encode(codec))}")
        expect.append(("sub", s, sub))

    # Lines: random text with line ends, the last line without one.
    lines = [rand_text(rng, parts, 0, 40) for _ in range(60)]
    text = "\n".join(lines).encode(codec)
    src = os.path.join(tmp, f"{name}.in")
    out1, out2 = os.path.join(tmp, f"{name}.mb"), os.path.join(tmp, f"{name}.wc")
    with open(src, "wb") as f:
        f.write(text)
    cmds.append(f"lines {src} {out1} {out2}")

    res = subprocess.run([probe, os.path.join(tree, "lxr/lc11", rel)], input="\n".join(cmds) + "\n",
                         capture_output=True, text=True, timeout=600,
                         env=dict(os.environ, TARVELONDIR=tree))
    if res.returncode != 0:
        print(f"FAIL {name}: probe exit {res.returncode}\n{res.stderr[-3000:]}")
        check.failures += 1
        return
    out = res.stdout.splitlines()
    for (kind, s, x), line in zip(expect, out):
        got = fields(line)
        tag = f"{name} {kind} {s!r} {x!r}"
        if kind == "find":
            for key in ("chr", "zchr"):
                check.expect(f"{tag} {key}", got[key], off(s, s.find(x), codec),
                             s.find(x) < 0)
            for key in ("rchr", "zrchr"):
                check.expect(f"{tag} {key}", got[key], off(s, s.rfind(x), codec),
                             s.rfind(x) < 0)
        elif kind == "span":
            spn = 0
            while spn < len(s) and s[spn] in x:
                spn += 1
            cspn = 0
            while cspn < len(s) and s[cspn] not in x:
                cspn += 1
            brk = cspn if cspn < len(s) else -1
            check.expect(f"{tag} spn", got["spn"], spn)
            check.expect(f"{tag} cspn", got["cspn"], cspn)
            check.expect(f"{tag} pbrk", got["pbrk"], off(s, brk, codec), brk < 0)
            if x:
                check.expect(f"{tag} zspn", got["zspn"], spn)
                check.expect(f"{tag} zcspn", got["zcspn"], cspn)
                check.expect(f"{tag} zpbrk", got["zpbrk"], off(s, brk, codec), brk < 0)
            else:  # an empty counted set fails, storing nothing
                for key in ("zspn", "zcspn", "zpbrk"):
                    check.expect(f"{tag} {key}", got[key], -1, True)
        else:
            idx = s.find(x) if s else -1
            check.expect(f"{tag} mbs", got["mbs"], off(s, idx, codec), idx < 0)
            check.expect(f"{tag} zmbs", got["zmbs"], off(s, idx, codec), idx < 0)

    rest = out[len(expect):]
    want_mb = [f"mb {hx((ln + chr(10)).encode(codec))}" for ln in lines[:-1]] + ["mbend 16"]
    want_wc = []
    for ln in lines[:-1]:
        vals = [format(int.from_bytes(ch.encode(codec), "big"), "x") for ch in ln + "\n"]
        want_wc.append("wc " + ",".join(vals))
    want_wc.append("wcend 16")
    check.checks += 1
    if rest != want_mb + want_wc:
        check.failures += 1
        print(f"FAIL {name} lines:")
        for a, b in zip(rest, want_mb + want_wc):
            if a != b:
                print(f"  got  {a[:160]}\n  want {b[:160]}")
                break
        print(f"  lengths {len(rest)} {len(want_mb + want_wc)}")
    whole = "\n".join(lines[:-1]).encode(codec) + b"\n"
    for path in (out1, out2):
        check.checks += 1
        with open(path, "rb") as f:
            if f.read() != whole:
                check.failures += 1
                print(f"FAIL {name}: {os.path.basename(path)} differs from the lines read")


def main():
    probe, tree = sys.argv[1], sys.argv[2]
    seed = int(os.environ.get("MBS_ORACLE_SEED", "36"))
    rng = random.Random(seed)
    check = Checker()
    with tempfile.TemporaryDirectory() as tmp:
        for name, rel, codec in CODESETS:
            run_codeset(probe, tree, name, rel, codec, rng, check, tmp)
    print(f"{check.checks} checks, {check.failures} failures (seed {seed})")
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(main())
