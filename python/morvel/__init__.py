"""Linearize PDF files ("fast web view") and check whether they are.

A thin layer over the morvel shared library through ctypes. The library is
looked for in $MORVEL_LIBRARY, then beside this package, then wherever the
system's loader finds libmorvel.so.0. Calls may run from many threads at
once; ctypes releases the GIL during each call.
"""

from __future__ import annotations

import ctypes
import errno as _errno
import os
from pathlib import Path
from typing import Dict, Optional, Type, Union

__all__ = [
    "MorvelError",
    "EncryptedPDFError",
    "SignedPDFError",
    "NotAPDFError",
    "optimize",
    "check",
    "check_reason",
    "optimize_bytes",
    "check_bytes",
    "version",
]

__version__ = "0.2.0"

StrPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

_OBJECT_STREAMS = 1
_ALLOW_SIGNED = 2


class MorvelError(Exception):
    """A call of the library failed; str() is the library's message."""


class EncryptedPDFError(MorvelError):
    """The document is encrypted: decrypt it first."""


class SignedPDFError(MorvelError):
    """The document is signed; rewriting it would invalidate the signatures."""


class NotAPDFError(MorvelError):
    """No PDF objects or no pages were found."""


def _load() -> ctypes.CDLL:
    explicit = os.environ.get("MORVEL_LIBRARY")
    if explicit:
        return ctypes.CDLL(explicit)
    here = Path(__file__).resolve().parent
    for name in ("libmorvel.so.0", "libmorvel.so", "libmorvel.dylib", "morvel.dll"):
        beside = here / name
        if beside.exists():
            return ctypes.CDLL(str(beside))
    try:
        return ctypes.CDLL("libmorvel.so.0")
    except OSError as e:
        raise ImportError(
            "cannot load the morvel library (libmorvel.so.0): set MORVEL_LIBRARY to its path, "
            "put it beside the package, or install it where the loader finds it"
        ) from e


_lib = _load()
_lib.morvel_last_error.restype = ctypes.c_char_p
_lib.morvel_last_error.argtypes = []
_lib.morvel_last_errno.restype = ctypes.c_int
_lib.morvel_last_errno.argtypes = []
_lib.morvel_version.restype = ctypes.c_char_p
_lib.morvel_version.argtypes = []
_lib.morvel_check.restype = ctypes.c_int
_lib.morvel_check.argtypes = [ctypes.c_char_p]
_lib.morvel_optimize_ex.restype = ctypes.c_int
_lib.morvel_optimize_ex.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_uint]
_lib.morvel_optimize_mem.restype = ctypes.c_int
_lib.morvel_optimize_mem.argtypes = [
    ctypes.c_char_p,
    ctypes.c_size_t,
    ctypes.POINTER(ctypes.c_void_p),
    ctypes.POINTER(ctypes.c_size_t),
    ctypes.c_uint,
]
_lib.morvel_check_mem.restype = ctypes.c_int
_lib.morvel_check_mem.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
_lib.morvel_free.restype = None
_lib.morvel_free.argtypes = [ctypes.c_void_p]

_os_error_types: Dict[Type[OSError], Type[OSError]] = {}


def _os_error_type(err: int) -> Type[OSError]:
    """A class that is both a MorvelError and the OSError subclass for err."""
    base = type(OSError(err, ""))
    cls = _os_error_types.get(base)
    if cls is None:
        # str() stays the library's message, which names the file already.
        cls = type(
            "Morvel" + base.__name__,
            (MorvelError, base),
            {"__module__": __name__, "__str__": lambda self: str(self.strerror)},
        )
        _os_error_types[base] = cls
    return cls


def _path(p: StrPath) -> bytes:
    return os.fsencode(os.fspath(p))


def _message() -> str:
    return (_lib.morvel_last_error() or b"").decode("utf-8", "replace")


def _error(src: Optional[StrPath], dst: Optional[StrPath]) -> MorvelError:
    """The exception for the calling thread's last failure."""
    message, err = _message(), _lib.morvel_last_errno()
    if err:
        about_output = "for writing" in message or message.startswith("cannot write")
        # The path as the caller gave it, as the os module does.
        filename = dst if about_output else src
        return _os_error_type(err)(err, message, filename)  # type: ignore[return-value]
    if message.startswith("encrypted PDFs are not supported"):
        return EncryptedPDFError(message)
    if " is signed: " in message:
        return SignedPDFError(message)
    if message.startswith(("no valid PDF objects found", "failed to find valid pages")):
        return NotAPDFError(message)
    return MorvelError(message)


def _flags(object_streams: bool, allow_signed: bool) -> int:
    return (_OBJECT_STREAMS if object_streams else 0) | (_ALLOW_SIGNED if allow_signed else 0)


def optimize(src: StrPath, dst: StrPath, *, object_streams: bool = False, allow_signed: bool = False) -> None:
    """Write a linearized copy of src to dst (which may be src).

    object_streams asks for the compact form (object and cross-reference
    streams); allow_signed rewrites a signed document anyway. A failed call
    leaves dst as it was.
    """
    if not _lib.morvel_optimize_ex(_path(src), _path(dst), _flags(object_streams, allow_signed)):
        raise _error(src, dst)


def check_reason(path: StrPath) -> Optional[str]:
    """None when the file is linearized, else why not. Raises OSError (a
    MorvelError too) when the file cannot be read."""
    if _lib.morvel_check(_path(path)):
        return None
    if _lib.morvel_last_errno():
        raise _error(path, None)
    return _message()


def check(path: StrPath) -> bool:
    """True when the file is linearized; raises when it cannot be read."""
    return check_reason(path) is None


def optimize_bytes(data: bytes, *, object_streams: bool = False, allow_signed: bool = False) -> bytes:
    """The linearized form of a document held in memory."""
    data = bytes(data)
    out = ctypes.c_void_p()
    out_len = ctypes.c_size_t()
    if not _lib.morvel_optimize_mem(
        data, len(data), ctypes.byref(out), ctypes.byref(out_len), _flags(object_streams, allow_signed)
    ):
        raise _error(None, None)
    try:
        return ctypes.string_at(out.value, out_len.value) if out_len.value else b""
    finally:
        _lib.morvel_free(out)


def check_bytes(data: bytes) -> bool:
    """True when the document held in memory is linearized."""
    data = bytes(data)
    return bool(_lib.morvel_check_mem(data, len(data)))


def version() -> str:
    """The loaded library's version."""
    return (_lib.morvel_version() or b"").decode()
