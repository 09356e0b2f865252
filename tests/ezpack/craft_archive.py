#!/usr/bin/env python3
"""usage: craft_archive.py [--count N] [--cut N] [--trail N] OUT [PATH MD5 DATA]...

Writes an envelope holding exactly these records, in this order, with raw
bytes the packer would never write. MD5 "=" stands for the data's real
digest; DATA "@FILE" is read from FILE, anything else is the data itself.
--count writes another record count, --cut leaves out the last N bytes of
the archive, --trail adds N zero bytes after the last record.
"""
import hashlib
import os
import struct
import sys
import zlib


def record(path, md5, data):
    if md5 == b"=":
        md5 = hashlib.md5(data).hexdigest().encode()
    md5 = md5.ljust(32, b"0")[:32]
    attributes = b"32"
    head = struct.pack("<4i", len(path), len(data), len(data), len(attributes))
    return head + path + md5 + attributes + data


def main():
    args = [os.fsencode(a) for a in sys.argv[1:]]
    options = {b"--count": None, b"--cut": 0, b"--trail": 0}
    while len(args) > 1 and args[0] in options:
        options[args[0]] = int(args[1])
        args = args[2:]
    if len(args) < 4 or (len(args) - 1) % 3:
        sys.exit(__doc__)
    out, fields = args[0], args[1:]
    records = []
    for i in range(0, len(fields), 3):
        path, md5, data = fields[i:i + 3]
        if data.startswith(b"@"):
            with open(data[1:], "rb") as f:
                data = f.read()
        records.append(record(path, md5, data))
    count = len(records) if options[b"--count"] is None else options[b"--count"]
    inflated = struct.pack("<i", count) + b"".join(records) + bytes(options[b"--trail"])
    inflated = inflated[:len(inflated) - options[b"--cut"]]
    with open(out, "wb") as f:
        f.write(struct.pack("<2I", 0x033E0F0D, len(inflated)) + zlib.compress(inflated))


main()
