"""What the index records of each URL a crawl meets, run after run: every
URL ends in one state (a page of Url, or an invalid URL of UrlInvalide with
its reason, or nothing at all), and the index keeps its invariants after
every crawl.

- A page linked twice by one page and a page linked by two pages are each
  fetched once, and none of them is recorded invalid.
- A start URL typed twice is fetched once; typed in a later run, a line says
  it is indexed already.
- --polite: a URL refused by robots.txt is recorded nowhere, so a later run
  whose robots.txt allows it fetches it.
- A start URL outside the configured site gets a line and is recorded
  nowhere; once the configuration names its site, typing it fetches it. A
  typed URL that failed (404) is tried again when typed again, and leaves
  UrlInvalide once fetched.
- --refresh: a page now answering 404 leaves the index and is recorded
  invalid with its reason; a page now off theme loses its Document row.

Usage: crawler_records_test.py BUILD_DIR [CASE]; a case (links_and_start_urls,
robots_for_the_run, operator_requests, refresh) runs on its own when named."""

import os
import sys

from crawler_run import Crawler, Site, run_cases, write_config
from crawler_crawl_test import crawl, html

BASE = "http://localhost/site/"
THEMES = "abeille 1\nmiel 1\n"
PAGE = "text/html"


def run(build, workdir, db, site, typed, at_least, args=()):
    """One crawler run: types the URLs, crawls until quiet; returns (status,
    log)."""
    crawler = Crawler(build, workdir, db.env(), args=args)
    crawler.type(typed + "\n")
    status = crawl(crawler, site, at_least)
    return status, crawler.stderr()


def invalid_reasons(db):
    return dict(row.split("\t") for row in db.column(
        "SELECT i.url, r.raison FROM UrlInvalide i JOIN UrlInvalideRaison r USING (url)"))


def links_and_start_urls(checks, build, db, workdir):
    site = Site({
        "/site/hub.html": (PAGE, html("abeille miel", "twice.html", "twice.html", "shared.html",
                                      "other.html"), 0),
        "/site/other.html": (PAGE, html("abeille", "shared.html", "twice.html"), 0),
        "/site/twice.html": (PAGE, html("abeille encore"), 0),
        "/site/shared.html": (PAGE, html("miel encore"), 0),
    })
    write_config(workdir, BASE, THEMES)
    status, log = run(build, workdir, db, site, BASE + "hub.html " + BASE + "hub.html", 4)
    checks.expect("links: the run ends with status 0", status == 0, log)
    checks.expect("links: every page fetched once",
                  sorted(site.requests) == ["/site/hub.html", "/site/other.html",
                                            "/site/shared.html", "/site/twice.html"],
                  str(site.requests))
    checks.expect("links: nothing recorded invalid",
                  db.column("SELECT url FROM UrlInvalide") == [], log)
    checks.index_invariants(db)

    site.requests.clear()
    status, log = run(build, workdir, db, site, BASE + "hub.html", 0)
    checks.expect("start URL again: nothing fetched", site.requests == [], str(site.requests))
    checks.expect("start URL again: one line says it is indexed already",
                  log.count("already indexed (--refresh fetches it again): " + BASE +
                            "hub.html\n") == 1, log)
    checks.expect("the 'exit' that ends each run is no URL",
                  "exit" not in db.column("SELECT url FROM UrlInvalide") + db.column(
                      "SELECT url FROM Url"))
    site.close()


def robots_for_the_run(checks, build, db, workdir):
    robots = {"/robots.txt": ("text/plain", b"User-agent: *\nDisallow: /site/private", 0)}
    pages = {
        "/site/open.html": (PAGE, html("abeille", "private.html"), 0),
        "/site/private.html": (PAGE, html("miel prive"), 0),
    }
    site = Site(dict(pages, **robots))
    write_config(workdir, BASE, THEMES)
    status, log = run(build, workdir, db, site, BASE + "open.html", 2, args=["--polite"])
    checks.expect("polite: the refused page is not fetched",
                  "/site/private.html" not in site.requests, str(site.requests))
    checks.expect("polite: ... and recorded nowhere",
                  BASE + "private.html" not in db.column("SELECT url FROM UrlInvalide"), log)
    checks.index_invariants(db)

    site.pages["/robots.txt"] = ("text/plain", b"User-agent: *\nDisallow: /nothing", 0)
    status, log = run(build, workdir, db, site, BASE + "private.html", 4, args=["--polite"])
    checks.expect("polite, second run: a robots.txt that allows it now gets it fetched",
                  BASE + "private.html" in db.column("SELECT url FROM Url"), log)
    checks.index_invariants(db)
    site.close()


def operator_requests(checks, build, db, workdir):
    other = "http://localhost/other/"
    site = Site({
        "/other/page.html": (PAGE, html("abeille ailleurs"), 0),
    })
    write_config(workdir, BASE, THEMES)
    status, log = run(build, workdir, db, site, other + "page.html " + BASE + "late.html", 1)
    checks.expect("outside: a line says the typed URL is outside the site",
                  "not queued, outside the configured site: " + other + "page.html\n" in log, log)
    checks.expect("outside: ... it is not fetched", "/other/page.html" not in site.requests,
                  str(site.requests))
    checks.expect("outside: ... nor recorded",
                  other + "page.html" not in db.column("SELECT url FROM UrlInvalide"))
    checks.expect("failed start URL recorded with its reason",
                  invalid_reasons(db).get(BASE + "late.html") == "status 404",
                  str(invalid_reasons(db)))
    checks.index_invariants(db)

    write_config(workdir, other, THEMES)
    site.requests.clear()
    status, log = run(build, workdir, db, site, other + "page.html", 1)
    checks.expect("outside, then in the site: typed again, it is fetched",
                  site.requests == ["/other/page.html"] and
                  other + "page.html" in db.column("SELECT url FROM Url"), log)

    write_config(workdir, BASE, THEMES)
    site.pages["/site/late.html"] = (PAGE, html("miel tardif"), 0)
    status, log = run(build, workdir, db, site, BASE + "late.html", 1)
    checks.expect("a typed URL that failed is tried again and leaves UrlInvalide",
                  BASE + "late.html" in db.column("SELECT url FROM Url") and
                  BASE + "late.html" not in db.column("SELECT url FROM UrlInvalide"), log)
    checks.index_invariants(db)
    site.close()


def refresh(checks, build, db, workdir):
    site = Site({
        "/site/root.html": (PAGE, html("abeille miel", "gone.html", "turned.html"), 0),
        "/site/gone.html": (PAGE, html("abeille disparue"), 0),
        "/site/turned.html": (PAGE, html("miel bientot hors sujet"), 0),
    })
    write_config(workdir, BASE, THEMES)
    status, log = run(build, workdir, db, site, BASE + "root.html", 3)
    documents = db.column("SELECT u.url FROM Document d JOIN Url u USING (idUrl)")
    checks.expect("refresh: three on-theme pages with their Document rows",
                  len(documents) == 3, str(documents))

    del site.pages["/site/gone.html"]
    site.pages["/site/turned.html"] = (PAGE, html("plus rien de cela"), 0)
    status, log = run(build, workdir, db, site, "", 6, args=["--refresh", "0"])
    checks.expect("refresh: the run ends with status 0", status == 0, log)
    checks.expect("refresh: the gone page is out of Url",
                  BASE + "gone.html" not in db.column("SELECT url FROM Url"), log)
    checks.expect("refresh: ... recorded invalid with its reason",
                  invalid_reasons(db).get(BASE + "gone.html") == "status 404",
                  str(invalid_reasons(db)))
    checks.expect("refresh: ... and no search finds it", db.column(
        "SELECT u.url FROM CorrespMotUrl c JOIN Url u USING (idUrl) "
        "WHERE u.url LIKE '%gone%'") == [])
    documents = db.column("SELECT u.url FROM Document d JOIN Url u USING (idUrl)")
    checks.expect("refresh: the page now off theme lost its Document row",
                  documents == [BASE + "root.html"], str(documents))
    checks.index_invariants(db)
    site.close()


def main():
    run_cases(sys.argv, "se_test_e2e_records", (links_and_start_urls, robots_for_the_run, operator_requests, refresh))


if __name__ == "__main__":
    main()
