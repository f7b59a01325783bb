"""Python interface of libzrreader, the RFID tag reader library.

    import zrreader

    with zrreader.Reader("reader.ini", "READER") as reader:
        reader.identify(0, 0)
        report = reader.report()          # bytes, or None when none is waiting
        reader.power_set(0x1E, 0x00)
        print(reader.power_query().hex())

Every failure raises zrreader.ZRError with .code, .name, .text and
.operation. The shared library is found through the environment variable
ZRREADER_LIBRARY, beside this package, or on the system's search path.
"""

from ._library import LIBRARY_ENV, LibraryNotFound, library
from . import errors as _errors
from .errors import *  # noqa: F401,F403 - the result code constants, ZRError
from .reader import ListenMessage, Reader, TraceHandler, set_device_class, set_trace_handler

__version__ = "1.0.0"

def last_reply_length() -> int:
    """ZRLastReplyLength: the length field of the latest reply that an export
    called on this thread received, or -1 when it received none."""
    return library().ZRLastReplyLength()

__all__ = _errors.__all__ + [
    "LIBRARY_ENV",
    "LibraryNotFound",
    "ListenMessage",
    "Reader",
    "TraceHandler",
    "last_reply_length",
    "library",
    "set_device_class",
    "set_trace_handler",
]
