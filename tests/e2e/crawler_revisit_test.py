"""Revisits with validators: a refresh sends back, byte for byte, the ETag
and Last-Modified values of each page's last 200 reply, and the server
decides from them. The scripted server answers 304 only when the lines it
receives are exactly its own values.

- A page the server finds unchanged (304) keeps its keyword, Document and
  ranking rows, gets a new lastVisit and a "NOT MODIFIED" line.
- A page whose text changed (a new ETag, so the old one does not match)
  answers 200: its rows are replaced and its new validators stored.
- A page now answering 410 leaves the index.
- A page served without validators, or with one over the bound, is asked
  for without condition lines.

Usage: crawler_revisit_test.py BUILD_DIR"""

import sys
import tempfile

from crawler_run import Crawler, start_test, write_config
from crawler_crawl_test import crawl, html
from web_servers import RawSite, reply

BASE = "http://localhost/site/"
THEMES = "abeille 1\nmiel 1\n"
DATE = b"Tue, 15 Nov 1994 12:45:26 GMT"


class Page:
    """A page with its body and validators; answers a request 304 when its
    condition lines are exactly the page's values, 200 otherwise. Records
    the condition lines of each request."""

    def __init__(self, body, etag=None, last_modified=None):
        self.body, self.etag, self.last_modified = body, etag, last_modified
        self.status = "200 OK"
        self.conditions = []

    def expected(self):
        lines = []
        if self.etag is not None:
            lines.append(b"If-None-Match: " + self.etag)
        if self.last_modified is not None:
            lines.append(b"If-Modified-Since: " + self.last_modified)
        return lines

    def __call__(self, request):
        sent = [line for line in request.split(b"\r\n") if line.lower().startswith(b"if-")]
        self.conditions.append(sent)
        headers = []
        if self.etag is not None:
            headers.append((b"ETag", self.etag))
        if self.last_modified is not None:
            headers.append((b"Last-Modified", self.last_modified))
        head = b"".join(name + b": " + value + b"\r\n" for name, value in headers)
        if sent and sent == self.expected() and self.status.startswith("200"):
            return [b"HTTP/1.1 304 Not Modified\r\n" + head + b"\r\n"]
        if not self.status.startswith("200"):
            return reply(self.status, [("Content-Length", "0")])
        return [b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n" %
                len(self.body) + head + b"\r\n" + self.body]


def stored(db, name):
    """The hex of the validators stored for a page, or None."""
    rows = db.column("SELECT CONCAT(HEX(v.etag), ' ', HEX(v.lastModified)) FROM UrlValidateurs v "
                     "JOIN Url u USING (idUrl) WHERE u.url = '%s%s'" % (BASE, name))
    return rows[0] if rows else None


def hexed(value):
    return (value or b"").hex().upper()


def keywords(db, name):
    return db.column("SELECT m.mot FROM CorrespMotUrl c JOIN MotCle m USING (idMot) "
                     "JOIN Url u USING (idUrl) WHERE u.url = '%s%s'" % (BASE, name))


def rows_of(db, name):
    """Everything the index holds for a page's text, as one comparable value."""
    return (keywords(db, name), db.column(
        "SELECT CONCAT(d.titre, HEX(d.texte)) FROM Document d JOIN Url u USING (idUrl) "
        "WHERE u.url = '%s%s'" % (BASE, name)), db.column(
        "SELECT CONCAT(m.nbMots, ' ', m.langue) FROM DocumentMesure m JOIN Url u USING (idUrl) "
        "WHERE u.url = '%s%s'" % (BASE, name)))


def days_since_visit(db, name):
    return db.column("SELECT DATEDIFF(NOW(), lastVisit) FROM Url WHERE url = '%s%s'" %
                     (BASE, name))


def main():
    build, db, checks = start_test(sys.argv, "se_test_e2e_revisit")
    pages = {
        # Byte for byte: doubled blanks, a semicolon and a Latin-1 byte.
        "same.html": Page(html("abeille miel pareil").replace(b"<html>", b"<html><title>T</title>"),
                          b'W/"v1;  \xe9"', DATE),
        "changed.html": Page(html("abeille miel ancien"), b'"c1"'),
        "dated.html": Page(html("abeille datee"), None, DATE),
        "gone.html": Page(html("abeille disparue"), b'"g"'),
        "plain.html": Page(html("abeille sans validateur")),
        "long.html": Page(html("abeille longue"), b'"' + b"e" * 300 + b'"', DATE),
    }
    pages["index.html"] = Page(html("abeille miel", *sorted(pages)), b'"i"')
    site = RawSite(80, {"/site/" + name: page for name, page in pages.items()})

    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, BASE, THEMES)
        crawler = Crawler(build, workdir, db.env())
        crawler.type(BASE + "index.html\n")
        checks.expect("first run ends with status 0", crawl(crawler, site, 7) == 0,
                      crawler.stderr())
        checks.expect("first run: every page fetched once", len(site.requests) == 7,
                      str(site.paths()))
        checks.expect("first run: requests without conditions",
                      all(page.conditions == [[]] for page in pages.values()),
                      str({name: page.conditions for name, page in pages.items()}))
        for name, etag, last_modified in (("same.html", pages["same.html"].etag, DATE),
                                          ("changed.html", b'"c1"', None),
                                          ("dated.html", None, DATE),
                                          ("long.html", None, DATE)):
            checks.expect("validators stored byte for byte: " + name,
                          stored(db, name) == hexed(etag) + " " + hexed(last_modified),
                          str(stored(db, name)))
        checks.expect("a page without validators has no row", stored(db, "plain.html") is None)
        checks.index_invariants(db)
        before = rows_of(db, "same.html")
        checks.expect("the unchanged page is indexed with its document",
                      before[0] and before[1] and before[2], str(before))

        db.client("-e", "UPDATE Url SET lastVisit = NOW() - INTERVAL 2 DAY")
        sent_back = {name: pages[name].expected()
                     for name in ("same.html", "changed.html", "dated.html", "gone.html",
                                  "index.html")}
        changed = pages["changed.html"]
        changed.body, changed.etag = html("abeille nouveau texte"), b'"c2"'
        pages["gone.html"].status = "410 Gone"
        for page in pages.values():
            page.conditions.clear()
        site.requests.clear()

        crawler = Crawler(build, workdir, db.env(), args=["--refresh", "1"])
        checks.expect("refresh ends with status 0", crawl(crawler, site, 7) == 0)
        log = crawler.stderr()
        print(log)
        checks.expect("refresh: every page asked for once", len(site.requests) == 7,
                      str(site.paths()))
        for name, lines in sent_back.items():
            checks.expect("refresh: %s sent back its validators exactly" % name,
                          pages[name].conditions == [lines], str(pages[name].conditions))
        checks.expect("refresh: no condition for a page without validators",
                      pages["plain.html"].conditions == [[]], str(pages["plain.html"].conditions))
        checks.expect("refresh: only the kept validator of a page with one over the bound",
                      pages["long.html"].conditions == [[b"If-Modified-Since: " + DATE]],
                      str(pages["long.html"].conditions))

        checks.expect("304: a NOT MODIFIED line",
                      "NOT MODIFIED " + BASE + "same.html : status 304\n" in log, log)
        checks.expect("304: keywords, Document and ranking rows kept",
                      rows_of(db, "same.html") == before, str(rows_of(db, "same.html")))
        checks.expect("304: lastVisit updated", days_since_visit(db, "same.html") == ["0"],
                      str(days_since_visit(db, "same.html")))
        checks.expect("304: the page was not parsed again",
                      "PARSE0 " + BASE + "same.html" not in log, log)

        checks.expect("200: the changed page's keywords replaced",
                      "ancien" not in keywords(db, "changed.html") and
                      "nouveau" in keywords(db, "changed.html"), str(keywords(db, "changed.html")))
        checks.expect("200: its new validators stored",
                      stored(db, "changed.html") == hexed(b'"c2"') + " ", stored(db, "changed.html"))
        checks.expect("200: lastVisit updated", days_since_visit(db, "changed.html") == ["0"])

        checks.expect("410: the page left the index",
                      BASE + "gone.html" not in db.column("SELECT url FROM Url"), log)
        checks.expect("410: REMOVED line", "REMOVED " + BASE + "gone.html : status 410\n" in log,
                      log)
        checks.expect("410: its validators went with it", db.column(
            "SELECT v.idUrl FROM UrlValidateurs v LEFT JOIN Url u USING (idUrl) "
            "WHERE u.idUrl IS NULL") == [])
        checks.index_invariants(db)
    site.close()
    checks.finish()


if __name__ == "__main__":
    main()
