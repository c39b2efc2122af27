#!/usr/bin/env python3
"""Where the database server's time goes, from its slow query log.

    bench/statement_profile.py LOG [--per N] [--top K] [--width W]

LOG is a MariaDB slow query log written with long_query_time = 0, so that
it holds every statement with its time (crawl_bench.py --statement-log,
SE_BENCH_STATEMENT_LOG=1 bench/search_latency.sh). Statements are grouped by
shape: numbers and quoted texts are masked and runs of value lists folded,
so that the same statement with other values counts once. For each shape
the table gives how many were sent and their server time per unit (--per:
the requests or pages the log covers), the mean time of one, and the mean
rows sent and examined; the last line gives the totals. The log's own
writing adds to every statement's time, so the figures are for comparing
statements with each other, not for latency.
"""

import argparse
import collections
import re
import sys

# The lines the server writes when it opens the log.
OPENING = re.compile(r"^(\S+, Version: |Tcp port: |Time\s+Id\s+Command)")
HEADER = re.compile(r"^# Query_time: ([\d.]+)\s+Lock_time: [\d.]+\s+"
                    r"Rows_sent: (\d+)\s+Rows_examined: (\d+)")


def statements(lines):
    """(seconds, rows sent, rows examined, statement text) for each entry."""
    entry = None
    text = []
    for line in lines:
        if OPENING.match(line):
            continue
        found = HEADER.match(line)
        if found:
            if entry and text:
                yield entry + (" ".join(text),)
            entry = (float(found.group(1)), int(found.group(2)), int(found.group(3)))
            text = []
        elif entry is not None and line.strip() and not line.startswith(
                ("#", "SET timestamp=", "use ")):
            text.append(line.strip())
    if entry and text:
        yield entry + (" ".join(text),)


def shape(statement):
    """The statement with its values masked and repeated value lists folded."""
    masked = re.sub(r"'(?:[^'\\]|\\.)*'|\"(?:[^\"\\]|\\.)*\"", "S", statement)
    masked = re.sub(r"\b\d+(?:\.\d+)?\b", "N", masked)
    masked = re.sub(r"(?:N\s*,\s*)+N", "N..", masked)
    value = r"(?:N\.\.|N|X?S|NULL)"
    masked = re.sub(r"\(\s*%s(?:\s*,\s*%s)*\s*\)" % (value, value), "(..)", masked)
    masked = re.sub(r"(?:\(\.\.\)\s*,\s*)+\(\.\.\)", "(..)..", masked)
    return re.sub(r"\s+", " ", masked)


def profile(path, per=1, top=20, width=110, out=sys.stdout):
    shapes = collections.defaultdict(lambda: [0, 0.0, 0, 0])
    with open(path, encoding="latin-1") as log:
        for seconds, sent, examined, text in statements(log):
            entry = shapes[shape(text)]
            entry[0] += 1
            entry[1] += seconds
            entry[2] += sent
            entry[3] += examined
    per = max(per, 1)
    print("| statements per unit | ms per unit | µs each | rows sent | rows examined | statement |",
          file=out)
    print("|---:|---:|---:|---:|---:|---|", file=out)
    ranked = sorted(shapes.items(), key=lambda item: -item[1][1])
    for text, (count, seconds, sent, examined) in ranked[:top]:
        print("| %.2f | %.3f | %.0f | %.0f | %.0f | %s |" % (
            count / per, seconds * 1000 / per, seconds * 1e6 / count, sent / count,
            examined / count, text[:width].replace("|", "\\|")), file=out)
    count = sum(entry[0] for entry in shapes.values())
    seconds = sum(entry[1] for entry in shapes.values())
    print("| %.2f | %.3f | %.0f | | | all statements (%d shapes) |" % (
        count / per, seconds * 1000 / per, seconds * 1e6 / max(count, 1), len(shapes)), file=out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("log")
    parser.add_argument("--per", type=int, default=1,
                        help="the requests or pages the log covers (default 1)")
    parser.add_argument("--top", type=int, default=20, help="shapes shown (default 20)")
    parser.add_argument("--width", type=int, default=110, help="characters of each shape shown")
    args = parser.parse_args()
    profile(args.log, args.per, args.top, args.width)


if __name__ == "__main__":
    main()
