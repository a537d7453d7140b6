"""Decodes frames with canmatrix, the independent decoder the tests compare with.

usage: canmatrix_decode.py DBC FRAMES [ENCODING]
FRAMES holds one frame a line: "<hex id> <0|1 extended> <hex data>".
ENCODING is the file's text encoding (default iso-8859-1, canmatrix's own).
Prints one line per decoded signal, tab-separated:
frame index, signal, raw value ('-' for a float signal), physical value,
value-table text of the raw value ('-' for none).
"""
import logging
import sys

logging.disable(logging.CRITICAL)
import canmatrix  # noqa: E402
import canmatrix.formats  # noqa: E402

options = {"dbcImportEncoding": sys.argv[3]} if len(sys.argv) > 3 else {}
db = canmatrix.formats.loadp_flat(sys.argv[1], **options)
with open(sys.argv[2]) as frames:
    for index, line in enumerate(frames):
        hex_id, extended, data = line.split()
        frame = db.frame_by_id(canmatrix.ArbitrationId(int(hex_id, 16), extended=extended == "1"))
        if frame is None:
            continue
        for name, decoded in frame.decode(bytes.fromhex(data)).items():
            signal = decoded.signal
            raw = "-" if signal.is_float else str(decoded.raw_value)
            text = "-" if signal.is_float else signal.values.get(decoded.raw_value, "-")
            print(f"{index}\t{name}\t{raw}\t{decoded.phys_value}\t{text}")
