#!/usr/bin/env python3
"""Counts the wineserver requests a program's thread made between its marks, per line.

  WINEDEBUG=+server,+debugstr wine copy_profile.exe ... > trace.txt 2>&1
  server_requests.py trace.txt LINES

The marks are OutputDebugStringA texts "<part>-begin" and "<part>-end" (copy_profile.exe writes
"window" and "copy"); the wineserver must write its trace into the same file (a wineserver
started from the same shell, as scripts/lib.sh starts it). Every request the marking thread made
between the two marks is counted by name, and divided by LINES."""
import collections
import re
import sys

MARK = re.compile(r'^([0-9a-f]{4}):warn:debugstr:OutputDebugStringA "([a-z]+)-(begin|end)\\n"')
REQUEST = re.compile(r"^([0-9a-f]{4}): (\w+)\( ")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    lines = int(sys.argv[2])
    part, thread, counts = None, None, collections.Counter()
    for text in open(sys.argv[1], errors="replace"):
        mark = MARK.match(text)
        if mark:
            if mark.group(3) == "begin":
                part, thread, counts = mark.group(2), mark.group(1), collections.Counter()
            elif part == mark.group(2):
                print("%s: %.2f requests per line" % (part, sum(counts.values()) / lines))
                for name, n in counts.most_common():
                    if n * 100 >= lines:  # at least one line in a hundred
                        print("  %-26s %6.2f" % (name, n / lines))
                part = None
            continue
        request = REQUEST.match(text)
        if part and request and request.group(1) == thread:
            counts[request.group(2)] += 1


if __name__ == "__main__":
    main()
