#!/usr/bin/env python3
"""small_tree.py DIR: the benchmarks' small-files shape, made in DIR.

20,000 files of 1-16 KB in 200 folders of 100, random bytes from a fixed
seed, so every run and every script times the same tree.
"""
import os
import random
import sys

rng = random.Random(20000)
for d in range(200):
    folder = os.path.join(sys.argv[1], "d%03d" % d)
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "f%03d.bin" % f), "wb") as out:
            out.write(rng.randbytes(rng.randint(1024, 16384)))
