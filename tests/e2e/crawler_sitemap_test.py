"""Sitemaps seed the crawl with pages no link reaches.

- --sitemap, repeated: a plain sitemap, a gzipped one (a .xml.gz file) and
  an index whose sitemaps are read in turn (an index it lists is not, a
  missing one gets its line); only the URLs inside the configured site are
  queued, and the others are recorded nowhere.
- --polite: the "Sitemap:" lines of robots.txt, whose pages robots.txt
  still rules.
- Hostile sitemaps (more than 50,000 URLs, malformed XML, entity expansion,
  a gzip bomb, an HTML page) are each refused with one clear line, and the
  rest of the crawl goes on: a good sitemap and a typed URL still count.
- --refresh with a sitemap's lastmod: a page whose lastmod is not after its
  last visit is not fetched again (its rows stay, its visit is recorded); a
  newer one is.
- --until-idle: sitemaps count as work, so a batch run given only a sitemap
  ends once its pages, and those of the sitemap its robots.txt names, are
  indexed.

Usage: crawler_sitemap_test.py BUILD_DIR"""

import gzip
import sys
import time

from crawler_run import Crawler, Site, run_cases, write_config
from crawler_crawl_test import html
from crawler_records_test import run

ROOT = "http://localhost/"
BASE = ROOT + "site/"
THEMES = "abeille 1\nmiel 1\n"
PAGE = "text/html"
XML = "application/xml"
SPACE = "http://www.sitemaps.org/schemas/sitemap/0.9"


def url_set(*urls, lastmod=None):
    entries = "".join("<url><loc>%s</loc>%s</url>" % (
        url, "<lastmod>%s</lastmod>" % lastmod[url] if lastmod and url in lastmod else "")
        for url in urls)
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<urlset xmlns="%s">%s</urlset>' %
            (SPACE, entries)).encode("latin-1")


def sitemap_index(*urls):
    entries = "".join("<sitemap><loc>%s</loc></sitemap>" % url for url in urls)
    return ('<sitemapindex xmlns="%s">%s</sitemapindex>' % (SPACE, entries)).encode("latin-1")


def sitemap_args(*paths):
    args = []
    for path in paths:
        args += ["--sitemap", ROOT + path]
    return args


def seeding(checks, build, db, workdir):
    site = Site({
        "/sitemap.xml": (XML, url_set(BASE + "hidden1.html", ROOT + "other/out.html"), 0),
        "/sitemap2.xml.gz": ("application/gzip", gzip.compress(url_set(BASE + "hidden2.html")), 0),
        "/sitemap_index.xml": (XML, sitemap_index(ROOT + "maps/child.xml",
                                                  ROOT + "maps/nested.xml",
                                                  ROOT + "maps/missing.xml"), 0),
        "/maps/child.xml": (XML, url_set(BASE + "hidden3.html", BASE + "hidden1.html"), 0),
        "/maps/nested.xml": (XML, sitemap_index(ROOT + "maps/deep.xml"), 0),
        "/maps/deep.xml": (XML, url_set(BASE + "deep.html"), 0),
        "/site/hidden1.html": (PAGE, html("abeille une"), 0),
        "/site/hidden2.html": (PAGE, html("abeille deux"), 0),
        "/site/hidden3.html": (PAGE, html("abeille trois"), 0),
        "/site/deep.html": (PAGE, html("abeille profonde"), 0),
        "/other/out.html": (PAGE, html("abeille dehors"), 0),
    })
    write_config(workdir, BASE, THEMES)
    status, log = run(build, workdir, db, site, "", 9,
                      sitemap_args("sitemap.xml", "sitemap2.xml.gz", "sitemap_index.xml"))
    checks.expect("seeding: the run ends with status 0", status == 0, log)
    pages = db.column("SELECT url FROM Url")
    checks.expect("seeding: the pages of the plain, gzipped and indexed sitemaps are indexed",
                  pages == [BASE + "hidden1.html", BASE + "hidden2.html", BASE + "hidden3.html"],
                  str(pages))
    checks.expect("seeding: a page listed twice is fetched once",
                  site.requests.count("/site/hidden1.html") == 1, str(site.requests))
    checks.expect("seeding: a URL outside the site is neither fetched nor recorded",
                  "/other/out.html" not in site.requests and
                  db.column("SELECT url FROM UrlInvalide") == [], str(site.requests))
    checks.expect("seeding: an index listed by an index is not followed",
                  "/maps/deep.xml" not in site.requests, str(site.requests))
    for line in ("SITEMAP %ssitemap.xml : 2 URLs, 1 queued\n" % ROOT,
                 "SITEMAP %ssitemap2.xml.gz : 1 URLs, 1 queued\n" % ROOT,
                 "SITEMAP %ssitemap_index.xml : index of 3 sitemaps\n" % ROOT,
                 "SITEMAP %smaps/child.xml : 2 URLs, 1 queued\n" % ROOT,
                 "ERROR SITEMAP %smaps/nested.xml : an index listed by an index, not read\n" % ROOT,
                 "ERROR SITEMAP %smaps/missing.xml : status 404\n" % ROOT):
        checks.expect("seeding: line " + line.strip(), line in log, log)
    checks.index_invariants(db)
    site.close()


def robots_lines(checks, build, db, workdir):
    site = Site({
        "/robots.txt": ("text/plain", b"User-agent: *\nDisallow: /site/private\n"
                        b"Sitemap: http://localhost/robots-map.xml\n", 0),
        "/robots-map.xml": (XML, url_set(BASE + "listed.html", BASE + "private/x.html"), 0),
        "/site/start.html": (PAGE, html("abeille depart"), 0),
        "/site/listed.html": (PAGE, html("abeille listee"), 0),
        "/site/private/x.html": (PAGE, html("abeille privee"), 0),
    })
    write_config(workdir, BASE, THEMES)
    status, log = run(build, workdir, db, site, BASE + "start.html", 4, ["--polite"])
    checks.expect("robots.txt: its sitemap's page is indexed",
                  BASE + "listed.html" in db.column("SELECT url FROM Url"), log)
    checks.expect("robots.txt: ... and robots.txt still refuses the private one",
                  "/site/private/x.html" not in site.requests, str(site.requests))
    checks.expect("robots.txt: read once", site.requests.count("/robots.txt") == 1,
                  str(site.requests))
    checks.index_invariants(db)
    site.close()


def hostile(checks, build, db, workdir):
    huge = url_set(*("%shuge/%d.html" % (BASE, i) for i in range(50001)))
    laughs = (b'<?xml version="1.0"?><!DOCTYPE lolz [<!ENTITY lol "lol">' +
              b"".join(b'<!ENTITY lol%d "%s">' % (i, (b"&lol%d;" % (i - 1) if i > 1 else b"&lol;")
                                                      * 10) for i in range(1, 10)) +
              b']><urlset xmlns="%s"><url><loc>%sx&lol9;.html</loc></url></urlset>' % (
                  SPACE.encode(), BASE.encode()))
    bomb = gzip.compress(url_set(BASE + "bomb.html")[:-9] + b" " * (60 << 20) + b"</urlset>", 9)
    site = Site({
        "/huge.xml": (XML, huge, 0),
        "/broken.xml": (XML, url_set(BASE + "broken.html")[:-12], 0),
        "/laughs.xml": (XML, laughs, 0),
        "/bomb.xml.gz": ("application/gzip", bomb, 0),
        "/page.html": (PAGE, html("pas un plan du site"), 0),
        "/good.xml": (XML, url_set(BASE + "after.html"), 0),
        "/site/after.html": (PAGE, html("abeille apres"), 0),
        "/site/typed.html": (PAGE, html("abeille tapee"), 0),
        "/site/broken.html": (PAGE, html("abeille cassee"), 0),
        "/site/bomb.html": (PAGE, html("abeille bombe"), 0),
    })
    write_config(workdir, BASE, THEMES)
    started = time.time()
    status, log = run(build, workdir, db, site, BASE + "typed.html", 8, sitemap_args(
        "huge.xml", "broken.xml", "laughs.xml", "bomb.xml.gz", "page.html", "good.xml"))
    checks.expect("hostile: the run ends with status 0 in good time",
                  status == 0 and time.time() - started < 60, log)
    for path, reason in (("huge.xml", "more than 50000 entries"),
                         ("broken.xml", "not well-formed XML (line 2: "),
                         ("laughs.xml", "document type declaration refused"),
                         ("bomb.xml.gz", "over 50 MiB once decompressed"),
                         ("page.html", "not a sitemap (root element <html>)")):
        prefix = "ERROR SITEMAP %s%s : " % (ROOT, path)
        lines = [line for line in log.split("\n") if line.startswith(prefix)]
        checks.expect("hostile: one line for " + path,
                      len(lines) == 1 and lines[0].startswith(prefix + reason), str(lines))
    pages = db.column("SELECT url FROM Url")
    checks.expect("hostile: the good sitemap's page and the typed page are indexed, no other",
                  pages == [BASE + "after.html", BASE + "typed.html"], str(pages))
    checks.expect("hostile: no page of a refused sitemap is asked for",
                  not any(path.startswith("/site/huge/") or path in (
                      "/site/broken.html", "/site/bomb.html") for path in site.requests),
                  str(site.requests[:20]))
    checks.index_invariants(db)
    site.close()


def lastmod_refresh(checks, build, db, workdir):
    site = Site({
        "/site/old.html": (PAGE, html("abeille ancienne"), 0),
        "/site/new.html": (PAGE, html("abeille nouvelle"), 0),
        "/site/undated.html": (PAGE, html("abeille sans date"), 0),
    })
    write_config(workdir, BASE, THEMES)
    status, log = run(build, workdir, db, site, " ".join(
        BASE + name for name in ("old.html", "new.html", "undated.html")), 3, [])
    db.client("-e", "UPDATE Url SET lastVisit = '2024-06-01 00:00:00'")
    kept = db.column("SELECT c.idMot FROM CorrespMotUrl c JOIN Url u USING (idUrl) "
                     "WHERE u.url = '%sold.html'" % BASE)
    pages = (BASE + "old.html", BASE + "new.html", BASE + "undated.html")
    site.pages["/fresh.xml"] = (XML, url_set(*pages, lastmod={
        BASE + "old.html": "2024-05-01T10:00:00+02:00", BASE + "new.html": "2024-07-01"}),
        0)
    site.requests.clear()
    status, log = run(build, workdir, db, site, "", 3,
                      ["--refresh", "0"] + sitemap_args("fresh.xml"))
    checks.expect("lastmod: the run ends with status 0", status == 0, log)
    checks.expect("lastmod: the page unchanged since its visit is not fetched, the others are",
                  sorted(site.requests) == ["/fresh.xml", "/site/new.html", "/site/undated.html"],
                  str(site.requests))
    checks.expect("lastmod: a line says why",
                  "NOT MODIFIED %sold.html : sitemap lastmod not after the last visit\n" % BASE
                  in log, log)
    checks.expect("lastmod: its rows stay", db.column(
        "SELECT c.idMot FROM CorrespMotUrl c JOIN Url u USING (idUrl) "
        "WHERE u.url = '%sold.html'" % BASE) == kept and kept, str(kept))
    checks.expect("lastmod: every visit recorded", db.column(
        "SELECT url FROM Url WHERE lastVisit < NOW() - INTERVAL 1 DAY") == [], log)
    checks.index_invariants(db)
    site.close()


def unattended(checks, build, db, workdir):
    site = Site({
        "/robots.txt": ("text/plain", b"User-agent: *\nSitemap: http://localhost/robots-map.xml\n", 0),
        "/map.xml": (XML, url_set(BASE + "one.html"), 0),
        "/robots-map.xml": (XML, url_set(BASE + "two.html"), 0),
        "/site/one.html": (PAGE, html("abeille une"), 0),
        "/site/two.html": (PAGE, html("abeille deux"), 0),
    })
    write_config(workdir, BASE, THEMES)
    crawler = Crawler(build, workdir, db.env(),
                      args=["--until-idle", "--polite"] + sitemap_args("map.xml"))
    status = crawler.wait(60)
    crawler.kill()
    log = crawler.stderr()
    checks.expect("batch: the run ends by itself with status 0", status == 0, log)
    pages = db.column("SELECT url FROM Url")
    checks.expect("batch: idle only once the sitemaps' pages, robots.txt's included, are indexed",
                  pages == [BASE + "one.html", BASE + "two.html"], str(pages) + log)
    checks.index_invariants(db)
    site.close()


def main():
    run_cases(sys.argv, "se_test_e2e_sitemap",
              (seeding, robots_lines, hostile, lastmod_refresh, unattended))


if __name__ == "__main__":
    main()
