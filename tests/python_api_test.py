"""The README's ctypes usage against the built shared library."""
import ctypes
import os
import sys
import tempfile

lib = ctypes.CDLL(sys.argv[1])
lib.morvel_last_error.restype = ctypes.c_char_p
sample = sys.argv[2].encode()

with tempfile.TemporaryDirectory() as tmp:
    missing = os.path.join(tmp, "missing.pdf").encode()
    assert lib.morvel_check(missing) == 0
    assert lib.morvel_last_error() == b"cannot stat '" + missing + b"'", lib.morvel_last_error()

    out = os.path.join(tmp, "out.pdf").encode()
    if not lib.morvel_optimize(sample, out):
        raise SystemExit("optimize failed: " + lib.morvel_last_error().decode())
    assert lib.morvel_check(out) == 1, lib.morvel_last_error()
    assert lib.morvel_last_error() == b""
print("python api ok")
