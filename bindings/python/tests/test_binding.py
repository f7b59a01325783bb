"""The binding's declarations and result names, without a reader."""

from __future__ import annotations

import ctypes
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import zrreader
from zrreader import ZRError, _library

HEADER = os.path.join(os.path.dirname(__file__), "..", "..", "..", "include", "zrreader.h")

# C parameter types of zrreader.h and the ctypes type each must be declared as.
C_TYPES = {
    "int": ctypes.c_int,
    "int *": ctypes.POINTER(ctypes.c_int),
    "unsigned char *": ctypes.POINTER(ctypes.c_ubyte),
    "const unsigned char *": ctypes.POINTER(ctypes.c_ubyte),
    "const char *": ctypes.c_char_p,
    "void *": ctypes.c_void_p,
    "ZRTraceCallback": _library.TRACE_CALLBACK,
}


def header_exports():
    """(name, return type, [parameter types]) of every export in zrreader.h."""
    with open(HEADER) as f:
        text = re.sub(r"/\*.*?\*/", " ", f.read(), flags=re.S)
    pattern = re.compile(r"ZR_API\s+(.+?)\s*ZR_CALL\s+(ZR\w+)\s*\((.*?)\)\s*;", re.S)
    for returns, name, params in pattern.findall(text):
        types = []
        for param in params.split(","):
            param = " ".join(param.split())
            if param == "void":
                continue
            match = re.match(r"(.*?)\s*\b(\w+)$", param)
            types.append(match.group(1).replace("*", " *").replace("  ", " ").strip())
        yield name, returns.strip(), types


@unittest.skipUnless(os.path.exists(HEADER), "run from a source checkout")
class SignaturesMatchTheHeader(unittest.TestCase):
    def test_every_export_is_declared_with_the_header_types(self) -> None:
        exports = list(header_exports())
        self.assertGreaterEqual(len(exports), 75)  # 71 reader exports and the extensions
        self.assertEqual(sorted(name for name, _, _ in exports), sorted(_library.SIGNATURES))
        for name, returns, params in exports:
            with self.subTest(export=name):
                restype, argtypes = _library.SIGNATURES[name]
                self.assertEqual(restype, ctypes.c_char_p if "char" in returns else ctypes.c_int)
                self.assertEqual(argtypes, [C_TYPES[p] for p in params])

    def test_the_loaded_library_carries_the_declarations(self) -> None:
        library = zrreader.library()
        for name, (restype, argtypes) in _library.SIGNATURES.items():
            function = getattr(library, name)
            self.assertEqual((function.restype, function.argtypes), (restype, argtypes), name)


class EveryExportIsWrapped(unittest.TestCase):
    def test_each_export_has_a_method_or_function_naming_it(self) -> None:
        # Each wrapper's docstring starts with the export it runs: "ZRReport: ...".
        wrappers = [f for n, f in vars(zrreader.Reader).items() if callable(f) and not n.startswith("__")]
        wrappers += [zrreader.Reader.__init__, zrreader.set_device_class, zrreader.set_trace_handler,
                     zrreader.result_text, zrreader.last_reply_length]
        wrapped = {(f.__doc__ or "").split(":")[0].strip() for f in wrappers}
        self.assertEqual(set(_library.SIGNATURES) - wrapped, set())


class ResultNames(unittest.TestCase):
    def test_names_of_library_codes_and_reader_statuses(self) -> None:
        cases = [
            (1, "ZR_OK", None),
            (0, "ZR_NOTHING", None),
            (-1, "ZR_CLOSED", None),
            (-4, "ZR_ERR_NO_REPLY", None),
            (-15, "ZR_ERR_LENGTH", None),
            (242, "ZR_ERR_CLOSE", None),
            (1001, "status 0x01", 0x01),
            (1009, "status 0x09", 0x09),
            (1010, "status 0x11", 0x11),
            (1015, "status 0x16", 0x16),
            (2001, "status 0x20", 0x20),
            (2007, "status 0x26", 0x26),
            (3010, "status 0x69", 0x69),
            (4001, "status 0x90", 0x90),
            (4013, "status 0x9C", 0x9C),
            (1016, "result 1016", None),
            (2008, "result 2008", None),
            (-6, "result -6", None),
        ]
        for code, name, status in cases:
            with self.subTest(code=code):
                self.assertEqual(zrreader.result_name(code), name)
                self.assertEqual(zrreader.reader_status_of(code), status)

    def test_error_carries_the_library_text(self) -> None:
        for code in (-4, -15, 242, 1010, 99999):
            with self.subTest(code=code):
                error = ZRError(code, "ZRSomething")
                self.assertEqual(error.text, zrreader.result_text(code))
                self.assertTrue(error.text)
                self.assertEqual(str(error), f"ZRSomething: {error.name} ({code}): {error.text}")

    def test_device_class_family_other_than_500_600_800_raises(self) -> None:
        with self.assertRaises(ZRError) as caught:
            zrreader.set_device_class(700)
        self.assertEqual(caught.exception.code, zrreader.ZR_ERR_FAMILY)
        zrreader.set_device_class(800)


class LibraryLookup(unittest.TestCase):
    def run_python(self, code: str, library: str) -> subprocess.CompletedProcess:
        env = dict(os.environ, ZRREADER_LIBRARY=library)
        return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)

    def test_a_wrong_explicit_path_is_reported_not_replaced(self) -> None:
        result = self.run_python(
            "import zrreader\n"
            "try:\n    zrreader.library()\n"
            "except zrreader.LibraryNotFound as e:\n    print('not found:', e)\n",
            "/nonexistent/libzrreader.so.1",
        )
        self.assertIn("not found: ZRREADER_LIBRARY=/nonexistent/libzrreader.so.1", result.stdout, result.stderr)

    def test_a_library_beside_the_package_is_found_without_the_variable(self) -> None:
        path = os.environ.get("ZRREADER_LIBRARY")
        if not path:
            self.skipTest("ZRREADER_LIBRARY not set")
        folder = tempfile.mkdtemp(prefix="zrreader-py-")
        self.addCleanup(shutil.rmtree, folder, True)
        package = os.path.join(folder, "zrreader")
        shutil.copytree(os.path.dirname(zrreader.__file__), package)
        shutil.copy(path, os.path.join(package, "libzrreader.so.1"))
        env = {k: v for k, v in os.environ.items() if k not in ("ZRREADER_LIBRARY", "LD_LIBRARY_PATH")}
        env["PYTHONPATH"] = folder
        result = subprocess.run(
            [sys.executable, "-c", "import zrreader\nprint(zrreader.library()._name)"],
            env=env, capture_output=True, text=True, timeout=60,
        )
        self.assertEqual(result.stdout.strip(), os.path.join(package, "libzrreader.so.1"), result.stderr)

    def test_the_explicit_path_is_the_one_loaded(self) -> None:
        path = os.environ.get("ZRREADER_LIBRARY")
        if not path:
            self.skipTest("ZRREADER_LIBRARY not set")
        result = self.run_python(
            "import zrreader\nprint(zrreader.library()._name)\nprint(zrreader.result_name(-4))\n", path
        )
        self.assertEqual(result.stdout.split(), [path, "ZR_ERR_NO_REPLY"], result.stderr)


if __name__ == "__main__":
    unittest.main()
