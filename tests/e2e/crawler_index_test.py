"""A crawl whose result does not depend on timing, compared with the index
contents and indexer messages that the crawler has always produced for it:
every URL, invalid URL, keyword, keyword count, theme count and document
kind, and every "EXCEPTION" message, as sorted lines.

The site is a tree: every page is linked from one page only, apart from
links back to pages fetched before it, so which links are queued does not
depend on how far the download thread runs ahead of the parse thread. Its
words include what the indexer must handle with care: quotes, backslashes,
a word of 255 bytes and one of 300, accented capitals that the index's
case-insensitive keyword column takes for one word (the later ones are
reported and skipped), a word of negative weight, and a page of 2,500
distinct words.

Usage: crawler_index_test.py BUILD_DIR
       crawler_index_test.py BUILD_DIR --write   (record the expected dump)"""

import os
import sys
import tempfile

from crawler_run import Crawler, Site, start_test, write_config
from crawler_crawl_test import crawl, html

BASE = "http://localhost/site/"
EXPECTED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures",
                        "crawler_index.expected")
THEMES = "abeille 0\nmiel 2\nruche 1\nreine 1\nspam 4294967295\n"


def site_pages():
    page = "text/html"
    hostile = ("say\"hi back\\slash end\\ c'est \"\" " + "x" * 255 + " " + "y" * 300 +
               " \xe9t\xe9 \xc9t\xe9 \xc9T\xc9 \xe0 la ruche")
    many = " ".join("mot%04d" % n for n in range(2500))
    return {
        # Console URLs: an on-theme root, and an off-theme page whose chain
        # reaches the depth limit (maxDepth 0).
        "/site/index.html": (page, html("abeille abeille miel Miel spam spam " + hostile,
                                        "a.html", "b.html", "off.html", "missing.html",
                                        "http://elsewhere.invalid/x.html"), 0),
        "/site/lone.html": (page, html("rien de rien", "lone1.html"), 0),
        "/site/lone1.html": (page, html("toujours rien", "lone2.html", "lone3.html"), 0),
        "/site/a.html": (page, html("abeille miel miel reine reine REINE", "a1.html",
                                    "index.html", "a2.html"), 0),
        "/site/a1.html": (page, html("ABEILLE ruche " + many), 0),
        "/site/a2.html": (page, html("miel sans le mot requis", "a2x.html"), 0),
        "/site/a2x.html": (page, html("feuille"), 0),
        "/site/b.html": (page, html("abeille miel miel \\\\ \\\" '' ruche", "a.html"), 0),
        "/site/off.html": (page, html("abeille seule"), 0),
    }


def dump(db):
    lines = ["Url %s %s" % tuple(row.split("\t")) for row in
             db.column("SELECT url, nbMotsTheme FROM Url")]
    lines += ["UrlInvalide " + row.replace("\t", " (") + ")" for row in db.column(
        "SELECT i.url, r.raison FROM UrlInvalide i JOIN UrlInvalideRaison r USING (url)")]
    lines += ["MotCle " + word for word in db.column("SELECT mot FROM MotCle")]
    lines += ["CorrespMotUrl " + row for row in db.column(
        "SELECT u.url, m.mot, c.ratio FROM CorrespMotUrl c JOIN MotCle m USING (idMot) "
        "JOIN Url u USING (idUrl)")]
    lines += ["Extension " + kind for kind in db.column("SELECT extension FROM Extension")]
    return lines


def main():
    write = sys.argv[2:] == ["--write"]
    build, db, checks = start_test(sys.argv, "se_test_e2e_index")

    with tempfile.TemporaryDirectory() as workdir:
        write_config(workdir, BASE, THEMES, max_depth=0)
        site = Site(site_pages())
        crawler = Crawler(build, workdir, db.env())
        crawler.type(BASE + "index.html " + BASE + "lone.html\n")
        checks.expect("the crawl ends with status 0", crawl(crawler, site, 10) == 0)
        site.close()
        print("requests:", site.requests)
        checks.index_invariants(db)
        messages = sorted(line for line in crawler.stdout().split("\n") if line)
        result = dump(db) + ["stdout " + line for line in messages]

    if write:
        with open(EXPECTED, "w", encoding="latin-1") as out:
            out.write("\n".join(result) + "\n")
        print("wrote", EXPECTED)
        return
    with open(EXPECTED, encoding="latin-1") as expected_file:
        expected = expected_file.read().split("\n")[:-1]
    missing = [line for line in expected if line not in result]
    extra = [line for line in result if line not in expected]
    checks.expect("the index holds what it always held", not missing and not extra,
                  "\nmissing:\n  %s\nunexpected:\n  %s" % (
                      "\n  ".join(line[:200] for line in missing),
                      "\n  ".join(line[:200] for line in extra)))
    checks.expect("same number of lines", len(result) == len(expected),
                  "%d instead of %d" % (len(result), len(expected)))
    checks.finish()


if __name__ == "__main__":
    main()
