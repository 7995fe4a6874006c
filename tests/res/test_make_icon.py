"""Tests for tools/make_icon.py and the committed setup icon."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))))
TOOL = os.path.join(ROOT, "tools", "make_icon.py")
TEXT = os.path.join(ROOT, "src", "setup", "res", "icon", "setup_icon.txt")
ICO = os.path.join(ROOT, "src", "setup", "res", "setup.ico")

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(TOOL))
import make_icon  # noqa: E402

VGA = [0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
       0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
       0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF]


def run_tool(*args):
    return subprocess.run([sys.executable, TOOL, *args],
                          capture_output=True, text=True)


def read_image(data, offset, size):
    """Decode one 4-bpp image: header, palette, pixel rows and length.

    A pixel is its palette index, None when masked, "bad" when masked
    with a non-zero colour (which would tint the background)."""
    header = struct.unpack_from("<IiiHHI", data, offset)
    palette = [r << 16 | g << 8 | b for b, g, r, _ in
               struct.iter_unpack("<4B", data[offset + 40:offset + 104])]
    xor_at, xor_stride, and_stride = offset + 104, size // 2, 4
    and_at = xor_at + xor_stride * size
    rows = []
    for y in range(size):
        line = size - 1 - y  # rows are stored bottom-up
        xor_row = data[xor_at + line * xor_stride:][:xor_stride]
        and_row = int.from_bytes(
            data[and_at + line * and_stride:][:and_stride], "big")
        row = []
        for x in range(size):
            index = xor_row[x // 2] >> (4 if x % 2 == 0 else 0) & 15
            masked = and_row >> (31 - x) & 1
            row.append(index if not masked else "bad" if index else None)
        rows.append(row)
    return header, palette, rows, and_at + and_stride * size - offset


class GeneratedIconTest(unittest.TestCase):

    def setUp(self):
        with open(TEXT, encoding="utf-8") as stream:
            self.images = make_icon.parse_icon_text(stream.read())
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "out.ico")
            self.assertEqual(run_tool(TEXT, path).returncode, 0)
            with open(path, "rb") as stream:
                self.data = stream.read()

    def test_layout_palette_and_pixels(self):
        self.assertEqual(struct.unpack_from("<HHH", self.data), (0, 1, 2))
        end = 6 + 2 * 16
        for number, (size, rows) in enumerate(zip((32, 16), self.images)):
            entry = struct.unpack_from("<BBBBHHII", self.data, 6 + 16 * number)
            self.assertEqual(entry[:6], (size, size, 16, 0, 1, 4))
            self.assertEqual(entry[7], end)
            header, palette, pixels, length = read_image(self.data, end, size)
            self.assertEqual(header, (40, size, 2 * size, 1, 4, 0))
            self.assertEqual(entry[6], length)
            self.assertEqual(palette, VGA)
            expected = [[None if c == "." else make_icon.PIXEL_CHARS.index(c)
                         for c in row] for row in rows]
            self.assertEqual(pixels, expected)
            end += length
        self.assertEqual(len(self.data), end)

    def test_committed_icon_is_in_sync(self):
        result = run_tool(TEXT, "--check", ICO)
        self.assertEqual(result.returncode, 0, result.stderr)
        with tempfile.TemporaryDirectory() as folder:
            stale = os.path.join(folder, "stale.ico")
            with open(stale, "wb") as stream:
                stream.write(self.data[:-1] + b"\x01")
            self.assertNotEqual(run_tool(TEXT, "--check", stale).returncode, 0)


class MalformedTextTest(unittest.TestCase):

    def test_rejected_with_line_number(self):
        good32, good16 = ["." * 32] * 32, ["." * 16] * 16
        cases = {
            "unknown character": (good32[:4] + ["." * 31 + "x"] + good32[5:]
                                  + [""] + good16, ":6:"),
            "short row": (good32 + [""] + good16[:2] + ["." * 15]
                          + good16[3:], ":37:"),
            "missing row": (good32[:-1] + [""] + good16, ":2:"),
            "missing block": (good32, "blocks"),
            "extra block": (good32 + [""] + good16 + ["", "k"], "blocks"),
        }
        with tempfile.TemporaryDirectory() as folder:
            for name, (lines, needle) in cases.items():
                with self.subTest(name):
                    path = os.path.join(folder, "icon.txt")
                    with open(path, "w", encoding="utf-8") as stream:
                        stream.write("# header\n" + "\n".join(lines) + "\n")
                    out = os.path.join(folder, "out.ico")
                    result = run_tool(path, out)
                    self.assertNotEqual(result.returncode, 0)
                    self.assertIn(needle, result.stderr)
                    self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
