#!/usr/bin/env python3
"""The soak's start-and-stop pairing, on made-up logs: a checker that passes a
lost stop would hide the very fault the soak is for."""

import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import soak  # noqa: E402


def frame(kind, item):
    return " ".join([f"02 {kind:02X} 21 {item:02X}"] + ["00"] * 12 + ["03", "00"])


def log(*units):
    """(time, bytes, line) rows as harness.Camera.frames() gives them."""
    rows = []
    for t, unit in enumerate(units):
        data = unit if isinstance(unit, str) else frame(0x21, unit)
        rows.append((float(t), data, f"#{t}"))
    return rows


class Pairing(unittest.TestCase):
    CASES = [
        # name, units, indexes of the starts reported as never stopped
        ("start then stop", [0x01, 0x02], []),
        ("a start sent again, then one stop", [0x01, 0x01, 0x02], []),
        ("tele, then wide with no stop between", [0x01, 0x00, 0x02], [0]),
        ("a focus stop does not stop the zoom", [0x01, 0x05], [0]),
        ("focus near, focus stop", [0x03, 0x05], []),
        ("both axes, stopped in the other order", [0x01, 0x04, 0x05, 0x02], []),
        ("the last start has no stop", [0x04, 0x05, 0x03], [2]),
        ("a stop with no start", [0x02, 0x05], []),
        ("a query of the same item is not a start", [frame(0x31, 0x01)], []),
        ("a start cut short by a pull is not counted",
         [0x01, 0x02, "02 21 21 00 00 00"], []),
    ]

    def test_cases(self):
        for name, units, missing in self.CASES:
            with self.subTest(name):
                got = soak.unstopped(log(*units))
                self.assertEqual([line for _, line in got], [f"#{i}" for i in missing])


if __name__ == "__main__":
    unittest.main()
