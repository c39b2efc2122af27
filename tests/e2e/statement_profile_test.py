#!/usr/bin/env python3
"""bench/statement_profile.py on a slow query log written the way the server
writes it: statements that differ only in their values are one shape, a
statement over several lines is one statement, the lines the server writes
when it opens the log again are no part of any statement, and the figures
per unit are the log's sums divided by --per.

    statement_profile_test.py SOURCE_DIR
"""

import os
import subprocess
import sys
import tempfile

OPENING = """/usr/sbin/mariadbd, Version: 10.11.19-MariaDB-0+deb12u1 (Debian 12). started with:
Tcp port: 0  Unix socket: /tmp/x/mysqld.sock
Time\t\t    Id Command\tArgument
"""


def entry(seconds, sent, examined, statement, time_line=False):
    return ("# Time: 261209 13:33:18\n" if time_line else "") + (
        "# User@Host: se_user[se_user] @ localhost []\n"
        "# Thread_id: 8  Schema: search_engine  QC_hit: No\n"
        "# Query_time: %.6f  Lock_time: 0.000010  Rows_sent: %d  Rows_examined: %d\n"
        "# Rows_affected: 0  Bytes_sent: 11\n"
        "SET timestamp=1796822039;\n%s\n" % (seconds, sent, examined, statement))


def main():
    source = sys.argv[1]
    log = (OPENING
           + entry(0.004, 0, 0, "INSERT INTO MotCle ( Mot ) VALUES (\"abeille\"),(\"l'eau\");",
                   time_line=True)
           + entry(0.002, 10, 20, "select idUrl, ratio from CorrespMotUrl\nwhere idMot=17\n"
                   "order by ratio desc limit 0,64;")
           # The log opened again: its lines belong to no statement.
           + OPENING
           + entry(0.008, 0, 0, "INSERT INTO MotCle ( Mot ) VALUES (\"ruche\"),(\"cire\"),"
                   "(\"miel\\\"s\");")
           + entry(0.006, 30, 40, "select idUrl, ratio from CorrespMotUrl where idMot=3 "
                   "order by ratio desc limit 64,128;"))
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "statements.log")
        with open(path, "w", encoding="latin-1") as out:
            out.write(log)
        table = subprocess.run(
            [sys.executable, os.path.join(source, "bench", "statement_profile.py"), path,
             "--per", "2", "--width", "200"],
            check=True, capture_output=True, text=True).stdout
    rows = [line.split(" | ") for line in table.splitlines()[2:]]
    failures = []

    def expect(what, found, wanted):
        if found != wanted:
            failures.append("%s: %r, expected %r" % (what, found, wanted))

    expect("rows", len(rows), 3)
    if len(rows) == 3:
        insert, select, total = rows
        # Ordered by time: the two inserts (12 ms), then the two selects (8 ms).
        expect("insert shape", insert[5], "INSERT INTO MotCle ( Mot ) VALUES (..)..; |")
        expect("insert per unit", insert[:3], ["| 1.00", "6.000", "6000"])
        expect("select shape", select[5],
               "select idUrl, ratio from CorrespMotUrl where idMot=N order by ratio desc "
               "limit N..; |")
        expect("select per unit", select[:5], ["| 1.00", "4.000", "4000", "20", "30"])
        expect("total", total[:3] + [total[-1].lstrip("| ")],
               ["| 2.00", "10.000", "5000", "all statements (2 shapes) |"])
    if failures:
        print(table)
        print("\n".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
