"""Starts and stops zrsim, the simulated reader, for the binding's tests.

The zrsim executable is taken from the environment variable ZRSIM, else
from the PATH; tests that need it are skipped when neither has it.
"""

from __future__ import annotations

import os
import queue
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest
from typing import Dict, List, Optional

READER_PORT = 7086  # the library always reaches a reader on this TCP port


def zrsim_path() -> str:
    path = os.environ.get("ZRSIM") or shutil.which("zrsim")
    if not path or not os.access(path, os.X_OK):
        raise unittest.SkipTest("zrsim not found: set ZRSIM to the simulator's path")
    return path


def free_loopback_address(first: int) -> str:
    """A 127.0.0.N address (N from `first` on) on which the reader port is
    free right now."""
    for offset in range(200):
        address = f"127.0.0.{2 + (first + offset) % 250}"
        probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            probe.bind((address, READER_PORT))
            return address
        except OSError:
            continue
        finally:
            probe.close()
    raise RuntimeError("no free loopback address for the simulated reader")


class Simulator:
    """One zrsim process serving one reader on the links asked for.

    `tags` is the text of a tag file (one tag per line of key=hex fields).
    The control channel is the process's standard input; control() sends a
    line and returns the answer lines.
    """

    def __init__(self, links: List[str], tags: str, folder: str, extra: Optional[List[str]] = None) -> None:
        self.links = links
        self.folder = folder
        self.tag_file = os.path.join(folder, "tags.txt")
        with open(self.tag_file, "w") as f:
            f.write(tags)
        self.extra = list(extra or [])
        self.tcp_address: Optional[str] = None
        self.serial_path: Optional[str] = None
        self.usb_folder: Optional[str] = None
        self._process: Optional[subprocess.Popen] = None
        self._lines: "queue.Queue[Optional[str]]" = queue.Queue()

    def start(self) -> None:
        first = os.getpid()
        for _ in range(5):  # the address may be taken between the probe and zrsim's bind
            args = [zrsim_path(), "--tag-file", self.tag_file, "--stdin"] + self.extra
            if "tcp" in self.links:
                self.tcp_address = free_loopback_address(first)
                args += ["--tcp", self.tcp_address]
            if "serial" in self.links:
                args += ["--pty"]
            if "usb" in self.links:
                self.usb_folder = os.path.join(self.folder, "usb")
                args += ["--usb", self.usb_folder]
            if self._launch(args):
                return
            first += 7
        raise RuntimeError("zrsim did not start")

    def _launch(self, args: List[str]) -> bool:
        self._process = subprocess.Popen(
            args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, bufsize=1
        )
        self._lines = queue.Queue()
        threading.Thread(target=self._pump, args=(self._process, self._lines), daemon=True).start()
        while True:
            line = self._next_line(10)
            if line is None:
                self._reap()
                return False
            if line.startswith("zrsim: serial "):
                self.serial_path = line.split()[2]
            if line.startswith("zrsim: ready"):
                return True

    @staticmethod
    def _pump(process: subprocess.Popen, lines: "queue.Queue[Optional[str]]") -> None:
        for line in process.stdout:
            lines.put(line.rstrip("\n"))
        lines.put(None)

    def _next_line(self, timeout: float) -> Optional[str]:
        try:
            return self._lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def control(self, line: str) -> List[str]:
        """Sends one control line; the answer lines, the last "ok ..." or "error ..."."""
        assert self._process is not None and self._process.stdin is not None
        self._process.stdin.write(line + "\n")
        self._process.stdin.flush()
        answer: List[str] = []
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            got = self._next_line(deadline - time.monotonic())
            if got is None:
                break
            answer.append(got)
            if got.startswith("ok") or got.startswith("error"):
                return answer
        raise RuntimeError(f"zrsim gave no answer to {line!r}: {answer}")

    def state(self) -> Dict[str, str]:
        """The reader's state line ("ok rf=on power=1516 ...") as a dict."""
        words = self.control("state")[-1].split()[1:]
        return dict(word.split("=", 1) for word in words)

    def stop(self) -> None:
        if self._process is None:
            return
        # "quit" on the control channel rather than SIGTERM: zrsim's signal
        # path can hang at exit now and then.
        if self._process.poll() is None:
            try:
                self.control("quit")
            except (OSError, RuntimeError):
                pass
        self._reap()

    def _reap(self) -> None:
        process, self._process = self._process, None
        if process is None:
            return
        for ending in (None, process.terminate, process.kill):
            if ending is not None:
                ending()
            try:
                process.wait(timeout=3)
                break
            except subprocess.TimeoutExpired:
                continue
        for stream in (process.stdin, process.stdout, process.stderr):
            if stream:
                try:
                    stream.close()
                except OSError:
                    pass

    def config(self, link: str, section: str = "READER") -> str:
        """Writes a configuration file that reaches this simulator over
        `link` ("tcp", "serial" or "usb"); its path."""
        port_type = {"tcp": "TCP", "serial": "COM", "usb": "USB"}[link]
        path = os.path.join(self.folder, f"reader-{link}.ini")
        with open(path, "w") as f:
            f.write(
                f"[{section}]\n"
                f"ZR_PORT_TYPE={port_type}\n"
                f"ZR_COM_NUMBER={self.serial_path or 'none'}\n"
                f"ZR_HOST_NAME={self.tcp_address or '127.0.0.1'}\n"
                "ZR_BaudRate=115200\nZR_READ_TRIES=20\nZR_WRITE_TRIES=50\nZR_SCAN_TRIES=3\n"
                "[ESPECIAL FLAG]\nZR_ADDERIESS=0\nZR_LENGTH=0\n"
            )
        return path


def temporary_folder(test: unittest.TestCase) -> str:
    """A temporary folder removed when `test` ends."""
    folder = tempfile.mkdtemp(prefix="zrreader-py-")
    test.addCleanup(shutil.rmtree, folder, True)
    return folder
