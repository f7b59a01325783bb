"""Every Reader method against the simulated reader over TCP, each checked
by what it changed in the reader or by what it read back.

A wrapper that passes its arguments in the wrong order, drops one or reads
its output at the wrong offset fails here even where the C export is right.
"""

from __future__ import annotations

import inspect
import re
import time
import unittest
from typing import Callable, Optional, TypeVar

import zrreader
from zrreader import Reader, ZRError

from simulator import Simulator, temporary_folder

T = TypeVar("T")

FIRST = bytes.fromhex("0102030405060708")
SECOND = bytes.fromhex("1112131415161718")
FIRST_EPC = bytes.fromhex("300011112222333344445555")
SECOND_EPC = bytes.fromhex("3000999988887777")
FIRST_TID = bytes.fromhex("E2003412AABBCCDD")
FIRST_USER = bytes(range(0x40, 0x80))
SECOND_ACCESS = bytes.fromhex("11223344")
TAGS = (
    f"id={FIRST.hex()} epc={FIRST_EPC.hex()} tid={FIRST_TID.hex()} destroy=0BADBEEF user={FIRST_USER.hex()}\n"
    f"id={SECOND.hex()} epc={SECOND_EPC.hex()} access={SECOND_ACCESS.hex()}\n"
)
NO_PASSWORD = bytes(4)

# The user inventory reports this many user memory bytes from this address
# of every tag (the configuration's especial address and length).
ESPECIAL_ADDRESS = 4
ESPECIAL_LENGTH = 3


def collect_all(report: Callable[[], Optional[T]], wanted: int) -> list:
    """Calls a report method until `wanted` reports came or a second passed:
    the reader pushes its reports a moment after the start command."""
    got: list = []
    deadline = time.monotonic() + 1.0
    while len(got) < wanted and time.monotonic() < deadline:
        one = report()
        if one is None:
            time.sleep(0.005)
        else:
            got.append(one)
    return got


class EveryMethod(unittest.TestCase):
    def setUp(self) -> None:
        folder = temporary_folder(self)
        self.sim = Simulator(["tcp"], TAGS, folder)
        self.sim.start()
        self.addCleanup(self.sim.stop)
        self.config = self.sim.config("tcp")
        with open(self.config) as f:
            text = f.read()
        text = text.replace("ZR_ADDERIESS=0", f"ZR_ADDERIESS={ESPECIAL_ADDRESS}")
        text = text.replace("ZR_LENGTH=0", f"ZR_LENGTH={ESPECIAL_LENGTH}")
        with open(self.config, "w") as f:
            f.write(text)
        self.reader = Reader(self.config, "READER")
        self.addCleanup(self.reader.close)  # runs before sim.stop
        zrreader.set_device_class(800)

    def state(self, key: str) -> str:
        return self.sim.state()[key]

    def assertRaisesCode(self, code: int, call: Callable[[], object]) -> None:
        with self.assertRaises(ZRError) as caught:
            call()
        self.assertEqual(caught.exception.code, code)

    # ---- Inventories: every start method and its report method

    def test_inventories_report_what_the_field_holds(self) -> None:
        r = self.reader
        self.assertEqual(r.identify(0, 0), 7)  # the packet and its CRC
        self.assertEqual(collect_all(r.report, 2), [b"\0" + FIRST, b"\0" + SECOND])

        self.assertEqual(r.direct_read(2, 5), 7)  # from address 2, 5 bytes
        reports = collect_all(r.direct_report, 2)
        self.assertEqual(reports[0], b"\0" + FIRST + FIRST_USER[2:7])
        self.assertEqual(reports[1], b"\0" + SECOND + bytes(5))

        self.assertGreater(r.long_identify(0, 0, 0), 0)
        self.assertEqual(
            collect_all(r.long_report, 2),
            [b"\0" + FIRST + bytes([len(FIRST_EPC)]) + FIRST_EPC, b"\0" + SECOND + bytes([len(SECOND_EPC)]) + SECOND_EPC],
        )

        self.assertGreater(r.user_identify(0, 0, 0, 0, 0, 0), 0)
        first = FIRST_USER[ESPECIAL_ADDRESS : ESPECIAL_ADDRESS + ESPECIAL_LENGTH]
        self.assertEqual(
            collect_all(r.user_report, 2), [b"\0" + FIRST + first, b"\0" + SECOND + bytes(ESPECIAL_LENGTH)]
        )

        # The EPC and TID reports are whole packets: length field, code, status.
        self.assertGreater(r.identify_epc_code(0, 0, 0), 0)
        epc = collect_all(r.epc_code_report, 2)
        self.assertEqual(epc[0], bytes([0, 3 + len(FIRST_EPC), 0x81, 0, len(FIRST_EPC)]) + FIRST_EPC)
        self.assertEqual(epc[1][4:], bytes([len(SECOND_EPC)]) + SECOND_EPC)

        self.assertGreater(r.identify_tid_code(0, 0, 0, b"\0\0\0\0"), 0)
        tid = collect_all(r.tid_code_report, 2)
        self.assertEqual(tid[0], bytes([0, 3 + len(FIRST_TID), 0x82, 0, len(FIRST_TID)]) + FIRST_TID)
        self.assertEqual(tid[1][2:5], bytes([0x82, 0, 0]))  # the second tag has no TID
        self.assertIsNone(r.report())

    def test_reset_clears_the_selection(self) -> None:
        self.reader.select_tag(0, 0, 0, SECOND)
        self.assertEqual(self.state("selected"), "1")
        self.assertGreater(self.reader.reset(), 0)
        deadline = time.monotonic() + 1
        while self.state("selected") != "-1" and time.monotonic() < deadline:
            time.sleep(0.01)
        self.assertEqual(self.state("selected"), "-1")

    # ---- Tag memory

    def test_tag_memory_reads_writes_and_locks(self) -> None:
        r = self.reader
        self.assertEqual(r.read_user_data(0, 10, 6, FIRST), FIRST_USER[10:16])
        self.assertEqual(r.read_user_data_once(0, 0, 4, FIRST), FIRST_USER[:4])
        r.write_user_data(0, 8, SECOND, b"\xA1\xA2\xA3")
        r.write_user_data_once(0, 40, SECOND, b"\xB1\xB2")
        self.assertEqual(r.read_user_data_once(0, 8, 3, SECOND), b"\xA1\xA2\xA3")
        self.assertEqual(r.read_user_data(0, 40, 2, SECOND), b"\xB1\xB2")
        r.lock_user_data(40, 0, SECOND, 2)  # address first, then lead
        self.assertRaisesCode(1012, lambda: r.write_user_data_once(0, 41, SECOND, b"\x00"))
        r.write_user_data_once(0, 42, SECOND, b"\x00")  # just past the locked bytes
        # The word read: length field, code, status, lead byte, then the words.
        reply = r.read_user_data_epc(NO_PASSWORD, 1, 2, 0x33)
        self.assertEqual(len(reply), 9)
        self.assertEqual(reply[2:4], b"\x84\x00")
        self.assertEqual(reply[4], 0x33)
        self.assertEqual(reply[5:], FIRST_USER[2:6])

    # ---- EPC code and use data

    def test_epc_code_and_use_data(self) -> None:
        r = self.reader
        new_epc = bytes.fromhex("3000ABCDEF01")
        r.set_epc_code(0, NO_PASSWORD, len(new_epc), new_epc)
        self.assertIn(f"epc={new_epc.hex().upper()}", self.sim.control("tags")[0])
        r.set_use_data(0, NO_PASSWORD, 3, b"\xC1\xC2\xC3\xC4")  # word 3 is byte 6
        self.assertEqual(r.read_user_data_once(0, 6, 4, FIRST), b"\xC1\xC2\xC3\xC4")
        self.assertGreater(r.get_use_data(NO_PASSWORD, 3, 2, 0), 0)
        reply = None
        deadline = time.monotonic() + 1
        while reply is None and time.monotonic() < deadline:
            try:
                reply = r.get_use_data_report()
            except ZRError as error:
                self.assertEqual(error.code, zrreader.ZR_ERR_NO_REPLY)
                time.sleep(0.005)
        self.assertIsNotNone(reply)
        self.assertEqual(reply[2:4], b"\x84\x00")
        self.assertEqual(reply[-4:], b"\xC1\xC2\xC3\xC4")

    # ---- Passwords, locking and destruction (on the first live tag, or the selected one)

    def test_passwords_locks_and_destruction(self) -> None:
        r = self.reader
        r.set_visit_password(0, NO_PASSWORD, b"\x0A\x0B\x0C\x0D")
        self.assertRaisesCode(1011, lambda: r.set_visit_password(0, NO_PASSWORD, NO_PASSWORD))
        access = b"\x0A\x0B\x0C\x0D"
        r.set_destroy_password(0, access, b"\x00\x00\x00\x07")
        r.set_data_locked(0, access, 1, 4)  # lock the user memory
        self.assertRaisesCode(1012, lambda: r.write_user_data_once(0, 20, FIRST, b"\x01"))
        r.set_data_locked(0, access, 0, 4)
        r.write_user_data_once(0, 20, FIRST, b"\x01")
        self.assertRaisesCode(1011, lambda: r.set_destroy_tag(0, NO_PASSWORD))  # not the destroy password
        r.set_destroy_tag(0, b"\x00\x00\x00\x07")
        self.assertIn("destroyed", self.sim.control("tags")[0])
        self.assertRaisesCode(1010, lambda: r.read_user_data_once(0, 0, 1, FIRST))

    # ---- Selection and data return

    def test_selection_and_data_return(self) -> None:
        r = self.reader
        r.select_tag(0, 0, 0, SECOND)
        self.assertEqual(self.state("selected"), "1")
        r.select_tag_epc(0, 0, 0, FIRST_EPC[:4])
        self.assertEqual(self.state("selected"), "0")
        self.assertRaisesCode(1010, lambda: r.select_tag_epc(0, 0, 0, b"\x99\x99"))
        r.select_tag_epc(0, 0, 0, b"")
        self.assertEqual(self.state("selected"), "-1")
        r.data_return(0, 3)
        self.assertRaisesCode(zrreader.ZR_ERR_ARGUMENT, lambda: r.data_return(0, 5))  # never sent

    # ---- Power, RF and parameters

    def test_power_rf_and_parameters(self) -> None:
        r = self.reader
        r.power_off()
        self.assertEqual(self.state("rf"), "off")
        self.assertRaisesCode(2003, lambda: r.read_user_data_once(0, 0, 1, FIRST))
        r.power_on(1)
        self.assertEqual(self.state("rf"), "on")
        r.power_set(0x11, 0x12)
        self.assertEqual(r.power_query(), b"\x11\x12")
        self.assertEqual(r.freq_query(3)[4:6], b"\x11\x12")
        r.sys_fast_set(0x40, b"\x01\x02")
        self.assertEqual(r.sys_query(0x40, 3), b"\x01\x02\x00")
        self.assertRaisesCode(zrreader.ZR_NOTHING, lambda: r.sys_set(0x40, b"\x05"))  # not over TCP
        r.tag_fast_set(0x10, b"\x0A\x0B\x0C")
        self.assertEqual(r.tag_query(0x10, 3), b"\x0A\x0B\x0C")

    def test_io_mac_network_address_and_code(self) -> None:
        r = self.reader
        r.io_control_set(2, 1)
        self.assertEqual(self.state("outputs"), "04")
        self.assertEqual(r.io_control_query(0), 0x04)
        self.sim.control("inputs 5A")
        self.assertEqual(r.io_control_query(1), 0x5A)
        r.mac_set(b"\x02\x00\x00\x00\x00\x09")
        self.assertEqual(r.sys_query(5, 6), b"\x02\x00\x00\x00\x00\x09")
        r.net_addr_set("RECORDED", "192.168.7.9", "255.255.0.0", "192.168.7.1")
        self.assertEqual(r.sys_query(6, 12), bytes([192, 168, 7, 9, 255, 255, 0, 0, 192, 168, 7, 1]))
        with open(self.config) as f:
            self.assertRegex(f.read(), re.compile(r"\[RECORDED\][^\[]*192\.168\.7\.9", re.S))
        r.code_sending(b"\x01\x02\x03")  # the reader answers each of the three sendings

    def test_device_class_modes_and_interference(self) -> None:
        r = self.reader
        self.assertEqual(r.get_device_class(), b"\x03\x00\x00\x00")
        r.set_device_class(800)  # process-wide; the same as the module function
        r.test_mode_set(2)
        self.assertEqual(self.state("testmode"), "2")
        self.assertRaisesCode(zrreader.ZR_ERR_ARGUMENT, lambda: r.test_mode_set(9))  # never sent
        r.set_read_cfg(4, 1)  # value 1..4, value2 1..2: swapped, it would be refused
        self.assertRaisesCode(zrreader.ZR_ERR_ARGUMENT, lambda: r.set_read_cfg(7, 1))
        r.set_interfere(b"\x21\x22")
        self.assertEqual(r.get_interfere(), b"\x21\x22")
        r.close_interfere()
        state = r.get_reader_state(1)  # RF, test mode, class, alarm, interference, live tags
        self.assertEqual(state[4], 0)
        self.assertEqual(state[1], 2)

    # ---- Reader state, clock, fixed number, upgrade, listening

    def test_clock_fixed_number_upgrade_and_listening(self) -> None:
        r = self.reader
        r.epc_print_power_os(0x21)
        r.set_reader_time(0, bytes([26, 12, 8, 10, 20, 30]))
        clock = r.get_reader_state(0)
        self.assertEqual(clock[:5], bytes([26, 12, 8, 10, 20]))
        self.assertIn(clock[5], range(30, 33))  # the clock runs on
        self.assertRaisesCode(1014, lambda: r.get_reader_state(7))
        r.set_reader_fix_no(0x44)
        r.get_reader_fix_no()
        self.assertEqual(r.reader_fix_no()[0], 0x44)
        self.assertGreater(r.up_grade(), 0)
        self.assertIsNone(r.listen_reader())  # nothing sent on its own yet: answered with a refusal
        self.sim.control("listen")
        message = None
        deadline = time.monotonic() + 1
        while message is None and time.monotonic() < deadline:
            message = r.listen_reader()
        self.assertIsNotNone(message)
        self.assertEqual(message.first[0], 0x44)  # the fixed number leads
        self.assertEqual(message.first[2:], FIRST[:6])  # then the sequence number, the first tag
        self.assertEqual(message.second[2:], message.info)  # the clock, in both
        self.assertEqual(self.state("acks"), "1/1/0")  # accepted, and the empty call refused

    # ---- EAS alarm, EU tests and filters

    def test_eas_alarm_and_eu_tests(self) -> None:
        r = self.reader
        r.config_eas_flag(1, b"\x01\x02\x03\x04", 0)
        self.sim.control("alarm-interval 20")
        self.assertGreater(r.start_eas_alarm(1), 0)
        self.assertEqual(self.state("alarm"), "on")
        alarms = collect_all(lambda: True if r.eas_alarm_report() else None, 1)
        self.assertEqual(alarms, [True])
        r.end_eas_alarm(0)
        self.assertEqual(self.state("alarm"), "off")
        r.eu_freq_test(1, b"\x0E\x0F\x10")
        self.assertEqual(r.eu_door_test(1, 4, 0), b"\x0E\x0F\x10\x00")

    def test_filters(self) -> None:
        r = self.reader
        mask = bytes([0xFF, 0xFF, 0xFF]) + bytes(9)
        r.set_tag_filter(SECOND_EPC[:3] + bytes(9), mask)
        self.assertEqual(self.state("tagfilter"), "on")
        r.identify(0, 0)
        self.assertEqual(collect_all(r.report, 2), [b"\0" + SECOND])
        r.cancel_tag_filter()
        self.assertEqual(self.state("tagfilter"), "off")
        r.set_time_filter(b"\x00\x32")
        self.assertEqual(self.state("timefilter"), "50")
        r.cancel_time_filter()
        self.assertEqual(self.state("timefilter"), "off")


class EveryMethodIsCalledHere(unittest.TestCase):
    def test_no_public_method_is_left_out(self) -> None:
        source = inspect.getsource(EveryMethod)
        public = [name for name, _ in inspect.getmembers(Reader, inspect.isfunction) if not name.startswith("_")]
        skipped = {"close"}  # every case closes its reader
        missing = [name for name in public if name not in skipped and not re.search(rf"\.{name}\b", source)]
        self.assertEqual(missing, [])


if __name__ == "__main__":
    unittest.main()
