"""Tests of tools/trace_catalog.py: checker, TMF writer and recording decoder."""

import contextlib
import io
import os
import re
import sys
import tempfile
import textwrap
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True  # keep tools/ free of __pycache__
sys.path.insert(0, os.path.join(ROOT, "tools"))
import trace_catalog  # noqa: E402

REAL_CATALOG = os.path.join(ROOT, "src", "setup", "trace", "events.catalog")
SETUP_GUID = "5d5107e2-3f21-41ca-bcb0-94a7967efc8f"
UTIL_GUID = "0e3dbc0c-99ca-411d-aef9-92ff8dafb87f"
KANA_HEX = "\u30c6\u30b9".encode("cp932").hex()

CATALOG = f"""\
@component setup {SETUP_GUID} g_guidSetupComponent
@component util {UTIL_GUID} g_guidUtilComponent
setup | 15 | TRACE_FLOW | - | Checks begin
setup | 18 | TRACE_ERROR | hex error | Check failed, error %error%
setup | 26 | TRACE_FLOW | str folder | Source folder: %folder%
setup | 10 | TRACE_FLOW | int min, int max | Range %min% to %max% (100%%)
setup | 35 | TRACE_FLOW | ptr record | Record at %record%
util | 10 | TRACE_FLOW | uint count, uint total | %count% of %total%
"""

# Exercises the parser: multi-line sites, data gathered in braces, nested
# parentheses, literals and comments that mention calls, declarations.
GOOD_SOURCE = """\
void TraceEvent(const GUID& guidComponent, USHORT nEvent, const char* psz);
// if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 99);
void Run(CData* pData)
{
    const char* psz = "TraceEvent(g_guidSetupComponent, 98)";
    if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 15);
    if (IsTraceEnabled(TRACE_FLOW)) {
        /* TraceEvent(g_guidUtilComponent, 97); */
        TraceEvent(g_guidSetupComponent, 26,
                   Pick(pData->m_szSourceDir, ")", '('));
    }
    TraceLastError(g_guidSetupComponent, 18);
    if (IsTraceEnabled(TRACE_FLOW))
        TraceEvent(g_guidSetupComponent, 10, static_cast<DWORD>(Min(1, 2)), 4);
    if (IsTraceEnabled(TRACE_FLOW)) ::TraceEvent(g_guidSetupComponent, 35, pData);
    if (IsTraceEnabled(TRACE_FLOW)) { DWORD n = Count(R"(a, b))"); TraceEvent(g_guidUtilComponent, 10, n, 2); }
}
"""


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="") as handle:
        handle.write(text)


def run_main(argv):
    """Run the tool in-process; return (exit code, stdout, stderr)."""
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            code = trace_catalog.main(argv)
        except SystemExit as stop:
            code = stop.code
    return code, out.getvalue(), err.getvalue()


class CheckTest(unittest.TestCase):
    def check(self, source, catalog=CATALOG):
        """Run the checker on a one-file tree; return the problem lines."""
        with tempfile.TemporaryDirectory() as tmp:
            write(os.path.join(tmp, "cat"), catalog)
            write(os.path.join(tmp, "src", "sub", "a.cpp"), source)
            code, out, _ = run_main(["check", "--catalog", os.path.join(tmp, "cat"),
                                     "--src", os.path.join(tmp, "src")])
        lines = [line.replace(tmp + os.sep, "") for line in out.splitlines()]
        self.assertEqual(code, 1 if lines else 0, out)
        return lines

    def test_good_tree_passes(self):
        self.assertEqual(self.check(GOOD_SOURCE), [])

    def test_each_fault_is_reported_with_its_place(self):
        cases = {
            "event missing from catalogue": (
                GOOD_SOURCE + "void F() { if (IsTraceEnabled(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 99); }\n",
                CATALOG, r"src/sub/a\.cpp:18: setup event 99 is not in the catalogue"),
            "catalogue row nobody emits": (
                GOOD_SOURCE, CATALOG + "util | 11 | TRACE_ERROR | - | Spare\n",
                r"^cat:9: util event 11 is not emitted"),
            "wrong flag": (
                GOOD_SOURCE.replace("(TRACE_FLOW)) TraceEvent(g_guidSetupComponent, 15)",
                                    "(TRACE_ERROR)) TraceEvent(g_guidSetupComponent, 15)"),
                CATALOG, r"a\.cpp:6: setup event 15 is sent under TRACE_ERROR, "
                         r"the catalogue says TRACE_FLOW"),
            "TraceLastError of a flow event": (
                GOOD_SOURCE.replace("TraceLastError(g_guidSetupComponent, 18)",
                                    "TraceLastError(g_guidSetupComponent, 18); "
                                    "TraceLastError(g_guidSetupComponent, 15)"),
                CATALOG, r"a\.cpp:12: setup event 15 is sent under TRACE_ERROR"),
            "wrong argument count": (
                GOOD_SOURCE.replace("Min(1, 2)), 4)", "Min(1, 2)))"),
                CATALOG, r"a\.cpp:14: setup event 10 sends 1 data argument\(s\), "
                         r"the catalogue lists 2 \(int min, int max\)"),
            "duplicate row": (
                GOOD_SOURCE, CATALOG + "setup | 15 | TRACE_FLOW | - | Again\n",
                r"^cat:9: duplicate row for setup event 15 \(first at line 3\)"),
            "site outside its guard": (
                GOOD_SOURCE.replace("TraceLastError(g_guidSetupComponent, 18);",
                                    "TraceEvent(g_guidSetupComponent, 18, 5);"),
                CATALOG, r"a\.cpp:12: TraceEvent lies outside the statement guarded "
                         r"by IsTraceEnabled at line 7"),
            "number not a literal": (
                GOOD_SOURCE.replace("Component, 15)", "Component, EVENT_15)"),
                CATALOG, r"a\.cpp:6: TraceEvent event number 'EVENT_15' is not a decimal"),
        }
        for name, (source, catalog, pattern) in cases.items():
            with self.subTest(name):
                problems = self.check(source, catalog)
                self.assertTrue(any(re.search(pattern, p) for p in problems), problems)

    def test_catalogue_rows_are_validated(self):
        head = f"@component setup {SETUP_GUID} g_guidSetupComponent\n"
        cases = {
            "setup | 1 | TRACE_FLOW | long x | X %x%": "bad data item",
            "setup | 1 | TRACE_FLOW | int x, str y | %x% %y%": "no TraceEvent form",
            "setup | 1 | TRACE_FLOW | int x | X %y%": "unknown argument %y%",
            "setup | 1 | TRACE_FLOW | int x | X": "'x' does not appear",
            'setup | 1 | TRACE_FLOW | - | Say "hi"': "printable ASCII",
            "setup | 1 | TRACE_FLOW | - | 50% done": "stray '%'",
            "setup | 1 | TRACE_WARN | - | X": "bad flag",
            "setup | 070 | TRACE_FLOW | - | X": "bad event number",
            "other | 1 | TRACE_FLOW | - | X": "unknown component",
        }
        with tempfile.TemporaryDirectory() as tmp:
            for row, expected in cases.items():
                with self.subTest(row):
                    write(os.path.join(tmp, "cat"), head + row + "\n")
                    _, problems = trace_catalog.load_catalog(os.path.join(tmp, "cat"))
                    self.assertEqual(len(problems), 1, problems)
                    self.assertIn(":2: ", problems[0])
                    self.assertIn(expected, problems[0])

    def test_repository_catalogue_matches_the_code(self):
        code, out, err = run_main(["check", "--catalog", REAL_CATALOG,
                                   "--src", os.path.join(ROOT, "src", "setup")])
        self.assertEqual(code, 0, out + err)


def parse_tmf(text):
    """Parse TMF text strictly; return (guid, name, [(name, number, format, flags, items)])."""
    lines = text.split("\r\n")
    assert lines.pop() == "", "file must end with CRLF"
    header = re.fullmatch(r"([0-9a-f-]{36}) (\w+) // SRC=\S+ MJ= MN=", lines[0])
    assert header, lines[0]
    messages, i = [], 1
    while i < len(lines):
        typev = re.fullmatch(r'#typev (\w+) (\d+) "%0([^"]*)" //   LEVEL=(\w+) FLAGS=(\w+)',
                             lines[i])
        assert typev and lines[i + 1] == "{", lines[i:i + 2]
        items, i = [], i + 2
        while lines[i] != "}":
            item = re.fullmatch(r"(\w+), (Item\w+) -- (\d+)", lines[i])
            assert item, lines[i]
            items.append((item.group(2), int(item.group(3))))
            i += 1
        messages.append((typev.group(1), int(typev.group(2)), typev.group(3),
                         typev.group(5), items))
        i += 1
    return header.group(1), header.group(2), messages


class TmfTest(unittest.TestCase):
    def write_tmf(self, catalog_text):
        tmp = self.enterContext(tempfile.TemporaryDirectory())
        write(os.path.join(tmp, "events.catalog"), catalog_text)
        code, _, err = run_main(["tmf", "--catalog", os.path.join(tmp, "events.catalog"),
                                 "--out", tmp])
        self.assertEqual(code, 0, err)
        files = {}
        for name in os.listdir(tmp):
            if name.endswith(".tmf"):
                with open(os.path.join(tmp, name), "rb") as handle:
                    files[name] = handle.read().decode("ascii")
        return files

    def test_layout_numbering_and_item_types(self):
        files = self.write_tmf(CATALOG)
        self.assertEqual(sorted(files), sorted([SETUP_GUID + ".tmf", UTIL_GUID + ".tmf"]))
        guid, name, messages = parse_tmf(files[SETUP_GUID + ".tmf"])
        self.assertEqual((guid, name), (SETUP_GUID, "setup"))
        by_number = {m[1]: m for m in messages}
        self.assertEqual(sorted(by_number), [10, 15, 18, 26, 35])
        self.assertEqual(by_number[10][2], "Range %10!d! to %11!d! (100%%)")
        self.assertEqual(by_number[10][4], [("ItemLong", 10), ("ItemLong", 11)])
        self.assertEqual(by_number[15][2:], ("Checks begin", "TRACE_FLOW", []))
        self.assertEqual(by_number[18][2:], ("Check failed, error 0x%10!08X!", "TRACE_ERROR",
                                             [("ItemULong", 10)]))
        self.assertEqual(by_number[26][4], [("ItemString", 10)])
        self.assertEqual(by_number[35][4], [("ItemPtr", 10)])
        _, _, util = parse_tmf(files[UTIL_GUID + ".tmf"])
        self.assertEqual(util[0][2], "%10!u! of %11!u!")

    def test_repository_catalogue_gives_consistent_files(self):
        with open(REAL_CATALOG, encoding="ascii") as handle:
            files = self.write_tmf(handle.read())
        catalog, _ = trace_catalog.load_catalog(REAL_CATALOG)
        self.assertEqual(len(files), len(catalog.components))  # every component has events
        for content in files.values():
            guid, name, messages = parse_tmf(content)
            self.assertEqual(catalog.components[name].guid, guid)
            for _, number, fmt, flag, items in messages:
                event = catalog.by_key[(name, number)]
                self.assertEqual(flag, event.flag)
                self.assertEqual([n for _, n in items], list(range(10, 10 + len(event.args))))
                used = sorted(int(n) for n in re.findall(r"%(\d+)!", fmt))
                self.assertEqual(used, [n for _, n in items])


class TableTest(unittest.TestCase):
    """The program's event table, read back the way the program reads it."""

    @staticmethod
    def read_array(source, name):
        body = re.search(name + r"\[\w*\] = \{(.*?)\};", source, re.S).group(1)
        return [int(value, 16) for value in re.findall(r"0x([0-9A-F]{2})", body)]

    def expand(self, code, pairs, args):
        if pairs[2 * code]:
            return (self.expand(pairs[2 * code], pairs, args) +
                    self.expand(pairs[2 * code + 1], pairs, args))
        if code < 0x20:
            index, type_index = divmod(code - 1, len(trace_catalog.TABLE_TYPES))
            self.assertEqual(args[index].type, trace_catalog.TABLE_TYPES[type_index])
            return f"%{args[index].name}%"
        return chr(code)

    def test_repository_catalogue_reads_back_whole(self):
        tmp = self.enterContext(tempfile.TemporaryDirectory())
        out = os.path.join(tmp, "event_table.cpp")
        code, _, err = run_main(["table", "--catalog", REAL_CATALOG, "--out", out])
        self.assertEqual(code, 0, err)
        with open(out, encoding="ascii") as handle:
            source = handle.read()
        catalog, _ = trace_catalog.load_catalog(REAL_CATALOG)
        names = re.findall(r'\{&\w+, "(\w+)"\}', source)
        self.assertEqual(names, list(catalog.components))
        records = self.read_array(source, "g_abEventRecords")
        pairs = self.read_array(source, "g_abEventPairs")
        self.assertEqual(len(pairs), 512)
        at = 0
        for event in catalog.events:
            head, number = records[at], records[at + 1] | records[at + 2] << 8
            self.assertEqual((names[(head & 15) - 1], number), (event.component, event.number))
            self.assertEqual(head >> 4, trace_catalog.FLAGS[event.flag])
            end = records.index(0, at + 3)
            text = "".join(self.expand(c, pairs, event.args) for c in records[at + 3:end])
            self.assertEqual(text, event.text.replace("%%", "%"))
            at = end + 1
        self.assertEqual(records[at:], [0])
        self.assertLess(len(records) + len(pairs), 4500)  # about half the plain texts


class DecodeTest(unittest.TestCase):
    def setUp(self):
        self.path = os.path.join(self.enterContext(tempfile.TemporaryDirectory()), "cat")
        write(self.path, CATALOG)
        self.catalog, problems = trace_catalog.load_catalog(self.path)
        self.assertEqual(problems, [])

    def test_lines(self):
        cases = {
            f"{SETUP_GUID} 10 0x2b feffffff 04000000": "setup 10 FLOW Range -2 to 4 (100%)",
            f"{SETUP_GUID} 18 0x2b 05000000": "setup 18 ERROR Check failed, error 0x00000005",
            f"{UTIL_GUID.upper()} 10 0x2b ffffffff 02000000": "util 10 FLOW 4294967295 of 2",
            f"{SETUP_GUID} 35 0x2b 20fe140000000000":
                "setup 35 FLOW Record at 000000000014FE20",
            f"{SETUP_GUID} 26 0x2b 433a5c706b6700": "setup 26 FLOW Source folder: C:\\pkg",
            f"{SETUP_GUID} 26 0x2b 4e554c4c00": "setup 26 FLOW Source folder: NULL",
            f"{SETUP_GUID} 26 0x2b 00": "setup 26 FLOW Source folder: ",
            f"{SETUP_GUID} 26 0x2b {KANA_HEX}00":
                "setup 26 FLOW Source folder: \u30c6\u30b9",
            f"{SETUP_GUID} 26 0x2b 4de9fc00": "setup 26 FLOW Source folder: M\u00e9\u00fc",
            f"{SETUP_GUID} 26 0x2b 610a6200": "setup 26 FLOW Source folder: a\\x0ab",
            f"{SETUP_GUID} 15 0x2b": "setup 15 FLOW Checks begin",
            f"{SETUP_GUID} 15 0x2a": "setup 15 FLOW Checks begin [message flags 0x2a]",
            f"{SETUP_GUID} 77 0x2b 0500 -": f"unknown {SETUP_GUID} 77 0500 -",
            "3344ab20-ee3e-49ce-b9f4-941b5e8fee52 10 0x2b":
                "unknown 3344ab20-ee3e-49ce-b9f4-941b5e8fee52 10",
            f"{SETUP_GUID} 18 0x2b 0500": "setup 18 ERROR ?? arguments do not match "
                                          "the catalogue (hex error): 0500",
            f"{SETUP_GUID} 26 0x2b 4142": "setup 26 FLOW ?? arguments do not match "
                                          "the catalogue (str folder): 4142",
            f"{SETUP_GUID} 15 0x2b -": "setup 15 FLOW ?? arguments do not match "
                                       "the catalogue (none): -",
            f"{SETUP_GUID} 15 0x2b zz": f"unparsed {SETUP_GUID} 15 0x2b zz",
            "garbage": "unparsed garbage",
        }
        for line, expected in cases.items():
            with self.subTest(line):
                self.assertEqual(trace_catalog.decode_line(self.catalog, line), expected)

    def test_recording_file(self):
        recording = self.path + ".rec"
        write(recording, f"{SETUP_GUID} 15 0x2b\r\n\n{SETUP_GUID} 26 0x2b e900\n")
        code, out, _ = run_main(["decode", "--catalog", self.path, "--encoding", "cp1252",
                                 recording])
        self.assertEqual((code, out), (0, "setup 15 FLOW Checks begin\n"
                                          "setup 26 FLOW Source folder: \u00e9\n"))


if __name__ == "__main__":
    unittest.main()
