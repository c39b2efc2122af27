"""The crawler through faults: stops in the middle of a crawl and the runs
that resume it, a refresh of a changed page, and an index server that drops
idle sessions or goes away in the middle of a crawl.

The crawled site is the timing-independent tree of crawler_index_test.py,
served slowly, so that a stop or an outage lands in the middle of the
crawl; whatever happens, the index must end up holding what one quiet crawl
of it holds (the fixture crawler_index.expected).

- "exit", then SIGTERM, in the middle of a crawl: the crawler ends with
  status 0 and saves its queue; a second run, given nothing, completes the
  index to the fixture's contents.
- SIGKILL in the middle of a crawl: the next start leaves no page fetched
  and never analysed, no document half indexed, and no conversion file; a
  second SIGINT during the stop ends the crawler at once (status 130).
- --refresh 0 re-indexes a page changed on the server, and a run without it
  does not fetch the page again.
- A page whose keyword rows the server refuses as a deadlock victim (which
  ends the transaction of the group of pages it was written with) costs
  that page only: it is reported, and every other page is indexed as in a
  quiet crawl.
- On a database server of the test's own: with wait_timeout 1 s the crawler
  reopens its sessions without a word; stopped in the middle of a crawl and
  started again, the crawl says so once, waits, and completes the index.

Usage: crawler_faults_test.py BUILD_DIR [PART]; the parts (stops, refresh,
deadlock, idle_timeout, outage) run on their own when named."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crawler_run import Crawler, Database, Site, start_parts, write_config  # noqa: E402
from crawler_crawl_test import crawl, html  # noqa: E402
from crawler_index_test import BASE, EXPECTED, THEMES, dump, site_pages  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DBSERVER = os.path.join(SOURCE, "scripts", "dbserver.sh")
PAGE_DELAY = 0.4
UNAVAILABLE = "the index database is unavailable: "
BACK = "the index database is back\n"
# Failures that must not happen; a download error is part of the site (a
# dead link).
FAILURES = ("ERROR DATABASE", "ERROR PARSE", "ERROR THREAD", "could not be saved")


def failures(log):
    return [line for line in log.split("\n") if any(word in line for word in FAILURES)]


def slow_site():
    return Site({path: (kind, body, PAGE_DELAY) for path, (kind, body, _) in
                 site_pages().items()})


def expected_lines():
    with open(EXPECTED, encoding="latin-1") as expected_file:
        return expected_file.read().split("\n")[:-1]


def start_urls():
    return BASE + "index.html " + BASE + "lone.html\n"


def wait_for_requests(site, count, limit=30):
    deadline = time.time() + limit
    while len(site.requests) < count and time.time() < deadline:
        time.sleep(0.05)
    return len(site.requests) >= count


def compare(checks, what, db, stdout_lines):
    checks.index_invariants(db)
    result = dump(db) + ["stdout " + line for line in sorted(stdout_lines)]
    expected = expected_lines()
    missing = [line for line in expected if line not in result]
    extra = [line for line in result if line not in expected]
    checks.expect(what + ": the index equals that of an uninterrupted crawl",
                  not missing and not extra and len(result) == len(expected),
                  "\nmissing:\n  %s\nunexpected:\n  %s" % (
                      "\n  ".join(line[:120] for line in missing[:20]),
                      "\n  ".join(line[:120] for line in extra[:20])))
    checks.expect(what + ": no saved queue left",
                  db.column("SELECT url FROM FileAttente") == [],
                  str(db.column("SELECT url FROM FileAttente")))


def stdout_lines(*crawlers):
    return [line for crawler in crawlers for line in crawler.stdout().split("\n") if line]


def interrupted_then_resumed(checks, build, db, how):
    """Stops a crawl with `how` ("exit" or SIGTERM) after a few pages, then
    lets a second run, given nothing, finish it."""
    db.reset()
    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, BASE, THEMES, max_depth=0)
        site = slow_site()
        first = Crawler(build, workdir, db.env())
        first.type(start_urls())
        checks.expect(how + ": the crawl is under way", wait_for_requests(site, 3))
        asked = time.time()
        if how == "exit":
            first.type("exit\n")
        else:
            first.process.send_signal(signal.SIGTERM)
        status = first.wait(30)
        print("%s: stopped %.2f s after the request" % (how, time.time() - asked))
        first.kill()
        checks.expect(how + ": the crawler ends with status 0", status == 0, str(status))
        log = first.stderr()
        checks.expect(how + ": the queue is saved", "URLs saved for the next run: " in log, log)
        checks.expect(how + ": stopped before the end",
                      len(site.requests) < len(site_pages()), str(site.requests))
        checks.expect(how + ": no page left fetched and never analysed", db.column(
            "SELECT url FROM Url WHERE lastVisit IS NULL") == [])

        second = Crawler(build, workdir, db.env())
        checks.expect(how + ": the second run ends with status 0", crawl(second, site, 0) == 0)
        site.close()
        checks.expect(how + ": the second run resumes the queue",
                      "URLs queued again from the last run: " in second.stderr(), second.stderr())
        checks.expect(how + ": no failure", failures(log + second.stderr()) == [],
                      log + second.stderr())
        compare(checks, how, db, stdout_lines(first, second))


def page_rows(lines, url):
    """The Url and CorrespMotUrl lines of one page among dump lines."""
    return sorted(line for line in lines
                  if line.startswith("Url " + url + " ") or
                  line.startswith("CorrespMotUrl " + url + "\t"))


def fixture_rows_of(url):
    """The fixture's Url and CorrespMotUrl lines of one page."""
    return page_rows(expected_lines(), url)


def killed(checks, build, db):
    db.reset()
    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, BASE, THEMES, max_depth=0)
        site = slow_site()
        first = Crawler(build, workdir, db.env())
        first.type(start_urls())
        checks.expect("SIGKILL: the crawl is under way", wait_for_requests(site, 4))
        first.process.send_signal(signal.SIGKILL)
        first.wait(10)
        # A conversion file that a killed run left.
        with open(os.path.join(workdir, "zparsepsAb12Cd"), "w") as leftover:
            leftover.write("%!PS\n")
        second = Crawler(build, workdir, db.env())
        second.type("exit\n")
        checks.expect("SIGKILL: the next run ends with status 0", second.wait(30) == 0)
        site.close()
        checks.expect("SIGKILL: no page fetched and never analysed", db.column(
            "SELECT url FROM Url WHERE lastVisit IS NULL") == [])
        urls = db.column("SELECT url FROM Url")
        checks.expect("SIGKILL: the pages analysed before the kill stay", urls != [], str(urls))
        lines = dump(db)
        for url in urls:
            mine = page_rows(lines, url)
            checks.expect("SIGKILL: whole or nothing: " + url, mine == fixture_rows_of(url),
                          "%d rows instead of %d" % (len(mine), len(fixture_rows_of(url))))
        left = [name for name in os.listdir(workdir) if name.startswith("zparseps")]
        checks.expect("SIGKILL: conversion files removed at the next start", left == [], str(left))


def interrupted_twice(checks, build, db):
    """A second SIGINT during the orderly stop ends the crawler at once; the
    next start cleans up as after a kill."""
    db.reset()
    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, BASE, THEMES, max_depth=0)
        site = slow_site()
        first = Crawler(build, workdir, db.env())
        first.type(start_urls())
        checks.expect("two SIGINTs: the crawl is under way", wait_for_requests(site, 3))
        first.process.send_signal(signal.SIGINT)
        time.sleep(0.05)
        first.process.send_signal(signal.SIGINT)
        status = first.wait(10)
        first.kill()
        checks.expect("two SIGINTs: status 130", status == 130, str(status))
        second = Crawler(build, workdir, db.env())
        second.type("exit\n")
        checks.expect("two SIGINTs: the next run ends with status 0", second.wait(30) == 0)
        site.close()
        checks.expect("two SIGINTs: no page fetched and never analysed", db.column(
            "SELECT url FROM Url WHERE lastVisit IS NULL") == [])


def refresh(checks, build, db):
    db.reset()
    url = "http://localhost/r/page.html"
    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, "http://localhost/r/", "abeille 0\nmiel 1\nruche 1\n")
        site = Site({"/r/page.html": ("text/html", html("abeille miel ancien"), 0),
                     "/r/off.html": ("text/html", html("abeille miel hors"), 0)})

        def words(page):
            return db.column("SELECT m.mot FROM CorrespMotUrl c JOIN MotCle m USING (idMot) "
                             "JOIN Url u USING (idUrl) WHERE u.url = 'http://localhost/r/%s'"
                             % page)

        def run(*args, typed=""):
            crawler = Crawler(build, workdir, db.env(), args)
            crawler.type(typed)
            status = crawl(crawler, site, 0)
            return status, crawler.stderr()

        status, _ = run(typed=url + " http://localhost/r/off.html\n")
        checks.expect("refresh: first crawl", status == 0 and sorted(site.requests) == [
            "/r/off.html", "/r/page.html"], str(site.requests))
        checks.expect("refresh: the old words",
                      words("page.html") == ["abeille", "ancien", "miel"], str(words("page.html")))
        before = db.column("SELECT lastVisit FROM Url WHERE url = '%s'" % url)
        site.pages["/r/page.html"] = ("text/html", html("abeille ruche ruche nouveau"), 0)
        site.pages["/r/off.html"] = ("text/html", html("plus rien ici"), 0)
        time.sleep(1.1)  # lastVisit has a resolution of one second

        site.requests.clear()
        status, log = run(typed=url + "\n")
        checks.expect("refresh: without the option, nothing is fetched again",
                      status == 0 and site.requests == [], str(site.requests))
        checks.expect("refresh: ... and the old words stay",
                      words("page.html") == ["abeille", "ancien", "miel"], str(words("page.html")))

        status, log = run("--refresh", "0")
        checks.expect("refresh: each page fetched once again",
                      status == 0 and sorted(site.requests) == ["/r/off.html", "/r/page.html"],
                      str(site.requests) + log)
        checks.expect("refresh: the changed page has its new words only",
                      words("page.html") == ["abeille", "nouveau", "ruche"], str(words("page.html")))
        checks.expect("refresh: a page now off theme has no keywords left",
                      words("off.html") == [], str(words("off.html")))
        checks.expect("refresh: theme counts replaced", db.column(
            "SELECT url, nbMotsTheme FROM Url") == ["http://localhost/r/off.html\t0",
                                                   url + "\t1"],
            str(db.column("SELECT url, nbMotsTheme FROM Url")))
        after = db.column("SELECT lastVisit FROM Url WHERE url = '%s'" % url)
        checks.expect("refresh: lastVisit moves on", after > before, "%s %s" % (before, after))
        checks.expect("refresh: a refreshed page is not marked invalid", db.column(
            "SELECT url FROM UrlInvalide WHERE url LIKE '%/r/off.html'") == [])

        site.requests.clear()
        status, log = run("--refresh", "3")
        checks.expect("refresh: pages analysed less than 3 days ago stay",
                      status == 0 and site.requests == [], str(site.requests))
        site.close()
        checks.index_invariants(db)


class OwnServer:
    """A database server of the test's own, which it stops and starts, under
    build/e2e/faults-NAME."""

    def __init__(self, build, name):
        self.dir = os.path.join(build, "e2e", "faults-" + name, "db")
        shutil.rmtree(os.path.dirname(self.dir), ignore_errors=True)
        os.makedirs(self.dir)
        self.command("start")
        self.db = Database(build, "search_engine")
        self.db.socket = os.path.join(self.dir, "mysqld.sock")

    def command(self, what):
        subprocess.run([DBSERVER, what, self.dir], check=True, stdout=subprocess.DEVNULL)


def aborted_clients(db):
    """Sessions the server has dropped (idle time-out included)."""
    return int(db.client("-e", "SHOW GLOBAL STATUS LIKE 'Aborted_clients'",
                         database=False).split()[1])


def idle_timeout(checks, build, server):
    db = server.db
    db.reset()
    # The shortest time-out the server takes; a page takes longer to come,
    # and the client gives a page up after 2 s without data.
    db.client("-e", "SET GLOBAL wait_timeout = 1", database=False)
    try:
        with tempfile.TemporaryDirectory() as workdir:
            write_config(workdir, BASE, THEMES, max_depth=0)
            # Each page takes longer than the server lets a session idle.
            site = Site({path: (kind, body, 1.5) for path, (kind, body, _) in
                         site_pages().items() if path in ("/site/index.html", "/site/b.html")})
            dropped_before = aborted_clients(db)
            crawler = Crawler(build, workdir, db.env())
            crawler.type(BASE + "index.html\n")
            status = crawl(crawler, site, 2, quiet_seconds=3.5)
            site.close()
            log = crawler.stderr()
            checks.expect("idle time-out: status 0", status == 0, str(status))
            dropped = aborted_clients(db) - dropped_before
            checks.expect("idle time-out: the server dropped the crawler's idle sessions",
                          dropped >= 2, str(dropped))
            checks.expect("idle time-out: nothing said about the database",
                          UNAVAILABLE not in log and "ERROR DATABASE" not in log, log)
            rows = db.column("SELECT url, nbMotsTheme FROM Url WHERE lastVisit IS NOT NULL")
            checks.expect("idle time-out: both pages fetched and indexed",
                          rows == [BASE + "b.html\t2", BASE + "index.html\t2"], str(rows) + log)
    finally:
        db.client("-e", "SET GLOBAL wait_timeout = DEFAULT", database=False)


def outage(checks, build, server):
    db = server.db
    db.reset()
    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, BASE, THEMES, max_depth=0)
        site = slow_site()
        crawler = Crawler(build, workdir, db.env())
        crawler.type(start_urls())
        checks.expect("outage: the crawl is under way", wait_for_requests(site, 3))
        server.command("stop")
        deadline = time.time() + 20
        while UNAVAILABLE not in crawler.stderr() and time.time() < deadline:
            time.sleep(0.1)
        checks.expect("outage: reported", UNAVAILABLE in crawler.stderr(), crawler.stderr())
        time.sleep(3)  # a few turns of the backoff
        checks.expect("outage: the crawler waits", crawler.process.poll() is None)
        server.command("start")
        restarted = time.time()
        while BACK not in crawler.stderr() and time.time() < restarted + 60:
            time.sleep(0.05)
        print("outage: going on %.2f s after the server answers again" %
              (time.time() - restarted))
        status = crawl(crawler, site, len(site_pages()) - 1, quiet_seconds=3)
        site.close()
        log = crawler.stderr()
        checks.expect("outage: status 0", status == 0, str(status))
        checks.expect("outage: reported once, and its end once",
                      log.count(UNAVAILABLE) == 1 and log.count(BACK) == 1, log)
        checks.expect("outage: no URL given up, no failure", failures(log) == [], log)
        compare(checks, "outage", db, stdout_lines(crawler))


def deadlock(checks, build, db):
    db.reset()
    victim = BASE + "b.html"
    # The other on-theme pages are written slowly, so that the pages
    # fetched meanwhile wait and are written in groups, the victim's with
    # others.
    db.client(stdin=(
        "DELIMITER //\n"
        "CREATE TRIGGER victim BEFORE INSERT ON CorrespMotUrl FOR EACH ROW "
        "IF NEW.idUrl = (SELECT idUrl FROM Url WHERE url = '%s') THEN "
        "SIGNAL SQLSTATE '40001' SET MYSQL_ERRNO = 1213, MESSAGE_TEXT = 'deadlock'; END IF//\n"
        "CREATE TRIGGER slow BEFORE INSERT ON Document FOR EACH ROW "
        "IF NEW.idUrl <> (SELECT idUrl FROM Url WHERE url = '%s') THEN "
        "SET @slept = SLEEP(0.3); END IF//\n" % (victim, victim)).encode())
    try:
        with tempfile.TemporaryDirectory() as workdir:
            write_config(workdir, BASE, THEMES, max_depth=0)
            site = Site(site_pages())
            crawler = Crawler(build, workdir, db.env())
            crawler.type(start_urls())
            status = crawl(crawler, site, len(site_pages()) - 1)
            site.close()
            log = crawler.stderr()
            checks.expect("deadlock: status 0", status == 0, str(status))
            checks.expect("deadlock: the page is reported once",
                          log.count("ERROR DATABASE " + victim + " : deadlock") == 1, log)
            checks.expect("deadlock: no other failure",
                          [line for line in failures(log) if victim not in line] == [], log)
            checks.index_invariants(db)
            # Every row of the other pages is that of a quiet crawl; the
            # victim's own and its keywords are not there.
            kept = [line for line in expected_lines()
                    if not line.startswith(("stdout ", "MotCle ", "Url " + victim + " ")) and
                    not line.startswith("CorrespMotUrl " + victim + "\t")]
            rows = [line for line in dump(db) if not line.startswith("MotCle ")]
            checks.expect("deadlock: the other pages are indexed whole",
                          sorted(rows) == sorted(kept),
                          "\nmissing: %s\nunexpected: %s" % (
                              [line[:100] for line in kept if line not in rows][:10],
                              [line[:100] for line in rows if line not in kept][:10]))
    finally:
        db.client("-e", "DROP TRIGGER IF EXISTS victim; DROP TRIGGER IF EXISTS slow")


def on_own_server(name, case):
    """A part that runs case(checks, build, server) on a database server of
    its own, stopped at the end whatever happens."""
    def part(checks, build, _):
        server = OwnServer(build, name)
        try:
            case(checks, build, server)
        finally:
            server.command("stop")
    return part


def stops(checks, build, db):
    interrupted_then_resumed(checks, build, db, "exit")
    interrupted_then_resumed(checks, build, db, "SIGTERM")
    killed(checks, build, db)
    interrupted_twice(checks, build, db)


def main():
    build, db, checks, parts = start_parts(sys.argv, "se_test_e2e_faults", [
        ("stops", stops), ("refresh", refresh), ("deadlock", deadlock),
        ("idle_timeout", on_own_server("idle", idle_timeout)),
        ("outage", on_own_server("outage", outage))])
    for part in parts:
        part(checks, build, db)
    checks.finish()


if __name__ == "__main__":
    main()
