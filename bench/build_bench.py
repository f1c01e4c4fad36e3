#!/usr/bin/env python3
"""Index builders against sort(1): builds an NTX index over 100,000 and 1,000,000 random
character keys with every zarbel-index builder and sorts the same keys with sort(1) in the same
run, printing wall time, peak memory and the ratio to sort(1).

    python3 bench/build_bench.py BUILD_DIR [COUNT...]      (default counts: 100000 1000000)
"""
import os
import random
import struct
import subprocess
import sys
import tempfile
import time

BUILDERS = ["insert", "compact", "quick", "bintree", "redblack", "avl", "trie", "merge2", "merge4", "merge8"]
WIDTH = 10


def write_table(path, keys):
    """A dBase III table of one field NAME C(10)."""
    header_len = 32 + 32 + 1
    rec_len = 1 + WIDTH
    with open(path, "wb") as f:
        f.write(struct.pack("<BBBBIHH20x", 0x03, 126, 12, 8, len(keys), header_len, rec_len))
        f.write(struct.pack("<11sc4xBB14x", b"NAME", b"C", WIDTH, 0))
        f.write(b"\r")
        f.write(b"".join(b" " + k for k in keys))
        f.write(b"\x1a")


def run(cmd, stdin=None, stdout=subprocess.DEVNULL):
    """Wall seconds and peak resident KiB of one program (measured by /usr/bin/time, whose own
    small process is what forks it: a fork of this script would count the script's memory)."""
    start = time.monotonic()
    p = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    err = p.stderr.decode(errors="replace").strip().splitlines()
    if p.returncode != 0:
        sys.exit(f"{cmd[0]} failed ({p.returncode}): {err}")
    return wall, int(err[-1])


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    counts = [int(c) for c in sys.argv[2:]] or [100000, 1000000]
    tool = os.path.join(build, "zarbel-index")
    rng = random.Random(24)
    alphabet = b"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 "
    with tempfile.TemporaryDirectory() as tmp:
        for n in counts:
            keys = [bytes(rng.choice(alphabet) for _ in range(WIDTH)) for _ in range(n)]
            table = os.path.join(tmp, "T.DBF")
            write_table(table, keys)
            text = os.path.join(tmp, "keys.txt")
            with open(text, "wb") as f:
                f.write(b"\n".join(keys) + b"\n")
            with open(text, "rb") as f:
                base, base_mem = run(["sort", "-S", "64M", "-T", tmp], stdin=f, stdout=subprocess.DEVNULL)
            print(f"{n} keys: sort(1) {base:.3f} s, {base_mem} KiB")
            print(f"  {'builder':10} {'seconds':>8} {'x sort':>7} {'peak KiB':>9}")
            for b in BUILDERS:
                ntx = os.path.join(tmp, "T.ntx")
                wall, mem = run([tool, "create", table, ntx, "NAME", "--builder", b])
                print(f"  {b:10} {wall:8.3f} {wall / base:7.2f} {mem:9}")
                os.remove(ntx)


if __name__ == "__main__":
    main()
