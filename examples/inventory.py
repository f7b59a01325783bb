#!/usr/bin/env python3
"""Opens a reader, runs an inventory, prints every report, then reads 16
bytes of user memory of the first tag found.

    inventory.py CONFIG_FILE SECTION

The same program as inventory.c on the Python package zrreader (set
PYTHONPATH to bindings/python, and ZRREADER_LIBRARY to the library when it
is not installed).
"""

import sys
import time

import zrreader

# Reports arrive a moment after the inventory starts; the inventory is over
# when none has come for this many seconds.
QUIET_SECONDS = 1.0


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} CONFIG_FILE SECTION", file=sys.stderr)
        return 2
    try:
        with zrreader.Reader(argv[1], argv[2]) as reader:
            reader.identify(0, 0)
            reports = []
            last = time.monotonic()
            while time.monotonic() - last < QUIET_SECONDS:
                report = reader.report()  # status byte and data, or None
                if report is None:
                    time.sleep(0.005)
                    continue
                last = time.monotonic()
                reports.append(report)
                print("report:", report.hex())
            print(f"{len(reports)} reports")
            if reports:
                tag_id = reports[0][1:9]
                memory = reader.read_user_data(0, 0, 16, tag_id)
                print(f"user memory of {tag_id.hex()}: {memory.hex()}")
    except zrreader.ZRError as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
