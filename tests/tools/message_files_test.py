#!/usr/bin/env python3
"""Checks the built message files against their sources with the
independent reader of read_vqm.py, and the compiler's dump against both.

usage: message_files_test.py MSGC MSGDIR NAME=SOURCE[,SOURCE...]...
"""
import os
import random
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import read_vqm  # noqa: E402

passed = 0
failed = 0


def check(ok, what):
    global passed, failed
    if ok:
        passed += 1
    else:
        failed += 1
        print("FAIL: " + what)


def sources_of(spec):
    texts, kinds = {}, {}
    for path in spec.split(","):
        with open(path, encoding="utf-8") as f:
            t, k = read_vqm.parse_source(f.read())
        for n in t:
            check(n not in texts, "%s: number %d defined twice" % (path, n))
        texts.update(t)
        kinds.update(k)
    return texts, kinds


def dump(msgc, path):
    run = subprocess.run([msgc, "--dump", path], capture_output=True, timeout=60)
    check(run.returncode == 0, "dump of %s: exit %d: %s" % (path, run.returncode, run.stderr))
    return run.stdout.decode("utf-8")


def check_built_file(msgc, msgdir, name, spec):
    path = os.path.join(msgdir, name)
    texts, kinds = sources_of(spec)
    mf = read_vqm.MessageFile(path)
    check(mf.long_entries == (name == "tev.vqm"),
          "%s: long entries %s" % (name, mf.long_entries))
    check(mf.count == len(texts), "%s: %d entries, sources have %d" % (name, mf.count, len(texts)))
    listed = mf.entries()
    check([n for n, _ in listed] == sorted(texts), "%s: index not in ascending signed order" % name)
    for number, expected in sorted(texts.items()):
        mf.reads = []
        rc, text = mf.find(number)
        check(rc == 0 and text == expected,
              "%s: message %d: %r, expected %r (rc %d)" % (name, number, text, expected, rc))
        check(all(off + size <= mf.index_end for off, size in mf.reads),
              "%s: looking up %d read past the index: %r" % (name, number, mf.reads))
        if name == "tev.vqm" or number in (32765, 32766) or -199 <= number <= -100:
            check(read_vqm.file_for_number(number) == name,
                  "%s: message %d is routed to %s" % (name, number,
                                                     read_vqm.file_for_number(number)))
    numbers = sorted(texts)
    absent = {numbers[0] - 1, numbers[-1] + 1}
    absent.update(n + 1 for n in numbers if n + 1 not in texts)
    for number in sorted(absent):
        rc, _ = mf.find(number)
        check(rc == read_vqm.NOT_FOUND, "%s: absent %d gave %d" % (name, number, rc))
    mf.close()
    # The dump reads back as the same texts and argument lists.
    dumped_texts, dumped_kinds = read_vqm.parse_source(dump(msgc, path))
    check(dumped_texts == texts, "%s: dump texts differ from the sources" % name)
    check(dumped_kinds == kinds, "%s: dump argument lists differ from the sources" % name)


def check_thirteen(msgc, work, form, seed):
    """A 13-entry file: one full page of eight and a last page of five."""
    rng = random.Random(seed)
    low, high = (-30000, 30000) if form == "short" else (-2000000000, 2000000000)
    numbers = sorted(rng.sample(range(low, high), 13))
    src = os.path.join(work, "thirteen-%s.msgs" % form)
    out = os.path.join(work, "thirteen-%s.vqm" % form)
    with open(src, "w", encoding="utf-8") as f:
        f.write("@form %s\n" % form)
        for i, n in enumerate(numbers):
            f.write("%d [d] entry %d of thirteen: %%d\n" % (n, i))
    run = subprocess.run([msgc, "-o", out, src], capture_output=True, timeout=60)
    check(run.returncode == 0, "13-entry %s: compile failed: %s" % (form, run.stderr))
    mf = read_vqm.MessageFile(out)
    check(mf.count == 13, "13-entry %s: count %d" % (form, mf.count))
    for i, n in enumerate(numbers):
        mf.reads = []
        rc, text = mf.find(n)
        check(rc == 0 and text == ("entry %d of thirteen: %%d\n" % i).encode(),
              "13-entry %s: entry %d (%d): rc %d text %r" % (form, i, n, rc, text))
        check(all(off + size <= mf.index_end for off, size in mf.reads),
              "13-entry %s: lookup of %d read past the index: %r" % (form, n, mf.reads))
    # The last entry is found on a page cut short at the end of the index.
    mf.reads = []
    rc, _ = mf.find(numbers[-1])
    last_off, last_size = mf.reads[-1]
    check(rc == 0 and last_off + last_size == mf.index_end and last_size < 8 * mf.entry_size,
          "13-entry %s: last entry not found on a short last page: %r" % (form, mf.reads))
    for n in (numbers[0] - 1, numbers[-1] + 1, numbers[6] + 1):
        if n in numbers:
            continue
        rc, _ = mf.find(n)
        check(rc == read_vqm.NOT_FOUND, "13-entry %s: absent %d gave %d" % (form, n, rc))
    mf.close()
    # A file cut inside its index gives a short page.
    with open(out, "rb") as f:
        data = f.read()
    cut = os.path.join(work, "thirteen-%s-cut.vqm" % form)
    with open(cut, "wb") as f:
        f.write(data[:4 + 10 * mf.entry_size])
    mc = read_vqm.MessageFile(cut)
    rc, _ = mc.find(numbers[-1])
    check(rc == read_vqm.SHORT_PAGE, "13-entry %s cut: last entry gave %d" % (form, rc))
    mc.close()


def check_python_written_file(msgc, work):
    """A file written here, field by field, dumps to the same entries."""
    entries = [(-32768, b"lowest\n"), (-1, b""), (0, b"zero\n"), (32767, b"no line feed")]
    index_end = 4 + 8 * len(entries)
    blob, index, at = b"", b"", index_end
    for n, t in entries:
        index += struct.pack(">hhI", n, len(t), at)
        blob += t
        at += len(t)
    path = os.path.join(work, "written.vqm")
    with open(path, "wb") as f:
        f.write(struct.pack(">Hh", read_vqm.MAGIC_SHORT, len(entries)) + index + blob)
    texts, _ = read_vqm.parse_source(dump(msgc, path))
    check(texts == dict(entries), "python-written file dumps as %r" % texts)


def main():
    if len(sys.argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    msgc, msgdir = sys.argv[1], sys.argv[2]
    for arg in sys.argv[3:]:
        name, _, spec = arg.partition("=")
        check_built_file(msgc, msgdir, name, spec)
    seed = 14
    print("seed %d" % seed)
    with tempfile.TemporaryDirectory() as work:
        check_thirteen(msgc, work, "short", seed)
        check_thirteen(msgc, work, "long", seed + 1)
        check_python_written_file(msgc, work)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
