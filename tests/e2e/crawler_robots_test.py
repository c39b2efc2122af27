"""What a page asks of the crawler, and pages indexed once, over two runs
of a small site:

- a robots meta noindex keeps the page's words out of the index and its
  links are still followed; nofollow keeps its links from being queued; an
  X-Robots-Tag header does the same, a line for another crawler does not;
- a canonical link inside the site has the page indexed under the
  canonical URL (never fetched itself), the fetched URL keeping a Url row
  without keywords; a canonical URL that was invalid leaves UrlInvalide; a
  canonical link outside the site is ignored;
- two URLs serving the same text are indexed once;
- --refresh: a page that turns noindex, or into a copy of another, loses
  its keywords and keeps its Url row.

Usage: crawler_robots_test.py BUILD_DIR"""

import sys
import tempfile

from crawler_run import Crawler, Site, start_test, write_config
from crawler_crawl_test import crawl

BASE = "http://localhost/site/"
THEMES = "abeille 1\nmiel 1\n"
HTML = "text/html"


def page(text, *links, head="", title="Page"):
    anchors = " ".join('<a href="%s">lien</a>' % link for link in links)
    return ("<html><head><title>%s</title>%s</head><body>%s %s</body></html>" % (
        title, head, text, anchors)).encode("latin-1")


def robots_meta(content):
    return '<meta name="robots" content="%s">' % content


def canonical(href):
    return '<link rel="canonical" href="%s">' % href


def first_site():
    return {
        "/site/hub.html": (HTML, page("abeille miel", "noindex.html", "nofollow.html",
                                      "hdr-noindex.html", "hdr-nofollow.html", "print.html",
                                      "outside.html", "twin-a.html", "twin-b.html", "dead.html",
                                      "turns-noindex.html", "turns-twin.html"), 0),
        "/site/noindex.html": (HTML, page("abeille cachee", "behind-noindex.html",
                                          head=robots_meta("NOINDEX, follow")), 0),
        "/site/behind-noindex.html": (HTML, page("abeille derriere la page cachee"), 0),
        "/site/nofollow.html": (HTML, page("abeille sans suite", "behind-nofollow.html",
                                           head="<meta content='nofollow' name='Robots'>"), 0),
        "/site/behind-nofollow.html": (HTML, page("abeille jamais vue"), 0),
        "/site/hdr-noindex.html": (HTML, page("abeille en-tete", "behind-hdr-noindex.html"), 0,
                                   [("X-Robots-Tag", "noindex")]),
        "/site/behind-hdr-noindex.html": (HTML, page("abeille derriere un en-tete"), 0),
        "/site/hdr-nofollow.html": (HTML, page("abeille en-tete sans suite",
                                               "behind-hdr-nofollow.html"), 0,
                                    [("X-Robots-Tag", "otherbot: noindex"),
                                     ("X-Robots-Tag", "ThemeSearchCrawler: nofollow")]),
        "/site/behind-hdr-nofollow.html": (HTML, page("abeille jamais vue non plus"), 0),
        "/site/print.html": (HTML, page("abeille article complet", head=canonical("article.html"),
                                        title="Article"), 0),
        "/site/article.html": (HTML, page("abeille article en ligne"), 0),
        "/site/outside.html": (HTML, page("abeille ailleurs", head=canonical(
            "http://elsewhere.invalid/page.html")), 0),
        "/site/twin-a.html": (HTML, page("abeille jumelle", title="A"), 0),
        "/site/twin-b.html": (HTML, page("abeille jumelle", title="B"), 0),
        "/site/turns-noindex.html": (HTML, page("abeille bientot cachee"), 0),
        "/site/turns-twin.html": (HTML, page("abeille bientot copie"), 0),
    }


def run(build, workdir, db, site, typed, at_least, args=()):
    crawler = Crawler(build, workdir, db.env(), args=args)
    crawler.type(typed + "\n")
    status = crawl(crawler, site, at_least)
    return status, crawler.stderr()


class Index:
    """What the index holds after a run."""

    def __init__(self, db):
        rows = db.column("SELECT u.url, COUNT(c.idMot) FROM Url u LEFT JOIN CorrespMotUrl c "
                         "USING (idUrl) GROUP BY u.url")
        self.keywords = {self.name(url): int(count) for url, count in
                         (row.split("\t") for row in rows)}
        self.documents = self.names(db, "SELECT u.url FROM Document d JOIN Url u USING (idUrl)")
        self.ranked = self.names(db, "SELECT u.url FROM DocumentMesure m JOIN Url u USING (idUrl)")
        self.invalid = self.names(db, "SELECT url FROM UrlInvalide UNION ALL "
                                      "SELECT url FROM UrlInvalideRaison")

    @staticmethod
    def name(url):
        """A URL of the site by its name, any other whole."""
        return url[len(BASE):] if url.startswith(BASE) else url

    @classmethod
    def names(cls, db, statement):
        return [cls.name(url) for url in db.column(statement)]

    def visited_only(self, name):
        """A Url row without keywords, Document or ranking rows, not invalid."""
        return (self.keywords.get(name) == 0 and name not in self.documents and
                name not in self.ranked and name not in self.invalid)

    def indexed(self, name):
        return (self.keywords.get(name, 0) > 0 and name in self.documents and
                name in self.ranked and name not in self.invalid)


def first_run(checks, build, db, workdir, site):
    status, log = run(build, workdir, db, site, BASE + "hub.html", 14)
    checks.expect("first run ends with status 0", status == 0, log)
    index = Index(db)
    asked = [path[len("/site/"):] for path in site.requests]
    print("requests:", asked)
    print("keywords:", index.keywords)

    for name in ("noindex.html", "hdr-noindex.html"):
        checks.expect("noindex: %s is visited only" % name, index.visited_only(name), log)
        checks.expect("noindex: the line for " + name, "NOINDEX " + BASE + name + "\n" in log, log)
    for name in ("behind-noindex.html", "behind-hdr-noindex.html"):
        checks.expect("noindex: its link %s is followed and indexed" % name,
                      name in asked and index.indexed(name), str(asked))
    for name in ("nofollow.html", "hdr-nofollow.html"):
        checks.expect("nofollow: %s is indexed" % name, index.indexed(name), str(index.keywords))
        checks.expect("nofollow: the line for " + name,
                      "NOFOLLOW " + BASE + name + "\n" in log, log)
    for name in ("behind-nofollow.html", "behind-hdr-nofollow.html"):
        checks.expect("nofollow: its link %s is neither fetched nor recorded" % name,
                      name not in asked and name not in index.keywords and
                      name not in index.invalid, str(asked))
    checks.expect("an X-Robots-Tag line for another crawler asks nothing",
                  "NOINDEX " + BASE + "hdr-nofollow.html" not in log, log)

    checks.expect("canonical: the page is indexed under the canonical URL",
                  index.indexed("article.html") and db.column(
                      "SELECT d.titre FROM Document d JOIN Url u USING (idUrl) "
                      "WHERE u.url = '%sarticle.html'" % BASE) == ["Article"], log)
    checks.expect("canonical: ... which is not fetched", "article.html" not in asked, str(asked))
    checks.expect("canonical: the fetched URL has a Url row without keywords",
                  index.visited_only("print.html"), str(index.keywords))
    checks.expect("canonical: the line says so", "CANONICAL %sprint.html : indexed as "
                  "%sarticle.html\n" % (BASE, BASE) in log, log)
    checks.expect("canonical outside the site: the page is indexed under its own URL",
                  index.indexed("outside.html") and "CANONICAL " + BASE + "outside" not in log and
                  "http://elsewhere.invalid/page.html" not in index.keywords.keys() |
                  set(index.invalid), log)

    twins = sorted(name for name in ("twin-a.html", "twin-b.html") if index.indexed(name))
    copies = sorted(name for name in ("twin-a.html", "twin-b.html") if index.visited_only(name))
    checks.expect("same text: indexed once", len(twins) == 1 and len(copies) == 1,
                  str(index.keywords))
    if len(twins) == 1 and len(copies) == 1:
        checks.expect("same text: the line names the page it repeats",
                      "DUPLICATE %s%s : same text as %s%s\n" % (BASE, copies[0], BASE, twins[0])
                      in log, log)
    checks.expect("only the dead link is invalid", index.invalid == ["dead.html"] * 2,
                  str(index.invalid))
    checks.index_invariants(db)
    return twins[0] if twins else None


def second_run(checks, build, db, workdir, site, twin):
    site.pages["/site/revived.html"] = (HTML, page("abeille revenue", head=canonical("dead.html")),
                                        0)
    site.pages["/site/turns-noindex.html"] = (HTML, page("abeille bientot cachee",
                                                         head=robots_meta("none")), 0)
    site.pages["/site/turns-twin.html"] = (HTML, page("abeille jumelle"), 0)
    site.requests.clear()
    status, log = run(build, workdir, db, site, BASE + "revived.html", 15,
                      args=["--refresh", "0"])
    checks.expect("refresh run ends with status 0", status == 0, log)
    index = Index(db)
    print("keywords after the refresh:", index.keywords)
    checks.expect("canonical URL that was invalid: indexed, out of UrlInvalide",
                  index.indexed("dead.html") and "dead.html" not in index.invalid, log)
    checks.expect("... the fetched URL has a Url row without keywords",
                  index.visited_only("revived.html"), str(index.keywords))
    checks.expect("refresh: a page now noindex keeps its Url row only",
                  index.visited_only("turns-noindex.html"), str(index.keywords))
    checks.expect("refresh: a page now a copy keeps its Url row only",
                  index.visited_only("turns-twin.html") and
                  "DUPLICATE %sturns-twin.html : same text as %s%s\n" % (BASE, BASE, twin) in log,
                  log)
    checks.expect("refresh: the page it copies stays indexed", index.indexed(twin),
                  str(index.keywords))
    checks.index_invariants(db)


def main():
    build, db, checks = start_test(sys.argv, "se_test_e2e_robots")
    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, BASE, THEMES)
        site = Site(first_site())
        twin = first_run(checks, build, db, workdir, site)
        second_run(checks, build, db, workdir, site, twin)
        site.close()
    checks.finish()


if __name__ == "__main__":
    main()
