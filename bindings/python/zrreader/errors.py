"""Result codes of libzrreader and the one exception, ZRError."""

from __future__ import annotations

from typing import Dict, Optional

ZR_OK = 1
ZR_NOTHING = 0
ZR_CLOSED = -1
ZR_ERR_RANGE = -2
ZR_ERR_EPC_LENGTH = -3
ZR_ERR_NO_REPLY = -4
ZR_ERR_ARGUMENT = -5
ZR_ERR_STATUS_3A = -7
ZR_ERR_REPORT_STATUS = -8
ZR_ERR_FAMILY = -9
ZR_ERR_ALREADY_OPEN = -10
ZR_ERR_CONFIG = -11
ZR_ERR_CONNECT_TIMEOUT = -12
ZR_ERR_OPEN = -13
ZR_ERR_LENGTH = -15
ZR_ERR_UNKNOWN_STATUS = -20
ZR_ERR_CLOSE = 242

#: Value of a closed port handle.
ZR_CLOSED_HANDLE = -1

__all__ = [
    "ZR_OK", "ZR_NOTHING", "ZR_CLOSED", "ZR_ERR_RANGE", "ZR_ERR_EPC_LENGTH", "ZR_ERR_NO_REPLY",
    "ZR_ERR_ARGUMENT", "ZR_ERR_STATUS_3A", "ZR_ERR_REPORT_STATUS", "ZR_ERR_FAMILY", "ZR_ERR_ALREADY_OPEN",
    "ZR_ERR_CONFIG", "ZR_ERR_CONNECT_TIMEOUT", "ZR_ERR_OPEN", "ZR_ERR_LENGTH", "ZR_ERR_UNKNOWN_STATUS",
    "ZR_ERR_CLOSE", "ZR_CLOSED_HANDLE",
    "RESULT_NAMES", "ZRError", "reader_status_of", "result_name", "result_text",
]

#: The result codes by number, under their names in zrreader.h.
RESULT_NAMES: Dict[int, str] = {
    value: name
    for name, value in dict(globals()).items()
    if name.startswith("ZR_") and name != "ZR_CLOSED_HANDLE" and isinstance(value, int)
}

# First result code, last result code and status byte of the first code,
# for every range of reader statuses.
_STATUS_RANGES = (
    (1001, 1009, 0x01),
    (1010, 1015, 0x11),
    (2001, 2007, 0x20),
    (3001, 3010, 0x60),
    (4001, 4013, 0x90),
)


def reader_status_of(result: int) -> Optional[int]:
    """The reader's status byte behind a reader-status result (1001..1015,
    2001..2007, 3001..3010, 4001..4013), or None for any other result.

    -5, -7 and -20 may also come from a status byte; they are library codes
    because the number alone does not tell which status it was.
    """
    for first, last, status in _STATUS_RANGES:
        if first <= result <= last:
            return status + (result - first)
    return None


def result_name(result: int) -> str:
    """The name of a result code: the macro name of zrreader.h
    ("ZR_ERR_NO_REPLY"), "status 0x21" for reader statuses, and
    "result N" for any other number."""
    name = RESULT_NAMES.get(result)
    if name is not None:
        return name
    status = reader_status_of(result)
    if status is not None:
        return f"status 0x{status:02X}"
    return f"result {result}"


def result_text(result: int) -> str:
    """ZRResultText: the library's descriptive English text for a result code."""
    from ._library import library

    text = library().ZRResultText(result)
    return text.decode("utf-8", "replace") if text else ""


class ZRError(Exception):
    """A failed call: the export that failed, its result code, the code's
    name and the library's text for it.

    str() reads "ZRPowerQuery: ZR_ERR_NO_REPLY (-4): <text>".
    """

    def __init__(self, code: int, operation: str, text: Optional[str] = None) -> None:
        self.code: int = code
        self.operation: str = operation
        self.name: str = result_name(code)
        self.text: str = result_text(code) if text is None else text
        super().__init__(f"{operation}: {self.name} ({code}): {self.text}")

    @property
    def reader_status(self) -> Optional[int]:
        """The reader's status byte behind the code, or None (see reader_status_of)."""
        return reader_status_of(self.code)

    def __reduce__(self):  # keeps the exception picklable (multiprocessing)
        return (type(self), (self.code, self.operation, self.text))
