"""Loads a .npy file (or standard input for -) with numpy.load and prints
its field names and types, its shape, then its atoms as the signal
command's --csv prints them: integers in decimal, floats with 6 decimals."""
import io
import sys

import numpy

source = sys.argv[1]
data = numpy.load(io.BytesIO(sys.stdin.buffer.read()) if source == "-" else source)
print(data.dtype.descr)
print(data.shape)
for atom in data:
    print(",".join("%.6f" % v if isinstance(v, float) else str(v) for v in atom.item()))
