"""The Reader against the simulated reader over TCP, serial and USB."""

from __future__ import annotations

import os
import time
import unittest
from typing import Callable, Optional, TypeVar

import zrreader
from zrreader import Reader, ZRError

from simulator import Simulator, temporary_folder

T = TypeVar("T")

TAG_IDS = [bytes.fromhex(h) for h in ("E200341201020304", "E200341201020305", "E2003412010203FF")]
USER = [bytes(range(i * 16, i * 16 + 32)) for i in range(3)]
TAGS = "".join(
    f"id={tag_id.hex()} epc=3000{i:02X}11 user={user.hex()}\n" for i, (tag_id, user) in enumerate(zip(TAG_IDS, USER))
)


def collect(report: Callable[[], Optional[T]], tries: int = 200) -> Optional[T]:
    """Calls a report method until it gives something: reports arrive a
    moment after the start command went out."""
    for _ in range(tries):
        got = report()
        if got is not None:
            return got
        time.sleep(0.005)
    return None


class ReaderOverLink:
    """The cases, run once per link by the subclasses below."""

    link = ""

    def setUp(self) -> None:
        folder = temporary_folder(self)
        self.sim = Simulator([self.link], TAGS, folder)
        self.sim.start()
        self.addCleanup(self.sim.stop)
        if self.link == "usb":
            previous = os.environ.get("ZR_USB_DIR")
            os.environ["ZR_USB_DIR"] = self.sim.usb_folder
            self.addCleanup(self._restore_usb_dir, previous)
        self.config = self.sim.config(self.link)
        self.reader = Reader(self.config, "READER")
        self.addCleanup(self.reader.close)  # runs before sim.stop
        zrreader.set_device_class(800)

    @staticmethod
    def _restore_usb_dir(previous: Optional[str]) -> None:
        if previous is None:
            os.environ.pop("ZR_USB_DIR", None)
        else:
            os.environ["ZR_USB_DIR"] = previous

    def sent_count(self, packet_length: int) -> int:
        return packet_length if self.link == "serial" else packet_length + 2

    def test_inventory_reports_every_tag_then_reads_its_memory(self) -> None:
        self.assertEqual(self.reader.identify(0, 0), self.sent_count(5))
        reports = [collect(self.reader.report) for _ in TAG_IDS]
        # Status byte and the tag ID: sized by the reply's length field.
        self.assertEqual(reports, [b"\x00" + tag_id for tag_id in TAG_IDS])
        self.assertIsNone(self.reader.report())
        first = reports[0][1:9]
        self.assertEqual(self.reader.read_user_data(0, 0, 32, first), USER[0])
        self.assertEqual(self.reader.read_user_data(0, 4, 3, TAG_IDS[2]), USER[2][4:7])

    def test_written_user_memory_reads_back(self) -> None:
        data = bytes(0xC0 + i for i in range(40))
        self.reader.write_user_data(0, 16, TAG_IDS[1], data)
        self.assertEqual(self.reader.read_user_data(0, 16, 40, TAG_IDS[1]), data)
        self.reader.write_user_data_once(0, 100, TAG_IDS[1], bytearray(b"\x12\x34"))
        self.assertEqual(self.reader.read_user_data_once(0, 100, 2, TAG_IDS[1]), b"\x12\x34")
        self.assertEqual(self.reader.read_user_data(0, 0, 16, TAG_IDS[1]), USER[1][:16])

    def test_power_set_then_queried(self) -> None:
        self.reader.power_set(0x15, 0x16)
        self.assertEqual(self.reader.power_query(), b"\x15\x16")
        self.assertEqual(self.sim.state()["power"], "1516")
        block = self.reader.freq_query(3)
        self.assertEqual(len(block), 54)
        self.assertEqual(block[2:6], b"\x62\x00\x15\x16")
        self.reader.power_off()
        self.assertEqual(self.sim.state()["rf"], "off")

    def test_reader_status_raises_with_code_name_and_text(self) -> None:
        unknown = b"\xee" * 8
        with self.assertRaises(ZRError) as caught:
            self.reader.read_user_data_once(0, 0, 4, unknown)
        error = caught.exception
        self.assertEqual(error.code, 1010)  # status 0x11: no such tag
        self.assertEqual(error.name, "status 0x11")
        self.assertEqual(error.reader_status, 0x11)
        self.assertEqual(error.operation, "ZRReadUserDataOnce")
        self.assertEqual(error.text, zrreader.result_text(1010))
        self.assertTrue(error.text)
        self.assertIn("ZRReadUserDataOnce: status 0x11 (1010): " + error.text, str(error))

    def test_missing_reply_raises_no_reply(self) -> None:
        self.sim.control("fault 0x62:drop:times=1")
        with self.assertRaises(ZRError) as caught:
            self.reader.power_query()
        self.assertEqual((caught.exception.code, caught.exception.name), (-4, "ZR_ERR_NO_REPLY"))
        self.assertEqual(self.reader.power_query(), self.reader.power_query())  # the fault was spent

    def test_wrong_sized_fields_are_refused_before_sending(self) -> None:
        before = self.sim.control("state")
        for call in (
            lambda: self.reader.read_user_data(0, 0, 4, b"\x01" * 7),
            lambda: self.reader.set_visit_password(0, b"\0" * 4, b"\0" * 5),
            lambda: self.reader.set_use_data(0, b"\0" * 4, 0, b"\x01\x02\x03"),
            lambda: self.reader.power_query(53),
            lambda: self.reader.sys_fast_set(0x40, bytes(53)),
        ):
            with self.assertRaises(ZRError) as caught:
                call()
            self.assertEqual(caught.exception.code, zrreader.ZR_ERR_LENGTH)
        self.assertEqual(self.sim.control("state"), before)

    def test_fixed_number_and_parameters_round_trip(self) -> None:
        self.reader.set_reader_fix_no(0x5A)
        self.reader.get_reader_fix_no()
        self.assertEqual(self.reader.reader_fix_no()[0], 0x5A)  # the reader pads its reply
        self.reader.sys_fast_set(0x40, b"\x07\x08\x09")
        self.assertEqual(self.reader.sys_query(0x40, 3), b"\x07\x08\x09")
        self.assertEqual(self.reader.get_device_class()[0], 3)

    def test_trace_handler_sees_the_packets(self) -> None:
        seen = []
        zrreader.set_trace_handler(lambda sent, link, packet: seen.append((sent, link, packet)))
        try:
            power = self.reader.power_query()
        finally:
            zrreader.set_trace_handler(None)
        link = {"tcp": "TCP", "serial": "Serial", "usb": "USB"}[self.link]
        self.assertIn((True, link), [(s, l) for s, l, _ in seen])
        sent = [packet for s, _, packet in seen if s]
        self.assertEqual(sent[0][:5], bytes([0x00, 0x03, 0x62, 0x03, 0x00]))  # then the CRC
        received = [packet for s, _, packet in seen if not s]
        self.assertEqual(received[-1][2:6], b"\x62\x00" + power)  # code, status, the two bytes
        count = len(seen)
        self.reader.power_query()
        self.assertEqual(len(seen), count)  # turned off

    def test_context_manager_closes(self) -> None:
        self.reader.close()  # a serial line takes one reader at a time
        with Reader(self.config, "READER") as second:
            self.assertFalse(second.closed)
            self.assertGreaterEqual(second.handle, 0)
            second.power_query()
        self.assertTrue(second.closed)
        self.assertEqual(second.handle, -1)
        with self.assertRaises(ZRError) as caught:
            second.power_query()
        self.assertEqual((caught.exception.code, caught.exception.name), (-1, "ZR_CLOSED"))
        second.close()  # a second close does nothing

    def test_context_manager_closes_when_the_block_raises(self) -> None:
        self.reader.close()
        with self.assertRaises(KeyError):
            with Reader(self.config, "READER") as second:
                raise KeyError("from the block")
        self.assertTrue(second.closed)


class TcpReader(ReaderOverLink, unittest.TestCase):
    link = "tcp"

    def test_a_failed_close_keeps_the_handle_for_another_try(self) -> None:
        # An open naming an unknown port type replaces the process-wide
        # settings, and ZRClose then refuses with 0, leaving the link open.
        unknown = os.path.join(self.sim.folder, "unknown.ini")
        with open(unknown, "w") as f:
            f.write("[READER]\nZR_PORT_TYPE=tcp\nZR_COM_NUMBER=x\nZR_HOST_NAME=x\n")
        with self.assertRaises(ZRError):
            Reader(unknown, "READER")
        handle = self.reader.handle
        with self.assertRaises(ZRError) as caught:
            self.reader.close()
        self.assertEqual(caught.exception.code, zrreader.ZR_NOTHING)
        self.assertEqual((self.reader.closed, self.reader.handle), (False, handle))
        with Reader(self.config, "READER"):  # the TCP settings again
            self.reader.close()
        self.assertTrue(self.reader.closed)


class SerialReader(ReaderOverLink, unittest.TestCase):
    link = "serial"


class UsbReader(ReaderOverLink, unittest.TestCase):
    link = "usb"


class OpenFailures(unittest.TestCase):
    def test_failed_open_raises_with_the_open_result(self) -> None:
        folder = temporary_folder(self)
        cases = [
            ("ZR_PORT_TYPE=\nZR_COM_NUMBER=x\nZR_HOST_NAME=127.0.0.1\n", -11, "ZR_ERR_CONFIG"),
            ("ZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + folder + "/no-such-tty\nZR_HOST_NAME=x\n", -13, "ZR_ERR_OPEN"),
            ("ZR_PORT_TYPE=tcp\nZR_COM_NUMBER=x\nZR_HOST_NAME=x\n", 0, "ZR_NOTHING"),
        ]
        for body, code, name in cases:
            with self.subTest(name=name):
                path = os.path.join(folder, "reader.ini")
                with open(path, "w") as f:
                    f.write("[READER]\n" + body)
                with self.assertRaises(ZRError) as caught:
                    Reader(path, "READER")
                self.assertEqual((caught.exception.code, caught.exception.name), (code, name))
                self.assertEqual(caught.exception.operation, "ZROpen")


if __name__ == "__main__":
    unittest.main()
