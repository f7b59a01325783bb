"""Finding and loading libzrreader, and the ctypes signature of every export.

The library is looked for, in this order:

1. the path in the environment variable ``ZRREADER_LIBRARY``;
2. ``libzrreader.so.1`` or ``libzrreader.so`` beside this package (inside
   the ``zrreader`` folder), where a bundled copy would be placed;
3. the system's search path: ``ctypes.util.find_library("zrreader")``, then
   ``libzrreader.so.1`` through the dynamic loader (``LD_LIBRARY_PATH``,
   ``/etc/ld.so.conf``, the default folders).
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from ctypes import POINTER, c_char_p, c_int, c_ubyte, c_void_p
from typing import Dict, List, Optional, Sequence, Tuple

#: Environment variable naming the shared library file to load.
LIBRARY_ENV = "ZRREADER_LIBRARY"

_SONAME = "libzrreader.so.1"
_BESIDE = (_SONAME, "libzrreader.so")

_bytes_p = POINTER(c_ubyte)
_int_p = POINTER(c_int)

# The exports use __stdcall on Windows (the same as the C convention on 64-bit
# Windows) and the platform's C convention elsewhere.
_WINDOWS = sys.platform == "win32"
_Loader = ctypes.WinDLL if _WINDOWS else ctypes.CDLL  # type: ignore[attr-defined]
_FUNCTYPE = ctypes.WINFUNCTYPE if _WINDOWS else ctypes.CFUNCTYPE  # type: ignore[attr-defined]

#: The trace callback type: (user, direction, link, bytes, length) -> None.
TRACE_CALLBACK = _FUNCTYPE(None, c_void_p, c_int, c_char_p, _bytes_p, c_int)

#: Return type and argument types of every export of zrreader.h, in the
#: header's order. "byte" arguments are plain ints, as in C.
SIGNATURES: Dict[str, Tuple[object, List[object]]] = {
    # Opening and closing
    "ZROpen": (c_int, [_int_p, c_char_p, c_char_p]),
    "ZRClose": (c_int, [_int_p]),
    "ZRSetDeviceClass": (c_int, [c_int, c_int]),
    # Basic commands
    "ZRReset": (c_int, [c_int]),
    "ZRIdentify": (c_int, [c_int, c_int, c_int]),
    "ZRReport": (c_int, [c_int, _bytes_p]),
    "ZRDirectRead": (c_int, [c_int, c_int, c_int]),
    "ZRDirectReport": (c_int, [c_int, _bytes_p]),
    # Extended inventories
    "ZRLongIdentify": (c_int, [c_int, c_int, c_int, c_int]),
    "ZRLongReport": (c_int, [c_int, _bytes_p]),
    "ZRUserIdentify": (c_int, [c_int, c_int, c_int, c_int, c_int, c_int, c_int]),
    "ZRUserReport": (c_int, [c_int, _bytes_p]),
    "ZRIdentifyEpcCode": (c_int, [c_int, c_int, c_int, c_int]),
    "ZREpcCodeReport": (c_int, [c_int, _bytes_p]),
    "ZRIdentifyTIDCode": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "ZRTIDCodeReport": (c_int, [c_int, _bytes_p]),
    # Tag memory
    "ZRReadUserData": (c_int, [c_int, c_int, c_int, c_int, _bytes_p, _bytes_p]),
    "ZRReadUserDataOnce": (c_int, [c_int, c_int, c_int, c_int, _bytes_p, _bytes_p]),
    "ZRWriteUserData": (c_int, [c_int, c_int, c_int, _bytes_p, _bytes_p, c_int]),
    "ZRWriteUserDataOnce": (c_int, [c_int, c_int, c_int, _bytes_p, _bytes_p, c_int]),
    "ZRLockUserData": (c_int, [c_int, c_int, c_int, _bytes_p, c_int]),
    "ZRReadUserDataEPC": (c_int, [c_int, _bytes_p, c_int, c_int, c_int, _bytes_p]),
    # EPC code and use data
    "ZRSetEpcCode": (c_int, [c_int, c_int, _bytes_p, c_int, c_int, _bytes_p]),
    "ZRGetUseData": (c_int, [c_int, _bytes_p, c_int, c_int, c_int]),
    "ZRGetUseDataReport": (c_int, [c_int, _bytes_p]),
    "ZRSetUseData": (c_int, [c_int, c_int, _bytes_p, c_int, c_int, _bytes_p]),
    # Passwords, locking and destruction
    "ZRSetVisitPWD": (c_int, [c_int, c_int, _bytes_p, _bytes_p]),
    "ZRSetDestroyPWD": (c_int, [c_int, c_int, _bytes_p, _bytes_p]),
    "ZRSetDataLocked": (c_int, [c_int, c_int, _bytes_p, c_int, c_int]),
    "ZRSetDestroyTag": (c_int, [c_int, c_int, _bytes_p, c_int, _bytes_p]),
    # Selection and data return
    "ZRDataReturn": (c_int, [c_int, c_int, c_int]),
    "ZRSelectTag": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "ZRSelectTagEPC": (c_int, [c_int, c_int, c_int, c_int, _bytes_p, c_int]),
    # Power, RF and frequency
    "ZRPowerOn": (c_int, [c_int, c_int]),
    "ZRPowerOff": (c_int, [c_int]),
    "ZRFreqQuery": (c_int, [c_int, c_int, c_int, _bytes_p]),
    "ZRPowerSet": (c_int, [c_int, c_int, c_int, c_int, c_int]),
    "ZRPowerQuery": (c_int, [c_int, c_int, c_int, _bytes_p]),
    # System and tag parameters
    "ZRSysQuery": (c_int, [c_int, c_int, c_int, _bytes_p]),
    "ZRTagQuery": (c_int, [c_int, c_int, c_int, _bytes_p]),
    "ZRSysSet": (c_int, [c_int, c_int, c_int, _bytes_p]),
    "ZRSysFastSet": (c_int, [c_int, c_int, c_int, _bytes_p]),
    "ZRTagFastSet": (c_int, [c_int, c_int, c_int, _bytes_p]),
    # I/O, MAC and network address
    "ZRIOControlSet": (c_int, [c_int, c_int, c_int]),
    "ZRIOControlQuery": (c_int, [c_int, c_int, _bytes_p]),
    "ZRMACSet": (c_int, [c_int, c_int, c_int, _bytes_p]),
    "ZRNetAddrSet": (c_int, [c_int, c_int, c_char_p, c_char_p, c_char_p, c_char_p]),
    "ZRCodeSending": (c_int, [c_int, c_int, c_int, _bytes_p]),
    # Device class, test mode, read configuration, interference
    "ZRGetDeviceClass": (c_int, [c_int, _int_p]),
    "ZRTestModeSet": (c_int, [c_int, c_int]),
    "ZRSetReadCfg": (c_int, [c_int, c_int, c_int]),
    "ZRSetInterfere": (c_int, [c_int, _bytes_p]),
    "ZRGetInterfere": (c_int, [c_int, _bytes_p]),
    "ZRCloseInterfere": (c_int, [c_int]),
    # Reader state, clock, fixed number, upgrade, listening
    "ZREpcPrintPowerOs": (c_int, [c_int, c_int]),
    "ZRGetReaderState": (c_int, [c_int, c_int, _bytes_p]),
    "ZRSetReaderTime": (c_int, [c_int, c_int, _bytes_p]),
    "ZRSetReaderfixNO": (c_int, [c_int, c_int]),
    "ZRGetReaderfixNO": (c_int, [c_int, c_int]),
    "ZRUpGrade": (c_int, [c_int]),
    "ZRListenReader": (c_int, [c_int, c_int, _bytes_p, _bytes_p, _bytes_p]),
    # EAS alarm and EU tests
    "ZRConfigEASflag": (c_int, [c_int, c_int, _bytes_p, c_int]),
    "ZRStartEASAlarm": (c_int, [c_int, c_int]),
    "ZREASAlarmReport": (c_int, [c_int]),
    "ZREndEASAlarm": (c_int, [c_int, c_int]),
    "ZREUDoorTest": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "ZREUFreqTest": (c_int, [c_int, c_int, c_int, _bytes_p]),
    # Tag and time filters
    "ZRSetTagFilter": (c_int, [c_int, _bytes_p, _bytes_p]),
    "ZRCancelTagFilter": (c_int, [c_int]),
    "ZRSetTimeFilter": (c_int, [c_int, _bytes_p]),
    "ZRCancelTimeFilter": (c_int, [c_int]),
    # Extensions
    "ZRResultText": (c_char_p, [c_int]),
    "ZRSetTraceCallback": (c_int, [TRACE_CALLBACK, c_void_p]),
    "ZRGetReaderfixNOEx": (c_int, [c_int, _bytes_p, c_int, _int_p]),
    "ZRLastReplyLength": (c_int, []),
}


class LibraryNotFound(OSError):
    """No loadable libzrreader was found; the message lists what was tried."""


def candidate_paths() -> List[str]:
    """The names and paths tried, in order (see the module text)."""
    candidates: List[str] = []
    explicit = os.environ.get(LIBRARY_ENV, "")
    if explicit:
        candidates.append(explicit)
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _BESIDE:
        path = os.path.join(here, name)
        if os.path.exists(path):
            candidates.append(path)
    found = ctypes.util.find_library("zrreader")
    if found:
        candidates.append(found)
    candidates.append(_SONAME)
    return candidates


def declare(library: ctypes.CDLL) -> ctypes.CDLL:
    """Sets restype and argtypes of every export on `library`."""
    for name, (restype, argtypes) in SIGNATURES.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes
    return library


def _open(candidates: Sequence[str]) -> ctypes.CDLL:
    errors: List[str] = []
    explicit = os.environ.get(LIBRARY_ENV, "")
    for candidate in candidates:
        try:
            library = _Loader(candidate)
        except OSError as error:
            # A library named explicitly must load: falling back to another
            # copy would hide a wrong path.
            if explicit and candidate == explicit:
                raise LibraryNotFound(f"{LIBRARY_ENV}={explicit}: {error}") from error
            errors.append(f"{candidate}: {error}")
            continue
        try:
            return declare(library)
        except AttributeError as error:
            # An older or foreign library that lacks an export.
            errors.append(f"{candidate}: {error}")
    raise LibraryNotFound("libzrreader not found; set " + LIBRARY_ENV + " to its path. Tried: " + "; ".join(errors))


_lock = threading.Lock()
_library: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The loaded library with its signatures declared, loaded on first use."""
    global _library
    with _lock:
        if _library is None:
            _library = _open(candidate_paths())
        return _library
