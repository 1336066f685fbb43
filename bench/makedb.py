#!/usr/bin/env python3
"""Writes a database-like file: 4 KiB pages, mostly padding, some repeated records, some
random bytes (memo and OLE data). Deterministic for a given size and seed."""
import os
import random
import struct
import sys

path = sys.argv[1]
size = int(sys.argv[2])
rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 1)
PAGE = 4096
names = [b"Smith", b"Jones", b"Taylor", b"Brown", b"Williams", b"Wilson", b"Johnson", b"Davies", b"Robinson"]
towns = [b"Leeds", b"York", b"Bristol", b"Norwich", b"Exeter", b"Bath", b"Derby"]
templates = []
for i in range(64):
    rec = struct.pack("<IHH", i, 0x1234, rng.randrange(65536))
    rec += rng.choice(names).ljust(24, b" ") + rng.choice(towns).ljust(20, b" ")
    rec += struct.pack("<dI", rng.random() * 1000, rng.randrange(1 << 30))
    templates.append(rec)
with open(path, "wb") as f:
    for page in range(size // PAGE):
        kind = rng.random()
        body = bytearray(PAGE)
        struct.pack_into("<HHI", body, 0, 1, 0, page)
        if kind < 0.08:  # memo / OLE page: mostly noise
            n = rng.randrange(1024, PAGE - 64)
            body[16:16 + n] = os.urandom(n)
        elif kind < 0.70:  # data page: records from the top, padding below
            pos = 16
            fill = rng.randrange(PAGE // 4, PAGE - 200)
            key = page * 7
            while pos + 80 < fill:
                rec = bytearray(rng.choice(templates))
                struct.pack_into("<I", rec, 0, key)
                key += 1
                body[pos:pos + len(rec)] = rec
                pos += len(rec)
        # else: an empty page (free space map, unused)
        f.write(body)
