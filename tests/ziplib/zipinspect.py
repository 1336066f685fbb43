#!/usr/bin/env python3
"""Prints what Python's zipfile sees in an archive, one JSON object, so tests can
compare names, sizes, CRCs and methods with what they put in."""
import json
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as z:
    pwd = sys.argv[2].encode() if len(sys.argv) > 2 else None
    out = {"comment": z.comment.decode("latin-1"), "entries": []}
    for i in z.infolist():
        e = {"name": i.filename, "size": i.file_size, "crc": i.CRC,
             "method": i.compress_type, "encrypted": bool(i.flag_bits & 1),
             "comment": i.comment.decode("latin-1"), "create_system": i.create_system}
        if not i.is_dir():
            data = z.read(i.filename, pwd=pwd if e["encrypted"] else None)
            e["readOk"] = len(data) == i.file_size
        out["entries"].append(e)
    print(json.dumps(out))
