"""The rows tarvenix-can-dump --csv should write, decoded by canmatrix.

usage: canmatrix_csv.py DBC CANDUMP_LOG SIGNAL[,SIGNAL...]
Reads a candump log ("(seconds) can0 ID#DATA"), decodes every data frame
with canmatrix and prints, for each frame that carries one of the signals,
a line "seconds since the first frame,value,value,..." (empty where the
frame does not carry that signal).
"""
import logging
import sys

logging.disable(logging.CRITICAL)
import canmatrix  # noqa: E402
import canmatrix.formats  # noqa: E402

db = canmatrix.formats.loadp_flat(sys.argv[1], dbcImportEncoding="cp1252")
names = sys.argv[3].split(",")
origin = None
with open(sys.argv[2]) as log:
    for line in log:
        stamp, _, frame_text = line.split()
        seconds = float(stamp.strip("()"))
        origin = seconds if origin is None else origin
        ident, data = frame_text.split("#")
        if data.startswith("R"):
            continue
        frame = db.frame_by_id(canmatrix.ArbitrationId(int(ident, 16), extended=len(ident) == 8))
        if frame is None:
            continue
        decoded = frame.decode(bytes.fromhex(data))
        cells = [str(decoded[n].phys_value) if n in decoded else "" for n in names]
        if any(cells):
            print(f"{seconds - origin:.6f}," + ",".join(cells))
