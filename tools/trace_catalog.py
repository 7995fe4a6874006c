#!/usr/bin/env python3
"""Tools for the trace event catalogue of setup.exe.

Usage:
    trace_catalog.py check --catalog F --src DIR
        Compare the catalogue with the trace call sites in DIR (*.cpp, *.h);
        print one line per problem and exit 1 if there is any.
    trace_catalog.py tmf --catalog F --out DIR
        Write one TMF file per message GUID (<guid>.tmf) for the Windows
        trace formatting tools.
    trace_catalog.py decode --catalog F [--encoding E] RECORDING
        Print one readable line per event of a test recording.
    trace_catalog.py table --catalog F --out FILE
        Write the C++ source of the event texts that setup.exe carries for
        its text log, in the compact form that trace/event_table.h describes.

The catalogue format is described in the header of events.catalog.
"""

import argparse
import bisect
import codecs
import os
import re
import struct
import sys
from collections import namedtuple

FLAGS = {"TRACE_ERROR": 0x1, "TRACE_FLOW": 0x4}
# TMF LEVEL= values; the program selects events by flag only, the level is
# shown for the reader's orientation.
TMF_LEVELS = {"TRACE_ERROR": "TRACE_LEVEL_ERROR",
              "TRACE_FLOW": "TRACE_LEVEL_INFORMATION"}
MESSAGE_FLAGS = 0x2B
FIRST_TMF_ARG = 10  # %1..%9 belong to the trace message prefix

# Per type: byte size (None: NUL-terminated), TMF item type, TMF format.
ArgType = namedtuple("ArgType", "size item tmf")
ARG_TYPES = {
    "int": ArgType(4, "ItemLong", "%{n}!d!"),
    "uint": ArgType(4, "ItemULong", "%{n}!u!"),
    "hex": ArgType(4, "ItemULong", "0x%{n}!08X!"),
    "ptr": ArgType(8, "ItemPtr", "%{n}!p!"),
    "str": ArgType(None, "ItemString", "%{n}!s!"),
}
# Data shapes the TraceEvent overloads can send ('i': any 32-bit integer).
SHAPES = {"", "i", "ii", "p", "s", "ss", "ssp", "sis"}
SHAPE_LETTER = {"int": "i", "uint": "i", "hex": "i", "ptr": "p", "str": "s"}

Component = namedtuple("Component", "name guid cname line")
Arg = namedtuple("Arg", "type name")
Event = namedtuple("Event", "component number flag args text line")
Site = namedtuple("Site", "path line cname number flag nargs")

PLACEHOLDER = re.compile(r"%%|%([A-Za-z_]\w*)%|%")
GUID_RE = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
NAME_RE = re.compile(r"^[A-Za-z_]\w*$")


class Catalog:
    """Components and events of one catalogue file."""

    def __init__(self, path):
        self.path = path
        self.components = {}
        self.events = []
        self.by_key = {}

    def component_by_guid(self, guid):
        for component in self.components.values():
            if component.guid == guid:
                return component
        return None

    def component_by_cname(self, cname):
        for component in self.components.values():
            if component.cname == cname:
                return component
        return None


def split_text(text):
    """Yield ('lit', s) and ('arg', name) pieces; raise ValueError on a stray %."""
    pos = 0
    for match in PLACEHOLDER.finditer(text):
        if match.group(0) == "%":
            raise ValueError("stray '%' (write %% for a percent sign)")
        yield "lit", text[pos:match.start()]
        if match.group(0) == "%%":
            yield "lit", "%"
        else:
            yield "arg", match.group(1)
        pos = match.end()
    yield "lit", text[pos:]


def parse_args_field(field):
    """Return the Arg list of a data field; raise ValueError when malformed."""
    if field == "-":
        return []
    args = []
    for item in field.split(","):
        words = item.split()
        if len(words) != 2 or words[0] not in ARG_TYPES or not NAME_RE.match(words[1]):
            raise ValueError(f"bad data item {item.strip()!r} (want '<type> <name>', "
                             f"type one of {', '.join(ARG_TYPES)})")
        if any(arg.name == words[1] for arg in args):
            raise ValueError(f"argument name {words[1]!r} used twice")
        args.append(Arg(words[0], words[1]))
    shape = "".join(SHAPE_LETTER[arg.type] for arg in args)
    if shape not in SHAPES:
        raise ValueError(f"no TraceEvent form sends the data shape {field!r}")
    return args


def check_text(text, args):
    """Raise ValueError unless text is safe for TMF and uses each argument."""
    if not text:
        raise ValueError("empty text")
    if any(ch in text for ch in '"\\') or not all(" " <= ch <= "~" for ch in text):
        raise ValueError("text must be printable ASCII without '\"' or '\\'")
    used = [value for kind, value in split_text(text) if kind == "arg"]
    names = [arg.name for arg in args]
    for name in used:
        if name not in names:
            raise ValueError(f"text refers to unknown argument %{name}%")
    for name in names:
        if name not in used:
            raise ValueError(f"argument {name!r} does not appear in the text")


def parse_component(catalog, words, line):
    if len(words) != 4 or not GUID_RE.match(words[2].lower()) or not NAME_RE.match(words[3]):
        raise ValueError("want '@component <name> <guid> <C name>'")
    name, guid, cname = words[1], words[2].lower(), words[3]
    if name in catalog.components or catalog.component_by_guid(guid) \
            or catalog.component_by_cname(cname):
        raise ValueError(f"component {name} repeats a name, GUID or C name")
    catalog.components[name] = Component(name, guid, cname, line)


def parse_event(catalog, raw, line):
    fields = [field.strip() for field in raw.split("|", 4)]
    if len(fields) != 5:
        raise ValueError("want '<component> | <number> | <flag> | <data> | <text>'")
    name, number, flag, data, text = fields
    if name not in catalog.components:
        raise ValueError(f"unknown component {name!r}")
    if not re.fullmatch(r"0|[1-9]\d*", number) or int(number) > 0xFFFF:
        raise ValueError(f"bad event number {number!r}")
    if flag not in FLAGS:
        raise ValueError(f"bad flag {flag!r} (want {' or '.join(FLAGS)})")
    args = parse_args_field(data)
    check_text(text, args)
    return Event(name, int(number), flag, args, text, line)


def load_catalog(path):
    """Return (catalog, problems); problems are 'file:line: text' strings."""
    with open(path, encoding="ascii") as handle:
        lines = handle.read().splitlines()
    catalog, problems = Catalog(path), []
    for number, raw in enumerate(lines, 1):
        raw = raw.strip()
        if not raw or raw.startswith("#"):
            continue
        try:
            if raw.startswith("@"):
                parse_component(catalog, raw.split(), number)
                continue
            event = parse_event(catalog, raw, number)
        except ValueError as error:
            problems.append(f"{path}:{number}: {error}")
            continue
        key = (event.component, event.number)
        if key in catalog.by_key:
            first = catalog.by_key[key].line
            problems.append(f"{path}:{number}: duplicate row for {event.component} "
                            f"event {event.number} (first at line {first})")
            continue
        catalog.by_key[key] = event
        catalog.events.append(event)
    return catalog, problems


# ---- source scanning -------------------------------------------------------

def blank_source(text):
    """Return text with comments blanked and literal contents masked.

    Lengths and newlines are kept, so offsets and line numbers stay valid;
    masking keeps commas and parentheses inside literals from being read
    as code.
    """
    out, i, n = list(text), 0, len(text)

    def mask(start, end, fill):
        for k in range(start, end):
            if out[k] != "\n":
                out[k] = fill

    while i < n:
        ch = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            mask(i, end, " ")
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            mask(i, end, " ")
            i = end
        elif ch == '"' and i > 0 and text[i - 1] == "R" and \
                (i < 2 or not (text[i - 2].isalnum() or text[i - 2] == "_")
                 or text[i - 2] in "LuU8"):
            open_paren = text.find("(", i)
            delim = text[i + 1:open_paren] if open_paren >= 0 else ""
            end = text.find(")" + delim + '"', max(open_paren, i))
            end = n if open_paren < 0 or end < 0 else end + len(delim) + 2
            mask(i + 1, end - 1, "_")
            i = end
        elif ch in "\"'" and not (ch == "'" and i > 0 and text[i - 1].isdigit()):
            k = i + 1
            while k < n and text[k] != ch and text[k] != "\n":
                k += 2 if text[k] == "\\" else 1
            mask(i + 1, min(k, n), "_")
            i = k + 1
        else:
            i += 1
    return "".join(out)


def matching_close(code, open_pos):
    """Return the offset of the bracket closing code[open_pos], or -1."""
    depth = 0
    for pos in range(open_pos, len(code)):
        if code[pos] in "([{":
            depth += 1
        elif code[pos] in ")]}":
            depth -= 1
            if depth == 0:
                return pos
    return -1


def split_call_args(code, open_pos, close_pos):
    """Return the top-level comma-separated arguments between the brackets."""
    args, depth, start = [], 0, open_pos + 1
    for pos in range(open_pos + 1, close_pos):
        if code[pos] in "([{":
            depth += 1
        elif code[pos] in ")]}":
            depth -= 1
        elif code[pos] == "," and depth == 0:
            args.append(code[start:pos].strip())
            start = pos + 1
    last = code[start:close_pos].strip()
    if last or args:
        args.append(last)
    return args


def guarded_range(code, name_pos, close_pos):
    """Return the (start, end) offsets of the statement an `if (IsTraceEnabled(F))`
    controls, or None when the test has another form."""
    before = code[:name_pos].rstrip()
    if not before.endswith("(") or not re.search(r"\bif\s*$", before[:-1]):
        return None
    after = close_pos + 1
    while after < len(code) and code[after].isspace():
        after += 1
    if after >= len(code) or code[after] != ")":
        return None
    body = after + 1
    while body < len(code) and code[body].isspace():
        body += 1
    if body < len(code) and code[body] == "{":
        end = matching_close(code, body)
        return (body, end if end >= 0 else len(code))
    depth = 0
    for pos in range(body, len(code)):
        if code[pos] in "([{":
            depth += 1
        elif code[pos] in ")]}":
            depth -= 1
        elif code[pos] == ";" and depth <= 0:
            return (body, pos)
    return (body, len(code))


CALL_RE = re.compile(r"(?<![\w.>])(IsTraceEnabled|TraceEvent|TraceLastError)\s*\(")


def scan_source(path, text, catalog):
    """Return (sites, problems) of one source file."""
    code = blank_source(text)
    newlines = [i for i, ch in enumerate(code) if ch == "\n"]

    def line_of(pos):
        return bisect.bisect_left(newlines, pos) + 1

    sites, problems, guards = [], [], []
    for match in CALL_RE.finditer(code):
        name, open_pos = match.group(1), match.end() - 1
        close_pos = matching_close(code, open_pos)
        line = line_of(match.start())
        if close_pos < 0:
            problems.append(f"{path}:{line}: unbalanced parentheses after {name}")
            continue
        args = split_call_args(code, open_pos, close_pos)
        if name == "IsTraceEnabled":
            if len(args) == 1 and args[0] in FLAGS:
                guards.append((args[0], line, guarded_range(code, match.start(), close_pos)))
            continue
        site, problem = make_site(path, line, name, args, match.start(), guards, catalog)
        if problem:
            problems.append(problem)
        if site:
            sites.append(site)
    return sites, problems


def make_site(path, line, name, args, pos, guards, catalog):
    """Return (site or None, problem or None) for one TraceEvent/TraceLastError."""
    first = args[0].lstrip(":") if args else ""
    if not re.fullmatch(r"g_guid\w*Component", first):
        return None, None  # a declaration or the provider's own forwarding
    where = f"{path}:{line}"
    if not catalog.component_by_cname(first):
        return None, f"{where}: {name} names unknown component {first}"
    number = args[1] if len(args) > 1 else ""
    if not re.fullmatch(r"0|[1-9]\d*", number):
        return None, f"{where}: {name} event number {number!r} is not a decimal literal"
    if name == "TraceLastError":
        if len(args) != 2:
            return None, f"{where}: TraceLastError takes 2 arguments, found {len(args)}"
        return Site(path, line, first, int(number), "TRACE_ERROR", 1), None
    if not guards:
        return None, f"{where}: TraceEvent without a preceding IsTraceEnabled"
    flag, guard_line, span = guards[-1]
    site = Site(path, line, first, int(number), flag, len(args) - 2)
    if span and not span[0] <= pos <= span[1]:
        return site, (f"{where}: TraceEvent lies outside the statement guarded by "
                      f"IsTraceEnabled at line {guard_line}")
    return site, None


def source_files(src):
    for root, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if name.endswith((".cpp", ".h")):
                yield os.path.join(root, name)


def describe(args):
    return ", ".join(f"{arg.type} {arg.name}" for arg in args) or "none"


def compare_site(site, catalog):
    """Return the problems of one call site against the catalogue."""
    component = catalog.component_by_cname(site.cname)
    event = catalog.by_key.get((component.name, site.number))
    where = f"{site.path}:{site.line}"
    if not event:
        return [f"{where}: {component.name} event {site.number} is not in the catalogue"]
    problems = []
    if event.flag != site.flag:
        problems.append(f"{where}: {component.name} event {site.number} is sent under "
                        f"{site.flag}, the catalogue says {event.flag}")
    if len(event.args) != site.nargs:
        problems.append(f"{where}: {component.name} event {site.number} sends "
                        f"{site.nargs} data argument(s), the catalogue lists "
                        f"{len(event.args)} ({describe(event.args)})")
    return problems


def run_check(catalog, problems, src):
    sites = []
    for path in source_files(src):
        with open(path, encoding="utf-8", errors="replace") as handle:
            found, found_problems = scan_source(path, handle.read(), catalog)
        sites += found
        problems += found_problems
    emitted = set()
    for site in sites:
        problems += compare_site(site, catalog)
        emitted.add((catalog.component_by_cname(site.cname).name, site.number))
    for event in catalog.events:
        if (event.component, event.number) not in emitted:
            problems.append(f"{catalog.path}:{event.line}: {event.component} event "
                            f"{event.number} is not emitted by any code under {src}")
    return sites, problems


# ---- TMF files -------------------------------------------------------------

def tmf_format(event):
    """Return the event's text as a TMF format string (without the %0 prefix)."""
    numbers = {arg.name: (FIRST_TMF_ARG + i, arg.type) for i, arg in enumerate(event.args)}
    out = []
    for kind, value in split_text(event.text):
        if kind == "lit":
            out.append(value.replace("%", "%%"))
        else:
            index, type_name = numbers[value]
            out.append(ARG_TYPES[type_name].tmf.format(n=index))
    return "".join(out)


def tmf_text(catalog, component):
    """Return the TMF file text of one component (CRLF line ends)."""
    source = os.path.basename(catalog.path)
    lines = [f"{component.guid} {component.name} // SRC={source} MJ= MN="]
    events = sorted((e for e in catalog.events if e.component == component.name),
                    key=lambda e: e.number)
    for event in events:
        lines.append(f'#typev {component.name}_{event.number} {event.number} '
                     f'"%0{tmf_format(event)}" //   LEVEL={TMF_LEVELS[event.flag]} '
                     f'FLAGS={event.flag}')
        lines.append("{")
        for i, arg in enumerate(event.args):
            lines.append(f"{arg.name}, {ARG_TYPES[arg.type].item} -- {FIRST_TMF_ARG + i}")
        lines.append("}")
    return "\r\n".join(lines) + "\r\n"


def write_tmf(catalog, out_dir):
    """Write <guid>.tmf for each component that has events; return the paths."""
    os.makedirs(out_dir, exist_ok=True)
    written = []
    for component in catalog.components.values():
        if not any(e.component == component.name for e in catalog.events):
            continue
        path = os.path.join(out_dir, component.guid + ".tmf")
        with open(path, "w", encoding="ascii", newline="") as handle:
            handle.write(tmf_text(catalog, component))
        written.append(path)
    return written


# ---- the program's event table ---------------------------------------------

# Type numbers of the placeholder codes; the order is the program's too.
TABLE_TYPES = ["int", "uint", "hex", "ptr", "str"]
TABLE_END = 0


def placeholder_code(index, type_name):
    """Code 1..15 of argument `index` (0..2) shown as `type_name`."""
    return 1 + index * len(TABLE_TYPES) + TABLE_TYPES.index(type_name)


def table_symbols(event):
    """The event's text as a list of byte values, placeholders as codes."""
    positions = {arg.name: (i, arg.type) for i, arg in enumerate(event.args)}
    symbols = []
    for kind, value in split_text(event.text):
        if kind == "lit":
            symbols += value.encode("ascii")
        else:
            symbols.append(placeholder_code(*positions[value]))
    return symbols


def replace_pair(symbols, pair, code):
    out, i = [], 0
    while i < len(symbols):
        if i + 1 < len(symbols) and (symbols[i], symbols[i + 1]) == pair:
            out.append(code)
            i += 2
        else:
            out.append(symbols[i])
            i += 1
    return out


def pair_encode(texts):
    """Byte-pair encoding: each byte value that no text uses stands for the
    most frequent adjacent pair in turn. Returns (texts, {code: pair})."""
    used = {symbol for text in texts for symbol in text}
    free = [code for code in range(0x10, 0x100) if code not in used]
    pairs = {}
    for code in free:
        counts = {}
        for text in texts:
            for pair in zip(text, text[1:]):
                counts[pair] = counts.get(pair, 0) + 1
        best = max(counts.items(), key=lambda item: (item[1], item[0]), default=None)
        if best is None or best[1] < 3:
            break
        pairs[code] = best[0]
        texts = [replace_pair(text, best[0], code) for text in texts]
    return texts, pairs


def table_source(catalog):
    """Return the C++ source of the event table."""
    names = list(catalog.components)
    encoded, pairs = pair_encode([table_symbols(event) for event in catalog.events])
    records = []
    for event, text in zip(catalog.events, encoded):
        head = (names.index(event.component) + 1) | (FLAGS[event.flag] << 4)
        records.append([head, event.number & 0xFF, event.number >> 8] + text + [TABLE_END])
    pair_bytes = []
    for code in range(256):
        pair_bytes += pairs.get(code, (0, 0))

    def rows(values):
        return ["    " + ", ".join(f"0x{value:02X}" for value in values[i:i + 16]) + ","
                for i in range(0, len(values), 16)]

    lines = [f"// Generated from {os.path.basename(catalog.path)} by tools/trace_catalog.py: do not edit.",
             '#include "trace/event_table.h"', "", '#include "trace/trace.h"', "",
             "const EventComponent g_aEventComponents[] = {"]
    lines += [f'    {{&{catalog.components[name].cname}, "{name}"}},' for name in names]
    lines += ["};", f"const int g_nEventComponents = {len(names)};", "",
              "const unsigned char g_abEventRecords[] = {"]
    for record in records:
        lines += rows(record)
    lines += [f"    0x{TABLE_END:02X},", "};", "", "const unsigned char g_abEventPairs[512] = {"]
    lines += rows(pair_bytes) + ["};", ""]
    return "\n".join(lines)


def write_table(catalog, path):
    """Write the table source, leaving an unchanged file untouched."""
    text = table_source(catalog)
    try:
        with open(path, encoding="ascii") as handle:
            if handle.read() == text:
                return
    except OSError:
        pass
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", encoding="ascii", newline="\n") as handle:
        handle.write(text)


# ---- recordings ------------------------------------------------------------

def decode_ansi(data, encoding):
    """Decode ANSI bytes in the given code page, or guess with 'auto'.

    'auto' takes cp932 when the bytes are valid cp932 and hold a lead byte
    of 0x81-0x9F (kana and common kanji; C1 controls in latin-1), else
    latin-1, which never fails. Western text such as E9 FC is valid cp932
    too, hence the lead-byte test.
    """
    if encoding != "auto":
        return data.decode(encoding, errors="replace")
    if any(0x81 <= byte <= 0x9F for byte in data):
        try:
            return data.decode("cp932")
        except UnicodeDecodeError:
            pass
    return data.decode("latin-1")


def printable(text):
    """Escape control characters so one event stays on one line."""
    return "".join(ch if ch >= " " and ch != "\x7f" else f"\\x{ord(ch):02x}" for ch in text)


def decode_value(arg_type, data, encoding):
    """Return the shown value of one argument, or None when the bytes do not fit."""
    size = ARG_TYPES[arg_type].size
    if size is None:
        if not data.endswith(b"\0"):
            return None
        return printable(decode_ansi(data[:data.index(b"\0")], encoding))
    if len(data) != size:
        return None
    if arg_type == "int":
        return str(struct.unpack("<i", data)[0])
    value = int.from_bytes(data, "little")
    if arg_type == "uint":
        return str(value)
    return f"0x{value:08X}" if arg_type == "hex" else f"{value:016X}"


def render(event, values):
    by_name = dict(zip((arg.name for arg in event.args), values))
    return "".join(value if kind == "lit" else by_name[value]
                   for kind, value in split_text(event.text))


def decode_line(catalog, line, encoding="auto"):
    """Return the readable form of one recording line."""
    fields = line.split(" ")
    try:
        guid, number, flags = fields[0].lower(), int(fields[1], 10), int(fields[2], 16)
        if any(f != "-" and not re.fullmatch(r"(?:[0-9a-fA-F]{2})+", f) for f in fields[3:]):
            raise ValueError("bad hex")
        args = [b"" if f == "-" else bytes.fromhex(f) for f in fields[3:]]
    except (IndexError, ValueError):
        return f"unparsed {printable(line)}"
    hex_args = " ".join(fields[3:])
    component = catalog.component_by_guid(guid)
    event = catalog.by_key.get((component.name, number)) if component else None
    if not event:
        return f"unknown {guid} {number} {hex_args}".rstrip()
    head = f"{component.name} {number} {event.flag[len('TRACE_'):]}"
    values = [decode_value(arg.type, data, encoding) for arg, data in zip(event.args, args)]
    if len(args) != len(event.args) or None in values:
        return (f"{head} ?? arguments do not match the catalogue "
                f"({describe(event.args)}): {hex_args}").rstrip()
    note = "" if flags == MESSAGE_FLAGS else f" [message flags 0x{flags:x}]"
    return f"{head} {render(event, values)}{note}"


# ---- command line ----------------------------------------------------------

def open_catalog(path):
    """Load the catalogue or exit 2 with its problems."""
    try:
        catalog, problems = load_catalog(path)
    except (OSError, UnicodeDecodeError) as error:
        sys.exit(f"{path}: cannot read catalogue: {error}")
    if problems:
        print("\n".join(problems), file=sys.stderr)
        sys.exit(2)
    return catalog


def command_check(options):
    try:
        catalog, problems = load_catalog(options.catalog)
    except (OSError, UnicodeDecodeError) as error:
        sys.exit(f"{options.catalog}: cannot read catalogue: {error}")
    if not os.path.isdir(options.src):
        sys.exit(f"{options.src}: not a directory")
    sites, problems = run_check(catalog, problems, options.src)
    for problem in problems:
        print(problem)
    print(f"{len(catalog.events)} catalogue events, {len(sites)} call sites, "
          f"{len(problems)} problem(s)", file=sys.stderr)
    return 1 if problems else 0


def command_tmf(options):
    for path in write_tmf(open_catalog(options.catalog), options.out):
        print(path)
    return 0


def command_table(options):
    write_table(open_catalog(options.catalog), options.out)
    return 0


def command_decode(options):
    catalog = open_catalog(options.catalog)
    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(errors="backslashreplace")
    try:
        with open(options.recording, encoding="ascii", errors="replace") as handle:
            for line in handle:
                line = line.rstrip("\r\n")
                if line.strip():
                    print(decode_line(catalog, line, options.encoding))
    except OSError as error:
        sys.exit(f"{options.recording}: {error}")
    return 0


def encoding_name(name):
    """Accept 'auto' or a code page Python knows."""
    if name != "auto":
        try:
            codecs.lookup(name)
        except LookupError:
            raise argparse.ArgumentTypeError(f"unknown encoding {name!r}") from None
    return name


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    check = commands.add_parser("check", help="compare catalogue and call sites")
    check.add_argument("--catalog", required=True)
    check.add_argument("--src", required=True)
    check.set_defaults(run=command_check)
    tmf = commands.add_parser("tmf", help="write TMF files")
    tmf.add_argument("--catalog", required=True)
    tmf.add_argument("--out", required=True)
    tmf.set_defaults(run=command_tmf)
    table = commands.add_parser("table", help="write the program's event table")
    table.add_argument("--catalog", required=True)
    table.add_argument("--out", required=True)
    table.set_defaults(run=command_table)
    decode = commands.add_parser("decode", help="decode a test recording")
    decode.add_argument("--catalog", required=True)
    decode.add_argument("--encoding", default="auto", type=encoding_name,
                        help="code page of string arguments (default: auto, "
                             "cp932 when it looks like cp932, else latin-1)")
    decode.add_argument("recording")
    decode.set_defaults(run=command_decode)
    options = parser.parse_args(argv)
    return options.run(options)


if __name__ == "__main__":
    sys.exit(main())
