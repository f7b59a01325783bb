"""The Reader class: one open port handle and a method per export.

Error model (the same as the C++ interface zrreader.hpp):

- result 1 (ZR_OK) is success for every export;
- send-only exports (reset, identify, direct_read, long_identify,
  user_identify, identify_epc_code, identify_tid_code, get_use_data,
  up_grade) return the positive send count; 0 (nothing went out) raises;
- report exports whose C function returns 0 for "no report waiting"
  (report, direct_report, long_report, user_report, epc_code_report,
  tid_code_report) return None for it; eas_alarm_report returns False;
- listen_reader returns None when no acceptable message came;
- start_eas_alarm returns 1, or the send count when the reader's reply
  carried no status;
- every other result raises ZRError: negative codes, reader statuses
  (1001..4013) and 0 where an export uses it for a failure
  (read_user_data_epc without a reply, lock_user_data not sent, sys_set on
  TCP, net_addr_set and code_sending on any failure);
- get_use_data_report raises ZR_ERR_NO_REPLY (-4) while the reply has not
  arrived, as its C export does; catch it and call again.

Inputs that the C interface cannot express are refused before anything is
sent, with ZRError(ZR_ERR_LENGTH): a fixed-size field (tag ID, password,
...) of another length, a byte count that does not fit its argument, and
word data of odd length.

Byte arguments are ints of which the low 8 bits are sent, as in C.
"""

from __future__ import annotations

import ctypes
import os
from ctypes import c_int, c_ubyte
from typing import Callable, NamedTuple, Optional, Union

from ._library import TRACE_CALLBACK, library
from .errors import (
    ZR_CLOSED,
    ZR_CLOSED_HANDLE,
    ZR_ERR_LENGTH,
    ZR_NOTHING,
    ZR_OK,
    ZRError,
)

#: Anything that converts to bytes: bytes, bytearray, memoryview, a list of ints.
BytesLike = Union[bytes, bytearray, memoryview, "list[int]", "tuple[int, ...]"]
#: A path of a configuration file.
PathLike = Union[str, bytes, "os.PathLike[str]"]

_BUFFER = 256  # every reply of the reader fits 256 bytes


class ListenMessage(NamedTuple):
    """A message the reader sent on its own, taken by Reader.listen_reader."""

    info: bytes    #: 6 bytes
    first: bytes   #: 8 bytes
    second: bytes  #: 8 bytes


# ---- Helpers --------------------------------------------------------------------


def _require(result: int, operation: str) -> None:
    if result != ZR_OK:
        raise ZRError(result, operation)


def _sent(result: int, operation: str) -> int:
    """Send-only exports: the positive send count, else ZRError."""
    if result <= 0:
        raise ZRError(result, operation)
    return result


def _report(result: int, operation: str) -> bool:
    """Report exports: True for 1, False for 0 (nothing waiting), else ZRError."""
    if result == ZR_NOTHING:
        return False
    _require(result, operation)
    return True


def _input(data: BytesLike, operation: str, size: Optional[int] = None, limit: int = 255) -> "ctypes.Array[c_ubyte]":
    """`data` as a C byte array; ZR_ERR_LENGTH when it is not `size` bytes
    long (when given) or longer than `limit`. Never a NULL pointer: empty
    data gives a one-byte array."""
    raw = bytes(data)
    if (size is not None and len(raw) != size) or len(raw) > limit:
        raise ZRError(ZR_ERR_LENGTH, operation)
    return (c_ubyte * max(len(raw), 1)).from_buffer_copy(raw or b"\0")


def _output(size: int = _BUFFER) -> "ctypes.Array[c_ubyte]":
    return (c_ubyte * max(size, _BUFFER))()


def _count(value: int, low: int, high: int, operation: str) -> int:
    if not low <= value <= high:
        raise ZRError(ZR_ERR_LENGTH, operation)
    return value


def _words(data: BytesLike, operation: str) -> "tuple[ctypes.Array[c_ubyte], int]":
    """Word data: the array and its 16-bit word count; odd lengths refused."""
    raw = bytes(data)
    if len(raw) % 2:
        raise ZRError(ZR_ERR_LENGTH, operation)
    return _input(raw, operation, limit=510), len(raw) // 2


def _whole_packet(out: "ctypes.Array[c_ubyte]") -> bytes:
    """A report holding a whole packet from its length field on: length + 2 bytes."""
    length = out[0] * 256 + out[1] + 2
    return bytes(out[: min(length, _BUFFER)])


def _text(value: Union[str, bytes]) -> bytes:
    return value if isinstance(value, bytes) else value.encode("utf-8")


# ---- Process-wide settings ---------------------------------------------------------


def set_device_class(family_code: int) -> None:
    """ZRSetDeviceClass: selects the status mapping by family code (500, 600
    or 800) for every handle; ZR_ERR_FAMILY for any other code."""
    _require(library().ZRSetDeviceClass(ZR_CLOSED_HANDLE, family_code), "ZRSetDeviceClass")


#: A trace handler: (sent, link, packet) where sent is False for a received
#: packet, link is "Serial", "USB" or "TCP" and packet the protected packet.
TraceHandler = Callable[[bool, str, bytes], None]

_trace_callback = None  # keeps the C function object alive while registered


def set_trace_handler(handler: Optional[TraceHandler]) -> None:
    """ZRSetTraceCallback: calls `handler` for every packet sent and received
    on every link, on the thread of the call; None turns tracing off.

    One handler at a time: a new one replaces the old. An exception raised
    by the handler is printed by ctypes and otherwise ignored.
    """
    global _trace_callback
    lib = library()
    if handler is None:
        lib.ZRSetTraceCallback(TRACE_CALLBACK(), None)
        _trace_callback = None
        return

    def deliver(_user, direction, link, data, length):
        handler(direction == 0, (link or b"").decode("ascii", "replace"),
                ctypes.string_at(data, length) if length > 0 else b"")

    callback = TRACE_CALLBACK(deliver)
    lib.ZRSetTraceCallback(callback, None)
    _trace_callback = callback


# ---- The reader -------------------------------------------------------------------


class Reader:
    """A reader opened with ZROpen from a section of a configuration file.

    Use it as a context manager, or call close() yourself::

        with Reader("reader.ini", "READER") as reader:
            reader.identify(0, 0)
            while (report := reader.report()) is not None:
                print(report.hex())

    Every method runs one export on the port handle; see the module text
    for which results return and which raise ZRError. Calls on a closed
    reader raise ZR_CLOSED.
    """

    def __init__(self, config_path: PathLike, section: Union[str, bytes]) -> None:
        """ZROpen: raises ZRError with ZR_ERR_CONFIG, ZR_ERR_OPEN,
        ZR_ERR_CONNECT_TIMEOUT, ZR_NOTHING (unknown port type, no USB
        device), ..."""
        self._lib = library()
        self._port = c_int(ZR_CLOSED_HANDLE)
        result = self._lib.ZROpen(ctypes.byref(self._port), os.fsencode(config_path), _text(section))
        if result != ZR_OK:
            self._port.value = ZR_CLOSED_HANDLE
            raise ZRError(result, "ZROpen")

    # ---- Lifetime

    @property
    def handle(self) -> int:
        """The port handle (-1 once closed)."""
        return self._port.value

    @property
    def closed(self) -> bool:
        return self._port.value == ZR_CLOSED_HANDLE

    def close(self) -> None:
        """ZRClose: closes the link now. Closing a closed reader does nothing.

        Raises ZR_ERR_CLOSE (the link could not be closed, e.g. a TCP
        connection not writable within 500 ms) or ZR_NOTHING (the latest
        open named an unknown port type). The link is then still open and
        the reader keeps its handle, so that close() can be called again
        instead of losing the descriptor."""
        if self.closed:
            return
        result = self._lib.ZRClose(ctypes.byref(self._port))
        if result == ZR_CLOSED:  # the library no longer knows the handle: nothing left to close
            self._port.value = ZR_CLOSED_HANDLE
            return
        if result != ZR_OK:
            raise ZRError(result, "ZRClose")
        self._port.value = ZR_CLOSED_HANDLE

    def __enter__(self) -> "Reader":
        return self

    def __exit__(self, exc_type, exc, tb) -> None:
        if exc_type is None:
            self.close()
            return
        # The exception from the block matters more than a failed close.
        try:
            self.close()
        except ZRError:
            pass

    def __del__(self) -> None:
        port = getattr(self, "_port", None)
        if port is not None and port.value != ZR_CLOSED_HANDLE:
            try:
                self._lib.ZRClose(ctypes.byref(port))
            except Exception:  # interpreter shutdown: nothing left to report to
                pass

    def __repr__(self) -> str:
        return f"<zrreader.Reader handle={self.handle}>"

    # ---- Basic commands

    def reset(self) -> int:
        """ZRReset: sends the reset command; the send count."""
        return _sent(self._lib.ZRReset(self.handle), "ZRReset")

    def identify(self, param1: int, param2: int) -> int:
        """ZRIdentify: starts an inventory; the send count."""
        return _sent(self._lib.ZRIdentify(self.handle, param1, param2), "ZRIdentify")

    def report(self) -> Optional[bytes]:
        """ZRReport: one inventory report (status byte and data), or None
        when none is waiting."""
        return self._status_and_data(self._lib.ZRReport, "ZRReport")

    def direct_read(self, param1: int, param2: int) -> int:
        """ZRDirectRead: starts a direct read; the send count."""
        return _sent(self._lib.ZRDirectRead(self.handle, param1, param2), "ZRDirectRead")

    def direct_report(self) -> Optional[bytes]:
        """ZRDirectReport: one direct-read report (status byte and data), or None."""
        return self._status_and_data(self._lib.ZRDirectReport, "ZRDirectReport")

    # ---- Extended inventories

    def long_identify(self, param1: int, param2: int, param3: int) -> int:
        """ZRLongIdentify: starts a long inventory; the send count."""
        return _sent(self._lib.ZRLongIdentify(self.handle, param1, param2, param3), "ZRLongIdentify")

    def long_report(self) -> Optional[bytes]:
        """ZRLongReport: status byte (0) and data, or None; a non-zero
        report status raises ZR_ERR_REPORT_STATUS."""
        return self._status_and_data(self._lib.ZRLongReport, "ZRLongReport")

    def user_identify(self, param1: int, param2: int, param3: int, param4: int, param5: int, param6: int) -> int:
        """ZRUserIdentify: starts a user inventory; the send count."""
        return _sent(
            self._lib.ZRUserIdentify(self.handle, param1, param2, param3, param4, param5, param6), "ZRUserIdentify"
        )

    def user_report(self) -> Optional[bytes]:
        """ZRUserReport: status byte (0) and data, or None."""
        return self._status_and_data(self._lib.ZRUserReport, "ZRUserReport")

    def identify_epc_code(self, param1: int, param2: int, param3: int) -> int:
        """ZRIdentifyEpcCode: starts an EPC inventory; the send count."""
        return _sent(self._lib.ZRIdentifyEpcCode(self.handle, param1, param2, param3), "ZRIdentifyEpcCode")

    def epc_code_report(self) -> Optional[bytes]:
        """ZREpcCodeReport: the whole report packet without its CRC (length
        field, code, status, data), or None."""
        return self._packet_report(self._lib.ZREpcCodeReport, "ZREpcCodeReport")

    def identify_tid_code(self, param1: int, param2: int, param3: int, extra: BytesLike) -> int:
        """ZRIdentifyTIDCode: starts a TID inventory with 4 extra bytes; the send count."""
        extra4 = _input(extra, "ZRIdentifyTIDCode", size=4)
        return _sent(self._lib.ZRIdentifyTIDCode(self.handle, param1, param2, param3, extra4), "ZRIdentifyTIDCode")

    def tid_code_report(self) -> Optional[bytes]:
        """ZRTIDCodeReport: the whole report packet without its CRC, or None."""
        return self._packet_report(self._lib.ZRTIDCodeReport, "ZRTIDCodeReport")

    # ---- Tag memory

    def read_user_data(self, lead: int, address: int, count: int, tag_id: BytesLike) -> bytes:
        """ZRReadUserData: `count` (0..255) bytes of tag memory from
        `address` of the tag with the 8-byte `tag_id`, read in 64-byte pieces."""
        return self._read(self._lib.ZRReadUserData, lead, address, count, tag_id, "ZRReadUserData")

    def read_user_data_once(self, lead: int, address: int, count: int, tag_id: BytesLike) -> bytes:
        """ZRReadUserDataOnce: `count` bytes of user memory in one command."""
        return self._read(self._lib.ZRReadUserDataOnce, lead, address, count, tag_id, "ZRReadUserDataOnce")

    def write_user_data(self, lead: int, address: int, tag_id: BytesLike, data: BytesLike) -> None:
        """ZRWriteUserData: writes `data` in 32-byte pieces (area 8..224, else ZR_ERR_RANGE)."""
        self._write(self._lib.ZRWriteUserData, lead, address, tag_id, data, "ZRWriteUserData")

    def write_user_data_once(self, lead: int, address: int, tag_id: BytesLike, data: BytesLike) -> None:
        """ZRWriteUserDataOnce: writes at most 242 bytes in one command."""
        self._write(self._lib.ZRWriteUserDataOnce, lead, address, tag_id, data, "ZRWriteUserDataOnce")

    def lock_user_data(self, address: int, lead: int, tag_id: BytesLike, count: int) -> None:
        """ZRLockUserData: locks `count` bytes of user memory from `address`
        (note: address before lead, as in C)."""
        op = "ZRLockUserData"
        _require(self._lib.ZRLockUserData(self.handle, address, lead, _input(tag_id, op, size=8), count), op)

    def read_user_data_epc(self, password: BytesLike, address: int, words: int, lead: int) -> bytes:
        """ZRReadUserDataEPC: reads `words` 16-bit words with a 4-byte
        password; 2 * words + 5 bytes: the reply without CRC (length field,
        code, status, one byte, then the data)."""
        op = "ZRReadUserDataEPC"
        _count(words, 0, 255, op)
        out = _output(2 * words + 5)
        _require(self._lib.ZRReadUserDataEPC(self.handle, _input(password, op, size=4), address, words, lead, out), op)
        return bytes(out[: 2 * words + 5])

    # ---- EPC code and use data

    def set_epc_code(self, lead: int, password: BytesLike, epc_length: int, epc: BytesLike) -> None:
        """ZRSetEpcCode: writes the EPC (an even number of bytes, sent as
        words) with the EPC length argument `epc_length`."""
        op = "ZRSetEpcCode"
        data, words = _words(epc, op)
        _require(self._lib.ZRSetEpcCode(self.handle, lead, _input(password, op, size=4), epc_length, words, data), op)

    def get_use_data(self, password: BytesLike, address: int, words: int, lead: int) -> int:
        """ZRGetUseData: starts a use-data read; the send count."""
        op = "ZRGetUseData"
        return _sent(self._lib.ZRGetUseData(self.handle, _input(password, op, size=4), address, words, lead), op)

    def get_use_data_report(self) -> bytes:
        """ZRGetUseDataReport: the whole reply without CRC; raises
        ZR_ERR_NO_REPLY while it has not arrived."""
        out = _output()
        _require(self._lib.ZRGetUseDataReport(self.handle, out), "ZRGetUseDataReport")
        return _whole_packet(out)

    def set_use_data(self, lead: int, password: BytesLike, address: int, data: BytesLike) -> None:
        """ZRSetUseData: writes word data (an even number of bytes) from `address`."""
        op = "ZRSetUseData"
        array, words = _words(data, op)
        _require(self._lib.ZRSetUseData(self.handle, lead, _input(password, op, size=4), address, words, array), op)

    # ---- Passwords, locking and destruction

    def set_visit_password(self, lead: int, password: BytesLike, new_password: BytesLike) -> None:
        """ZRSetVisitPWD: sets the tag's 4-byte access password."""
        op = "ZRSetVisitPWD"
        _require(self._lib.ZRSetVisitPWD(self.handle, lead, _input(password, op, 4), _input(new_password, op, 4)), op)

    def set_destroy_password(self, lead: int, password: BytesLike, new_password: BytesLike) -> None:
        """ZRSetDestroyPWD: sets the tag's 4-byte destroy password."""
        op = "ZRSetDestroyPWD"
        _require(
            self._lib.ZRSetDestroyPWD(self.handle, lead, _input(password, op, 4), _input(new_password, op, 4)), op
        )

    def set_data_locked(self, lead: int, password: BytesLike, lock_flag: int, lock_selector: int) -> None:
        """ZRSetDataLocked: locks (1) or unlocks (0) the area `lock_selector` (0..5)."""
        op = "ZRSetDataLocked"
        _require(self._lib.ZRSetDataLocked(self.handle, lead, _input(password, op, 4), lock_flag, lock_selector), op)

    def set_destroy_tag(self, lead: int, password: BytesLike, data: BytesLike = b"") -> None:
        """ZRSetDestroyTag: destroys the tag; `data` is word data (even length)."""
        op = "ZRSetDestroyTag"
        array, words = _words(data, op)
        _require(self._lib.ZRSetDestroyTag(self.handle, lead, _input(password, op, 4), words, array), op)

    # ---- Selection and data return

    def data_return(self, lead: int, value: int) -> None:
        """ZRDataReturn: sets the data-return value (0..4)."""
        _require(self._lib.ZRDataReturn(self.handle, lead, value), "ZRDataReturn")

    def select_tag(self, lead: int, param1: int, param2: int, tag_id: BytesLike) -> None:
        """ZRSelectTag: selects a tag by its 8-byte tag ID."""
        op = "ZRSelectTag"
        _require(self._lib.ZRSelectTag(self.handle, lead, param1, param2, _input(tag_id, op, size=8)), op)

    def select_tag_epc(self, lead: int, param1: int, param2: int, epc: BytesLike) -> None:
        """ZRSelectTagEPC: selects a tag by (the start of) its EPC."""
        op = "ZRSelectTagEPC"
        raw = bytes(epc)
        _require(self._lib.ZRSelectTagEPC(self.handle, lead, param1, param2, _input(raw, op), len(raw)), op)

    # ---- Power, RF and frequency

    def power_on(self, value: int) -> None:
        """ZRPowerOn: switches RF power on."""
        _require(self._lib.ZRPowerOn(self.handle, value), "ZRPowerOn")

    def power_off(self) -> None:
        """ZRPowerOff: switches RF power off."""
        _require(self._lib.ZRPowerOff(self.handle), "ZRPowerOff")

    def freq_query(self, address: int, length: int = 0) -> bytes:
        """ZRFreqQuery: the first 54 bytes of the reply (length field, code,
        status and 50 bytes)."""
        out = _output()
        _require(self._lib.ZRFreqQuery(self.handle, address, length, out), "ZRFreqQuery")
        return bytes(out[:54])

    def power_set(self, byte1: int, byte2: int) -> None:
        """ZRPowerSet: sets the two power bytes."""
        _require(self._lib.ZRPowerSet(self.handle, 0, 2, byte1, byte2), "ZRPowerSet")

    def power_query(self, length: int = 2) -> bytes:
        """ZRPowerQuery: `length` (0..52) bytes of the power setting."""
        return self._query(self._lib.ZRPowerQuery, 0, length, 52, "ZRPowerQuery")

    # ---- System and tag parameters

    def sys_query(self, address: int, length: int) -> bytes:
        """ZRSysQuery: `length` (0..52) system parameter bytes from `address`."""
        return self._query(self._lib.ZRSysQuery, address, length, 52, "ZRSysQuery")

    def tag_query(self, address: int, length: int) -> bytes:
        """ZRTagQuery: `length` (0..252) tag parameter bytes from `address`."""
        return self._query(self._lib.ZRTagQuery, address, length, 252, "ZRTagQuery")

    def sys_set(self, address: int, data: BytesLike) -> None:
        """ZRSysSet: writes system parameters one command per byte (serial
        and USB; on TCP it fails with ZR_NOTHING)."""
        self._set(self._lib.ZRSysSet, address, data, 52, "ZRSysSet")

    def sys_fast_set(self, address: int, data: BytesLike) -> None:
        """ZRSysFastSet: writes at most 52 system parameter bytes in one command."""
        self._set(self._lib.ZRSysFastSet, address, data, 52, "ZRSysFastSet")

    def tag_fast_set(self, address: int, data: BytesLike) -> None:
        """ZRTagFastSet: writes at most 251 tag parameter bytes in one command."""
        self._set(self._lib.ZRTagFastSet, address, data, 251, "ZRTagFastSet")

    # ---- I/O, MAC and network address

    def io_control_set(self, value: int, value2: int) -> None:
        """ZRIOControlSet: sets an I/O output."""
        _require(self._lib.ZRIOControlSet(self.handle, value, value2), "ZRIOControlSet")

    def io_control_query(self, value: int) -> int:
        """ZRIOControlQuery: the I/O state byte."""
        out = _output()
        _require(self._lib.ZRIOControlQuery(self.handle, value, out), "ZRIOControlQuery")
        return out[0]

    def mac_set(self, mac: BytesLike) -> None:
        """ZRMACSet: sets the reader's MAC address (at most 52 bytes)."""
        op = "ZRMACSet"
        raw = bytes(mac)
        _require(self._lib.ZRMACSet(self.handle, 0, len(raw), _input(raw, op, limit=52)), op)

    def net_addr_set(self, section: Union[str, bytes], host: str, subnet: str, gate: str) -> None:
        """ZRNetAddrSet: sets the reader's network address and records it
        under `section` of the configuration file opened; every failure is
        ZR_NOTHING (0)."""
        result = self._lib.ZRNetAddrSet(self.handle, 0, _text(section), _text(host), _text(subnet), _text(gate))
        _require(result, "ZRNetAddrSet")

    def code_sending(self, code: BytesLike) -> None:
        """ZRCodeSending: sends the code bytes (1..253) three times; the
        last answer counts."""
        op = "ZRCodeSending"
        raw = bytes(code)
        _require(self._lib.ZRCodeSending(self.handle, len(raw), 0, _input(raw, op, limit=253)), op)

    # ---- Device class, test mode, read configuration, interference

    def get_device_class(self) -> bytes:
        """ZRGetDeviceClass: the four bytes of the reader's answer, in reply order."""
        value = c_int(0)
        _require(self._lib.ZRGetDeviceClass(self.handle, ctypes.byref(value)), "ZRGetDeviceClass")
        return ctypes.string_at(ctypes.addressof(value), 4)

    def set_device_class(self, family_code: int) -> None:
        """ZRSetDeviceClass: process-wide, see the module function set_device_class."""
        _require(self._lib.ZRSetDeviceClass(self.handle, family_code), "ZRSetDeviceClass")

    def test_mode_set(self, value: int) -> None:
        """ZRTestModeSet: sets the test mode (0..4)."""
        _require(self._lib.ZRTestModeSet(self.handle, value), "ZRTestModeSet")

    def set_read_cfg(self, value: int, value2: int) -> None:
        """ZRSetReadCfg: sets the read configuration (value 1..4, value2 1..2)."""
        _require(self._lib.ZRSetReadCfg(self.handle, value, value2), "ZRSetReadCfg")

    def set_interfere(self, setting: BytesLike) -> None:
        """ZRSetInterfere: sets the 2-byte interference setting."""
        op = "ZRSetInterfere"
        _require(self._lib.ZRSetInterfere(self.handle, _input(setting, op, size=2)), op)

    def get_interfere(self) -> bytes:
        """ZRGetInterfere: the 2-byte interference setting."""
        out = _output()
        _require(self._lib.ZRGetInterfere(self.handle, out), "ZRGetInterfere")
        return bytes(out[:2])

    def close_interfere(self) -> None:
        """ZRCloseInterfere: switches the interference setting off."""
        _require(self._lib.ZRCloseInterfere(self.handle), "ZRCloseInterfere")

    # ---- Reader state, clock, fixed number, upgrade, listening

    def epc_print_power_os(self, value: int) -> None:
        """ZREpcPrintPowerOs: sends the one-byte EPC print power setting."""
        _require(self._lib.ZREpcPrintPowerOs(self.handle, value), "ZREpcPrintPowerOs")

    def get_reader_state(self, value: int) -> bytes:
        """ZRGetReaderState: the 6 state bytes."""
        out = _output()
        _require(self._lib.ZRGetReaderState(self.handle, value, out), "ZRGetReaderState")
        return bytes(out[:6])

    def set_reader_time(self, extra: int, time: BytesLike) -> None:
        """ZRSetReaderTime: sets the clock from 6 time bytes (sent in the
        given order) and the extra byte."""
        op = "ZRSetReaderTime"
        _require(self._lib.ZRSetReaderTime(self.handle, extra, _input(time, op, size=6)), op)

    def set_reader_fix_no(self, number: int) -> None:
        """ZRSetReaderfixNO: sets the reader's fixed number (a byte)."""
        _require(self._lib.ZRSetReaderfixNO(self.handle, number), "ZRSetReaderfixNO")

    def get_reader_fix_no(self) -> None:
        """ZRGetReaderfixNO: queries the fixed number and checks only that
        the reader answered with status 0; reader_fix_no() returns it."""
        _require(self._lib.ZRGetReaderfixNO(self.handle, 0), "ZRGetReaderfixNO")

    def reader_fix_no(self) -> bytes:
        """ZRGetReaderfixNOEx: the bytes of the reader's fixed number."""
        out = _output()
        length = c_int(0)
        op = "ZRGetReaderfixNOEx"
        _require(self._lib.ZRGetReaderfixNOEx(self.handle, out, len(out), ctypes.byref(length)), op)
        return bytes(out[: max(0, min(length.value, len(out)))])

    def up_grade(self) -> int:
        """ZRUpGrade: sends the upgrade command, reading no reply; the send count."""
        return _sent(self._lib.ZRUpGrade(self.handle), "ZRUpGrade")

    def listen_reader(self) -> Optional[ListenMessage]:
        """ZRListenReader: one message the reader sent on its own, or None
        when no acceptable one arrived. The message is answered either way."""
        info, first, second = _output(), _output(), _output()
        if not _report(self._lib.ZRListenReader(self.handle, 0, info, first, second), "ZRListenReader"):
            return None
        return ListenMessage(bytes(info[:6]), bytes(first[:8]), bytes(second[:8]))

    # ---- EAS alarm and EU tests

    def config_eas_flag(self, value: int, flag: BytesLike, tail: int) -> None:
        """ZRConfigEASflag: configures the EAS flag from 4 bytes."""
        op = "ZRConfigEASflag"
        _require(self._lib.ZRConfigEASflag(self.handle, value, _input(flag, op, size=4), tail), op)

    def start_eas_alarm(self, value: int) -> int:
        """ZRStartEASAlarm: 1, or the send count when the reader's reply
        carried no status."""
        result = self._lib.ZRStartEASAlarm(self.handle, value)
        if result <= 0 or result > 258:  # send counts stay below 259; above are reader statuses
            raise ZRError(result, "ZRStartEASAlarm")
        return result

    def eas_alarm_report(self) -> bool:
        """ZREASAlarmReport: True when an alarm message with status 0 was waiting."""
        return _report(self._lib.ZREASAlarmReport(self.handle), "ZREASAlarmReport")

    def end_eas_alarm(self, value: int) -> None:
        """ZREndEASAlarm: ends the EAS alarm."""
        _require(self._lib.ZREndEASAlarm(self.handle, value), "ZREndEASAlarm")

    def eu_door_test(self, value: int, length: int, mode: int) -> bytes:
        """ZREUDoorTest: runs the EU door test; `length` (0..52) reply data bytes."""
        return self._query(
            lambda port, v, n, out: self._lib.ZREUDoorTest(port, v, n, mode, out), value, length, 52, "ZREUDoorTest"
        )

    def eu_freq_test(self, value: int, data: BytesLike) -> None:
        """ZREUFreqTest: runs the EU frequency test with at most 52 data bytes."""
        op = "ZREUFreqTest"
        raw = bytes(data)
        _require(self._lib.ZREUFreqTest(self.handle, value, len(raw), _input(raw, op, limit=52)), op)

    # ---- Tag and time filters

    def set_tag_filter(self, first: BytesLike, second: BytesLike) -> None:
        """ZRSetTagFilter: sets the tag filter from two 12-byte fields."""
        op = "ZRSetTagFilter"
        _require(self._lib.ZRSetTagFilter(self.handle, _input(first, op, size=12), _input(second, op, size=12)), op)

    def cancel_tag_filter(self) -> None:
        """ZRCancelTagFilter: cancels the tag filter."""
        _require(self._lib.ZRCancelTagFilter(self.handle), "ZRCancelTagFilter")

    def set_time_filter(self, time: BytesLike) -> None:
        """ZRSetTimeFilter: sets the time filter from 2 bytes."""
        op = "ZRSetTimeFilter"
        _require(self._lib.ZRSetTimeFilter(self.handle, _input(time, op, size=2)), op)

    def cancel_time_filter(self) -> None:
        """ZRCancelTimeFilter: cancels the time filter."""
        _require(self._lib.ZRCancelTimeFilter(self.handle), "ZRCancelTimeFilter")

    # ---- Shared shapes

    def _status_and_data(self, function, operation: str) -> Optional[bytes]:
        """A report whose output is the status byte and data: the reply's
        length field - 1 bytes (ZRLastReplyLength)."""
        out = _output()
        if not _report(function(self.handle, out), operation):
            return None
        length = self._lib.ZRLastReplyLength()
        return bytes(out[: length - 1]) if 1 <= length <= _BUFFER else b""

    def _packet_report(self, function, operation: str) -> Optional[bytes]:
        out = _output()
        if not _report(function(self.handle, out), operation):
            return None
        return _whole_packet(out)

    def _read(self, function, lead: int, address: int, count: int, tag_id: BytesLike, operation: str) -> bytes:
        _count(count, 0, 255, operation)
        out = _output(count)
        _require(function(self.handle, lead, address, count, _input(tag_id, operation, size=8), out), operation)
        return bytes(out[:count])

    def _write(self, function, lead: int, address: int, tag_id: BytesLike, data: BytesLike, operation: str) -> None:
        raw = bytes(data)
        array = _input(raw, operation)
        _require(function(self.handle, lead, address, _input(tag_id, operation, size=8), array, len(raw)), operation)

    def _query(self, function, address: int, length: int, limit: int, operation: str) -> bytes:
        _count(length, 0, limit, operation)
        out = _output(length)
        _require(function(self.handle, address, length, out), operation)
        return bytes(out[:length])

    def _set(self, function, address: int, data: BytesLike, limit: int, operation: str) -> None:
        raw = bytes(data)
        _require(function(self.handle, address, len(raw), _input(raw, operation, limit=limit)), operation)
