#!/usr/bin/env python3
"""Prints the account rows of a run record as the what-if listing words them,
sorted, so that a what-if and the run that followed it can be compared.

    record_lines.py RECORD.csv      the record's account rows
    record_lines.py --whatif OUT    the account lines of a what-if's output
"""
import csv
import re
import sys


def from_record(path):
    with open(path, encoding="utf-8-sig", newline="") as f:
        for row in csv.DictReader(f):
            if not row["account"]:
                continue
            if not row["flags_before"]:  # the account was not read
                line = "    %s: -" % row["account"]
            else:
                line = '    %s: "%s" -> "%s"' % (row["account"], row["script_before"], row["script_after"])
            if row["file_action"]:
                line += ", wrapper %s %s" % (row["file"], row["file_action"])
            yield "%s; %s: %s" % (line, row["result"], row["reason"])


def from_whatif(path):
    account = re.compile(r'^    [^ :]+: (-|").*; (changed|unchanged|failed|skipped): ')
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if account.match(line):
                yield line


if __name__ == "__main__":
    lines = from_whatif(sys.argv[2]) if sys.argv[1] == "--whatif" else from_record(sys.argv[1])
    for line in sorted(lines):
        print(line)
