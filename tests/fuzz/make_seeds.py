#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: small valid archives.

usage: make_seeds.py OUTDIR

OUTDIR/extract/ gets inflated archives (what fuzz_extract packs itself),
OUTDIR/envelope/ the same archives packed: tag, inflated length, zlib stream,
OUTDIR/survey/ the archives followed by steps that lay out the target
(pairs of bytes: step, record; see fuzz_survey.cpp).
"""
import hashlib
import os
import struct
import sys
import zlib

TAG = 0x033E0F0D


def record(path, data=b"", attributes=32, upper=False, md5=None):
    digest = md5 if md5 is not None else hashlib.md5(data).hexdigest()
    if upper:
        digest = digest.upper()
    return path, data, attributes, digest.encode("ascii")


def archive(records):
    out = struct.pack("<i", len(records))
    for path, data, attributes, digest in records:
        attr = str(attributes & 0xFFFFFFFF).encode("ascii")
        out += struct.pack("<iiii", len(path), len(data), len(data), len(attr))
        out += path + digest + attr + data
    return out


def envelope(inflated, length=None):
    return struct.pack("<II", TAG, len(inflated) if length is None else length) + zlib.compress(inflated)


CHINESE = "中文".encode("gbk")
TRAIL_5C = b"\x95\x5c"  # a two-byte character whose second byte is "\"

ARCHIVES = {
    "one-file": [record(b"readme.txt", b"hello")],
    "nested": [
        record(b"a.txt", b"alpha"),
        record(b"sub\\b.txt", b"beta"),
        record(b"sub\\deep\\er\\c.dat", b"gamma" * 20),
    ],
    "gbk-names": [
        record(CHINESE + b"\\" + CHINESE + b".txt", "说明".encode("gbk")),
        record(TRAIL_5C + b".txt", b"trail byte"),
        record(b"dir" + TRAIL_5C + b"\\x.txt", b"in a folder ending in a trail byte"),
    ],
    "empty-files": [record(b"empty.bin"), record(b"sub\\empty"), record(b"keep.txt", b"x")],
    "upper-digest": [record(b"Upper.TXT", b"case", upper=True), record(b"upper.txt", b"again")],
    "attributes": [
        record(b"read-only.txt", b"ro", attributes=33),
        record(b"hidden.txt", b"h", attributes=34),
        record(b"big-word.txt", b"w", attributes=524320),
    ],
    "names-the-sentinel": [record(b"inside-sentinel.txt", b"replaced"), record(b"other.txt", b"o")],
    "wrong-digest": [record(b"bad.txt", b"data", md5="0" * 32)],
    "folder-then-file": [record(b"sub\\f.txt", b"f"), record(b"sub"), record(b"sub\\g.txt", b"g")],
    "one-file-two-records": [record(b"a.txt", b"NEW"), record(b"A.txt", b"old"), record(b"a.txt", b"OLD")],
}


# Target layouts for the survey target: step % 10 picks what is made at
# the record's path (0 its bytes, 1 other bytes, 2 a folder, 3 a file in
# its folder's way, 4 a hard link to a file outside, 5 a link to that file,
# 6 a link to a folder outside, 7 read-only, 8 a hard link to another
# record's file, 9 an empty file).
LAYOUTS = {
    "unchanged": ("nested", bytes([0, 0, 0, 1, 0, 2])),
    "changed-and-blocked": ("nested", bytes([1, 0, 3, 1, 2, 2])),
    "hard-links": ("empty-files", bytes([4, 2, 8, 3])),
    "links-outside": ("nested", bytes([5, 0, 6, 1])),
    "read-only": ("attributes", bytes([7, 0, 17, 1, 9, 2])),
    "folder-for-a-file": ("one-file", bytes([2, 0])),
}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    for kind in ("extract", "envelope", "survey"):
        os.makedirs(os.path.join(out, kind), exist_ok=True)
    for name, records in ARCHIVES.items():
        inflated = archive(records)
        with open(os.path.join(out, "extract", name), "wb") as f:
            f.write(inflated)
        with open(os.path.join(out, "envelope", name), "wb") as f:
            f.write(envelope(inflated))
        with open(os.path.join(out, "survey", name), "wb") as f:
            f.write(inflated)
    for name, (base, steps) in LAYOUTS.items():
        with open(os.path.join(out, "survey", name), "wb") as f:
            f.write(archive(ARCHIVES[base]) + steps)
    # Header cases only the envelope reader sees.
    with open(os.path.join(out, "envelope", "header-only"), "wb") as f:
        f.write(struct.pack("<II", TAG, 0))
    with open(os.path.join(out, "envelope", "short-length"), "wb") as f:
        f.write(envelope(archive(ARCHIVES["nested"]), length=8))


if __name__ == "__main__":
    main()
