"""Encodes frames with canmatrix, the independent encoder the tests compare with.

usage: canmatrix_encode.py DBC REQUESTS [ENCODING]
REQUESTS holds one frame a line: "<hex id> <0|1 extended>\t<signal>=<value>\t...",
a value being a physical number or a value-table text. Signals not given are 0.
Prints the data bytes of each frame in hex, one line each.
"""
import decimal
import logging
import sys

logging.disable(logging.CRITICAL)
import canmatrix  # noqa: E402
import canmatrix.formats  # noqa: E402

options = {"dbcImportEncoding": sys.argv[3]} if len(sys.argv) > 3 else {}
db = canmatrix.formats.loadp_flat(sys.argv[1], **options)
with open(sys.argv[2], encoding="utf-8") as requests:
    for line in requests:
        fields = line.rstrip("\n").split("\t")
        hex_id, extended = fields[0].split()
        frame = db.frame_by_id(canmatrix.ArbitrationId(int(hex_id, 16), extended=extended == "1"))
        raws = {}
        for field in fields[1:]:
            name, value = field.split("=", 1)
            signal = frame.signal_by_name(name)
            try:
                value = decimal.Decimal(value)
            except decimal.InvalidOperation:
                pass  # a value-table text
            raw = signal.phys2raw(value)
            raws[name] = float(raw) if signal.is_float else raw
        print(frame.encode(raws).hex().upper())
