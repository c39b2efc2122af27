"""A whole crawl of a small site by the crawler binary: what the index holds
afterwards, the order in which pages are asked for, the depth limit, links
that leave the site, a PDF document, and a second run that fetches nothing.
Usage: crawler_crawl_test.py BUILD_DIR"""

import os
import subprocess
import sys
import tempfile
import time

from crawler_run import Crawler, Site, start_test, write_config

BASE = "http://localhost/site/"


def html(text, *links):
    anchors = " ".join('<a href="%s">lien</a>' % link for link in links)
    return ("<html><body>%s %s</body></html>" % (text, anchors)).encode("latin-1")


def pdf_with_text(workdir, text):
    source = os.path.join(workdir, "doc.ps")
    target = os.path.join(workdir, "doc.pdf")
    with open(source, "w") as out:
        out.write("%%!PS\n/Helvetica findfont 12 scalefont setfont\n"
                  "72 700 moveto (%s) show\nshowpage\n" % text)
    subprocess.run(["ps2pdf", source, target], check=True)
    with open(target, "rb") as pdf:
        body = pdf.read()
    os.remove(source)
    os.remove(target)
    return body


def site_pages(workdir):
    page = "text/html"
    return {
        # Console URLs. p1 is off theme, p2 on theme with three theme words;
        # slow keeps the download thread busy while both are parsed.
        "/site/p1.html": (page, html("rien a voir", "l1.html"), 0),
        "/site/p2.html": (page, html("abeille miel ruche", "l2.html",
                                     "http://elsewhere.invalid/x.html",
                                     "http://localhost/other/out.html", "doc.pdf"), 0),
        "/site/slow.html": (page, html("patience"), 1.2),
        # Priority -1, off theme: beyond maxDepth 0, its link is refused.
        "/site/l1.html": (page, html("toujours rien", "deep.html"), 0),
        "/site/l2.html": (page, html("la suite"), 0),
        "/site/deep.html": (page, html("trop loin"), 0),
        "/other/out.html": (page, html("hors du site"), 0),
        "/site/doc.pdf": ("application/pdf", pdf_with_text(workdir, "abeille miel ruche"), 0),
    }


def crawl(crawler, site, at_least, quiet_seconds=2.0, limit=60):
    """Lets the crawl run until the server has had `at_least` requests and
    nothing has happened for `quiet_seconds`, then types "exit"."""
    deadline = time.time() + limit
    last = None
    since = time.time()
    while time.time() < deadline:
        state = (len(site.requests), len(crawler.stderr()))
        if state != last:
            last, since = state, time.time()
        elif len(site.requests) >= at_least and time.time() - since >= quiet_seconds:
            break
        time.sleep(0.1)
    crawler.type("exit\n")
    return crawler.wait(20)


def main():
    build, db, checks = start_test(sys.argv, "se_test_e2e_crawl")

    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, BASE, "abeille 1\nmiel 1\nruche 1\n", max_depth=0,
                     types=("html", "pdf"))
        site = Site(site_pages(workdir))

        crawler = Crawler(build, workdir, db.env())
        crawler.type(BASE + "p1.html " + BASE + "p2.html\n" + BASE + "slow.html\n")
        checks.expect("first run ends with status 0", crawl(crawler, site, 6) == 0)
        log = crawler.stderr()
        asked = list(site.requests)
        print("requests:", asked)

        checks.expect("every page of the site fetched once",
                      sorted(asked) == sorted(["/site/p1.html", "/site/p2.html", "/site/slow.html",
                                               "/site/l1.html", "/site/l2.html", "/site/doc.pdf"]),
                      str(asked))
        checks.expect("best-first: links of the on-theme page before the older off-theme link",
                      asked.index("/site/l2.html") < asked.index("/site/l1.html") and
                      asked.index("/site/doc.pdf") < asked.index("/site/l1.html"), str(asked))
        checks.expect("the refused link is logged",
                      "LIMITE ATTEINTE: " + BASE + "deep.html\n" in log, log)
        for line in ("PARSE0 " + BASE + "p1.html\n", "PARSE3 " + BASE + "l2.html\n",
                     "PARSE3 " + BASE + "doc.pdf\n", "PARSE-1 " + BASE + "l1.html\n"):
            checks.expect("log line " + line.strip(), line in log, log)
        checks.expect("no download error", "ERROR" not in log, log)

        urls = db.column("SELECT url FROM Url")
        checks.expect("Url holds the fetched pages",
                      urls == sorted(BASE + name for name in (
                          "p1.html", "p2.html", "slow.html", "l1.html", "l2.html", "doc.pdf")),
                      str(urls))
        checks.index_invariants(db)
        invalid = set(db.column("SELECT url FROM UrlInvalide"))
        checks.expect("UrlInvalide holds the refused and the outside links",
                      invalid == {BASE + "deep.html", "http://elsewhere.invalid/x.html",
                                  "http://localhost/other/out.html"}, str(invalid))
        checks.expect("theme count of the on-theme page", db.column(
            "SELECT nbMotsTheme FROM Url WHERE url='%sp2.html'" % BASE) == ["3"])
        words = db.column("SELECT mot FROM MotCle")
        checks.expect("theme words are keywords",
                      {"abeille", "miel", "ruche"} <= set(words), str(words))
        checks.expect("the PDF's keywords are linked to it", db.column(
            "SELECT m.mot FROM CorrespMotUrl c JOIN MotCle m ON m.idMot = c.idMot "
            "JOIN Url u ON u.idUrl = c.idUrl WHERE u.url = '%sdoc.pdf'" % BASE) ==
            ["abeille", "miel", "ruche"])
        checks.expect("document kinds", db.column("SELECT extension FROM Extension") ==
                      ["html", "pdf"])
        leftovers = [name for name in os.listdir(workdir) if name.startswith("zparseps")]
        checks.expect("no temporary conversion file left", leftovers == [], str(leftovers))

        site.requests.clear()
        crawler = Crawler(build, workdir, db.env())
        crawler.type(BASE + "p1.html " + BASE + "p2.html\n")
        checks.expect("second run ends with status 0", crawl(crawler, site, 0) == 0)
        checks.expect("second run fetches nothing", site.requests == [], str(site.requests))
        checks.expect("second run says the typed pages are indexed already",
                      crawler.stderr().count("already indexed") == 2, crawler.stderr())
        checks.index_invariants(db)
        site.close()
    checks.finish()


if __name__ == "__main__":
    main()
