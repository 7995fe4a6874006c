#!/usr/bin/env python3
"""Joins the part reports of tools/fault-sweep.sh into one.

Usage: join-sweep-reports.py SECONDS REPORT... > docs/reliability.md

Each part report holds a header, a "## Summary" table, the part's tables and
last the table of calls never made to fail. The joined report has one
header, one summary with a row per sweep and scenario (a scenario split over
parts is summed: runs, faulty runs, accepted runs by reason, time), the
wall-clock time of the parts side by side, the parts' tables in order and
the last table once. A scenario split over parts keeps one table per part;
the later ones are marked as continuing it.
"""
import re
import sys

SUMMARY_RULE = "|---|---|---|---|---|---|\n"


def split(path):
    text = open(path).read()
    summary = text.index("## Summary")
    rows = text.index(SUMMARY_RULE, summary) + len(SUMMARY_RULE)
    body = text.index("\n\n", rows) + 2
    last = text.index("## Calls that are never made to fail")
    return text[:summary], text[summary:rows], text[rows:body].strip("\n").split("\n"), text[body:last], text[last:]


def merge_rows(row_lists):
    merged = {}
    for row in (row for rows in row_lists for row in rows):
        sweep, scenario, runs, faulty, accepted, seconds = [cell.strip() for cell in row.strip("|").split("|")]
        entry = merged.setdefault((sweep, scenario), [0, 0, {}, 0])
        entry[0] += int(runs)
        entry[1] += int(faulty)
        for reason in ([] if accepted == "none" else re.split(r"; (?=\d+ )", accepted)):
            count, text = re.match(r"(\d+) (.*)", reason).groups()
            entry[2][text] = entry[2].get(text, 0) + int(count)
        entry[3] += int(seconds.split()[0])
    lines = []
    for (sweep, scenario), (runs, faulty, reasons, seconds) in merged.items():
        accepted = "; ".join("%d %s" % (count, text) for text, count in reasons.items()) or "none"
        lines.append("| %s | %s | %d | %d | %s | %d s |" % (sweep, scenario, runs, faulty, accepted, seconds))
    return lines


def main():
    seconds = int(sys.argv[1])
    parts = [split(path) for path in sys.argv[2:]]
    rows = merge_rows(part[2] for part in parts)
    out = parts[0][0] + parts[0][1] + "\n".join(rows) + "\n\n"
    out += ("%d runs, %d faulty. Time is the sum of a scenario's runs; the sweeps ran as %d processes side by "
            "side and took %d min %d s in all.\n\n" % (sum(int(r.split("|")[3]) for r in rows),
                                                        sum(int(r.split("|")[4]) for r in rows), len(parts),
                                                        seconds // 60, seconds % 60))
    kill_heading = False
    headings = set()
    for part in parts:
        body = part[3]
        if body.startswith("# Kill sweep"):
            if kill_heading:
                body = body[body.index("\n## "):].lstrip("\n")
            kill_heading = True
        for heading in re.findall(r"^## .*$", body, re.M):
            if heading in headings:
                body = body.replace(heading + "\n", heading + " (continued: the other functions)\n", 1)
            headings.add(heading)
        out += body
    sys.stdout.write(out + parts[0][4])


main()
