"""The crawler as an operator sees it: how the console ends, the messages
for missing configuration files (status 2), and a database that cannot be
reached.
Usage: crawler_console_test.py BUILD_DIR"""

import os
import sys
import tempfile

from crawler_run import Crawler, start_test, write_config

CONFIG_MISSING = "le fichier pour le chargement de la config n'a pas pu \xeatre ouvert : "
THEMES_MISSING = "le fichier pour le chargement des mots du theme n'a pas pu \xeatre ouvert : "


def main():
    build, db, checks = start_test(sys.argv, "se_test_e2e_console")

    def start(workdir, env=None):
        return Crawler(build, workdir, env or db.env())

    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, "http://localhost/site/", "abeille 1\n")

        crawler = start(workdir)
        crawler.type("exit\n")
        checks.expect("'exit' as the first word ends with status 0", crawler.wait(10) == 0)
        checks.expect("nothing on standard output", crawler.stdout() == "", repr(crawler.stdout()))

        crawler = start(workdir)
        crawler.type("http://localhost/site/a.html\n")
        crawler.close_input()
        checks.expect("end of input ends with status 0", crawler.wait(5) == 0)

        crawler = start(workdir)
        crawler.type("EXIT exitx exi\n")
        checks.expect("words that are not exactly 'exit' do not stop it", crawler.wait(1) is None)
        crawler.type("exit\n")
        checks.expect("... and 'exit' then does", crawler.wait(10) == 0)
        crawler.kill()

        crawler = start(workdir, dict(db.env(), SE_DB_NAME="se_test_e2e_no_such_db"))
        crawler.type("exit\n")
        status = crawler.wait(10)
        lines = crawler.stderr().split("\n")
        checks.expect("unreachable database: status 1", status == 1, str(status))
        checks.expect("unreachable database: one line on standard error",
                      len(lines) == 2 and lines[0].startswith(
                          "cannot connect to the index database: ") and lines[1] == "",
                      repr(crawler.stderr()))
        checks.expect("unreachable database: stops before reading the configuration",
                      crawler.stdout() == "", repr(crawler.stdout()))
        crawler.kill()

        # A missing file stops the crawler before it reads the console.
        os.remove(os.path.join(workdir, "themes.txt"))
        crawler = start(workdir)
        checks.expect("missing theme-word file: status 2", crawler.wait(10) == 2)
        checks.expect("missing theme-word file: its message",
                      crawler.stdout() == THEMES_MISSING + "themes.txt\n", repr(crawler.stdout()))
        crawler.kill()

    with tempfile.TemporaryDirectory() as empty:
        crawler = start(empty)
        checks.expect("missing configuration: status 2", crawler.wait(10) == 2)
        checks.expect("missing configuration: its message only",
                      crawler.stdout() == CONFIG_MISSING + "engineconfig.cfg\n",
                      repr(crawler.stdout()))
        crawler.kill()
    checks.finish()


if __name__ == "__main__":
    main()
