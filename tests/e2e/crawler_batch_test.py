"""The crawler run unattended, and what stops it before it starts.

- Batch mode (--start, --until-idle) crawls a small site and ends with
  status 0 once idle, without reading standard input ("exit" typed there is
  not seen); the pages are in the index, its invariants hold, and while a
  slow page is fetched a PROGRESS line comes every 5 s. The service unit's
  command line (--until-idle --polite --refresh --start) fetches the pages
  again and ends.
- SIGTERM ends a batch run with status 0 and saves the page being fetched.
- Each configuration mistake gives its one message and status 2, in batch
  and in console mode, and the web server sees no request; so does, in
  batch mode, an index that cannot be reached.
- --version, --help, an unknown option and a bad value.
- In console mode: no PROGRESS line while idle, one while a slow page is
  fetched, and none once idle again.

Usage: crawler_batch_test.py BUILD_DIR [PART]; the parts (batch, mistakes,
console_progress) run on their own when named."""

import os
import re
import signal
import sys
import tempfile
import time

from crawler_run import Crawler, start_parts, write_config
from web_servers import RawSite, page, reply

BASE = "http://localhost/site/"
THEMES = "abeille 1\nmiel 1\n"
CONFIG_MISSING = "le fichier pour le chargement de la config n'a pas pu \xeatre ouvert : "
THEMES_MISSING = "le fichier pour le chargement des mots du theme n'a pas pu \xeatre ouvert : "
# A whole line, or the end of one that a "PILE URL" fragment began, as any
# line of the log may be.
PROGRESS = re.compile(r"^(?:PILE URL: \d+ -> \d+ )*PROGRESS fetched \d+ queued \d+ "
                      r"on-theme \d+ errors \d+ rate \d+\.\d pages/s$", re.M)
SLOW_SECONDS = 7


def html(text, *links):
    anchors = " ".join('<a href="%s">lien</a>' % link for link in links)
    return ("<html><body>%s %s</body></html>" % (text, anchors)).encode("latin-1")


def dripping_page(body, seconds):
    """A page whose body comes one piece a second for `seconds` seconds, so
    the download never waits long for data but lasts that long."""
    segments = reply("200 OK", [("Content-Type", "text/html"),
                                ("Content-Length", str(len(body)))])
    size = -(-len(body) // seconds)
    for at in range(0, len(body), size):
        segments += [1.0, body[at:at + size]]
    return segments


def site_replies():
    return {
        "/site/index.html": page(html("abeille ruche", "a.html", "b.html", "slow.html")),
        "/site/a.html": page(html("abeille miel", "c.html")),
        "/site/b.html": page(html("rien a voir")),
        "/site/c.html": page(html("miel")),
        "/site/slow.html": dripping_page(html("abeille patiente"), SLOW_SECONDS),
    }


def wait_for(condition, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


def batch_crawl(checks, build, db, workdir, site):
    db.reset()
    write_config(workdir, BASE, THEMES)
    crawler = Crawler(build, workdir, db.env(),
                      args=["--start", BASE + "index.html", "--until-idle"])
    # Console mode would stop at once on this word: batch mode never reads it.
    crawler.type("exit\n")
    status = crawler.wait(90)
    crawler.kill()
    log = crawler.stderr()
    print(log)
    checks.expect("batch: ends with status 0 once idle", status == 0, str(status))
    pages = ["index.html", "a.html", "b.html", "c.html", "slow.html"]
    checks.expect("batch: every page fetched once",
                  sorted(site.paths()) == sorted("/site/" + name for name in pages),
                  str(site.paths()))
    checks.expect("batch: the pages are in the index",
                  db.column("SELECT url FROM Url WHERE lastVisit IS NOT NULL") ==
                  sorted(BASE + name for name in pages))
    checks.expect("batch: on-theme pages have their keywords",
                  db.column("SELECT DISTINCT u.url FROM Url u JOIN CorrespMotUrl c "
                            "USING (idUrl)") ==
                  sorted(BASE + name for name in ("index.html", "a.html", "c.html", "slow.html")))
    checks.index_invariants(db)
    checks.expect("batch: the stage lines as in console mode",
                  "PARSE0 " + BASE + "index.html\n" in log, log)
    lines = PROGRESS.findall(log)
    checks.expect("batch: a PROGRESS line while the slow page comes",
                  len(lines) >= 1 and "PROGRESS" not in PROGRESS.sub("", log), log)
    checks.expect("batch: nothing on standard output", crawler.stdout() == "", crawler.stdout())

    # The service unit's own command line, refreshing every page.
    site.requests.clear()
    site.replies["/site/slow.html"] = page(html("abeille patiente"))
    args = unit_arguments({"SE_REFRESH_DAYS": "0", "SE_START_URL": BASE + "index.html"})
    crawler = Crawler(build, workdir, db.env(), args=args)
    status = crawler.wait(60)
    crawler.kill()
    checks.expect("unit's batch refresh: ends with status 0", status == 0,
                  str(args) + crawler.stderr())
    checks.expect("unit's batch refresh: every page fetched again",
                  sorted(site.paths()) == sorted(["/robots.txt"] +
                                                 ["/site/" + name for name in pages]),
                  str(site.paths()))
    checks.index_invariants(db)


def unit_arguments(environment):
    """The crawler's arguments in the service unit's ExecStart, with the
    environment file's variables replaced."""
    unit = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "deploy",
                        "theme-search-crawler.service.in")
    with open(unit) as text:
        command = next(line for line in text if line.startswith("ExecStart="))
    words = command.split("=", 1)[1].split()
    return [re.sub(r"\$\{(\w+)\}", lambda name: environment[name.group(1)], word)
            for word in words[1:]]


def batch_stop_signal(checks, build, db, workdir, site):
    db.reset()
    site.requests.clear()
    site.replies["/site/slow.html"] = dripping_page(html("abeille patiente"), SLOW_SECONDS)
    crawler = Crawler(build, workdir, db.env(),
                      args=["--start", BASE + "slow.html", "--until-idle"])
    asked = wait_for(lambda: "/site/slow.html" in site.paths(), 20)
    crawler.process.send_signal(signal.SIGTERM)
    status = crawler.wait(10)
    crawler.kill()
    log = crawler.stderr()
    checks.expect("SIGTERM: the slow page was being fetched", asked, str(site.paths()))
    checks.expect("SIGTERM: batch run ends with status 0", status == 0, str(status))
    checks.expect("SIGTERM: the page being fetched is saved",
                  "URLs saved for the next run: 1\n" in log and
                  db.column("SELECT url FROM FileAttente") == [BASE + "slow.html"], log)
    checks.index_invariants(db, idle=False)


def config_mistakes():
    """(what, engineconfig.cfg or None, themes.txt or None, expected output)."""
    at = "configuration file engineconfig.cfg"
    good = "// depth\n1\n0\n// types\nhtml\n// site\n\"%s\"\n// themes\nthemes.txt\n" % BASE
    return [
        ("site without quotes", good.replace('"', ""), THEMES,
         at + ", line 7: expected the site between double quotes, such as "
         "\"http://srv.lan/docs/\"; found: " + BASE + "\n"),
        ("no site line", "// depth\n1\n0\n// types\nhtml\n// site\n", THEMES,
         at + ": ends before the site\n"),
        ("comment after the types missing", good.replace("// site\n", ""), THEMES,
         at + ", line 6: expected a document type, or the comment line that ends the types; "
         "found: \"" + BASE + "\"\n"),
        ("depth not a number", good.replace("\n1\n", "\none\n"), THEMES,
         at + ", line 2: expected the depth limit, a whole number such as 1; found: one\n"),
        ("no accepted type", good.replace("html\n", ""), THEMES,
         at + ", line 6: expected a document type, or the comment line that ends the types; "
         "found: \"" + BASE + "\"\n"),
        ("theme-word file missing", good, None, THEMES_MISSING + "themes.txt\n"),
        ("theme-word file without words", good, "",
         "theme word file themes.txt: holds no theme word; expected pairs of a word and its "
         "weight, such as \"abeille 2\"\n"),
        ("configuration file missing", None, THEMES, CONFIG_MISSING + "engineconfig.cfg\n"),
    ]


def write_files(workdir, config, themes):
    for name, text in (("engineconfig.cfg", config), ("themes.txt", themes)):
        path = os.path.join(workdir, name)
        if text is None:
            if os.path.exists(path):
                os.remove(path)
        else:
            with open(path, "w", encoding="latin-1") as out:
                out.write(text)


def mistakes_stop_before_fetching(checks, build, db, workdir, site):
    db.reset()
    site.requests.clear()
    for what, config, themes, message in config_mistakes():
        write_files(workdir, config, themes)
        for mode, args in (("batch", ["--start", BASE + "index.html", "--until-idle"]),
                           ("console", ["--start", BASE + "index.html"])):
            crawler = Crawler(build, workdir, db.env(), args=args)
            status = crawler.wait(10)
            crawler.kill()
            checks.expect("%s, %s mode: status 2" % (what, mode), status == 2, str(status))
            checks.expect("%s, %s mode: its one message" % (what, mode),
                          crawler.stdout() == message and crawler.stderr() == "",
                          repr((crawler.stdout(), crawler.stderr())))
    checks.expect("configuration mistakes: no request at all", site.paths() == [],
                  str(site.paths()))
    checks.expect("configuration mistakes: nothing recorded",
                  db.column("SELECT url FROM Url UNION SELECT url FROM UrlInvalide") == [])

    write_config(workdir, BASE, THEMES)
    crawler = Crawler(build, workdir, dict(db.env(), SE_DB_NAME="se_test_e2e_no_such_db"),
                      args=["--start", BASE + "index.html", "--until-idle"])
    status = crawler.wait(10)
    crawler.kill()
    checks.expect("unreachable database, batch mode: status 2", status == 2, str(status))
    checks.expect("unreachable database, batch mode: its one line",
                  crawler.stderr().startswith("cannot connect to the index database: ") and
                  crawler.stderr().count("\n") == 1, crawler.stderr())
    checks.expect("unreachable database: no request", site.paths() == [], str(site.paths()))


def command_line(checks, build, db, workdir):
    def run(*args):
        crawler = Crawler(build, workdir, db.env(), args=list(args))
        status = crawler.wait(10)
        crawler.kill()
        return status, crawler.stdout(), crawler.stderr()

    status, out, err = run("--version")
    checks.expect("--version: name and version, status 0",
                  status == 0 and re.fullmatch(r"crawler \(theme search\) \d+\.\d+\.\d+\n", out)
                  and err == "", repr((status, out, err)))
    status, out, err = run("--help")
    checks.expect("--help: the usage on standard output, status 0",
                  status == 0 and out.startswith("usage: crawler ") and "--until-idle" in out,
                  repr((status, out)))
    status, out, err = run("--until-idle", "--frobnicate")
    checks.expect("unknown option: status 2, named, then the usage",
                  status == 2 and out == "" and
                  err.startswith("crawler: unknown option: --frobnicate\nusage: crawler "),
                  repr((status, err)))
    status, out, err = run("--refresh", "soon")
    checks.expect("bad value: status 2, named",
                  status == 2 and err.startswith(
                      "crawler: bad value for --refresh: \"soon\" (expected a number of days"),
                  repr((status, err)))


def console_progress(checks, build, db, workdir, site):
    db.reset()
    site.requests.clear()
    write_config(workdir, BASE, THEMES)
    site.replies["/site/slow.html"] = dripping_page(html("abeille patiente"), SLOW_SECONDS)
    crawler = Crawler(build, workdir, db.env())
    time.sleep(6.5)
    checks.expect("console: no PROGRESS line while idle", "PROGRESS" not in crawler.stderr(),
                  crawler.stderr())
    crawler.type(BASE + "slow.html\n")
    parsed = wait_for(lambda: "PARSE0 " + BASE + "slow.html\n" in crawler.stderr(), 30)
    checks.expect("console: the slow page is analysed", parsed, crawler.stderr())
    # The page's transaction is done well within a second; from then on the
    # crawl is idle.
    time.sleep(1)
    at_idle = crawler.stderr()
    checks.expect("console: a PROGRESS line while the slow page comes",
                  len(PROGRESS.findall(at_idle)) >= 1, at_idle)
    time.sleep(6.5)
    checks.expect("console: no PROGRESS line once idle again",
                  len(PROGRESS.findall(crawler.stderr())) == len(PROGRESS.findall(at_idle)),
                  crawler.stderr())
    crawler.type("exit\n")
    checks.expect("console: ends with status 0", crawler.wait(20) == 0)
    crawler.kill()
    checks.index_invariants(db)


def batch(checks, build, db, workdir, site):
    batch_crawl(checks, build, db, workdir, site)
    batch_stop_signal(checks, build, db, workdir, site)


def mistakes(checks, build, db, workdir, site):
    mistakes_stop_before_fetching(checks, build, db, workdir, site)
    command_line(checks, build, db, workdir)


def main():
    build, db, checks, parts = start_parts(sys.argv, "se_test_e2e_batch", [
        ("batch", batch), ("mistakes", mistakes), ("console_progress", console_progress)])
    site = RawSite(80, site_replies())
    with tempfile.TemporaryDirectory() as workdir:
        for part in parts:
            part(checks, build, db, workdir, site)
    site.close()
    checks.finish()


if __name__ == "__main__":
    main()
