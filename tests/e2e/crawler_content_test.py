"""The crawler reads Content-Type as HTTP writes it and folds its theme
words as it folds page words: pages served with the header in several
spellings (no blank after ';' or after the colon, type and sub-type in
capitals, a charset parameter) are fetched and indexed, an image is refused,
and the accented theme word of a UTF-8 theme-word file puts on theme the
pages that write it in Latin-1 or with an entity. Usage:
crawler_content_test.py BUILD_DIR"""

import os
import sys
import tempfile

from crawler_crawl_test import crawl
from crawler_run import Crawler, start_test, write_config
from web_servers import RawSite

SITE = "http://localhost/site/"
# UTF-8, as an editor of today writes it; the entry of three words is
# warned about and skipped.
THEMES = "abeille 1\nd\u00e9pendances 1\npomme-de-terre 2\n".encode("utf-8")


def raw_page(content_type_line, body):
    """A 200 reply whose Content-Type line is sent byte for byte as given."""
    return [b"HTTP/1.1 200 OK\r\n" + content_type_line + b"\r\nContent-Length: " +
            str(len(body)).encode() + b"\r\nConnection: close\r\n\r\n" + body]


def html(text, head=""):
    return "<html><head>%s</head><body>%s</body></html>" % (head, text)


# name -> (Content-Type line, body)
PAGES = {
    # The page's meta tag says Latin-1: only the header's charset, read
    # after a ';' without a blank, makes "\u00e9t\u00e9" the word "ete".
    "utf8.html": (b"Content-Type: text/html;charset=UTF-8",
                  html("abeille \u00e9t\u00e9", '<meta charset="iso-8859-1">').encode("utf-8")),
    # The theme word written with an entity.
    "upper.html": (b"Content-Type: text/HTML", html("les D&eacute;pendances du rucher").encode()),
    # The theme word written in Latin-1.
    "latin1.html": (b"Content-Type: TEXT/html; charset=ISO-8859-1",
                    html("les d\u00e9pendances de la ruche").encode("latin-1")),
    "nospace.html": (b"Content-Type:text/html", html("abeille sans blanc").encode()),
    # Off theme: a word that is not a theme word, however close.
    "off.html": (b"Content-Type: text/html; charset=utf-8", html("rien que la dependance").encode()),
    "image.gif": (b"Content-Type: image/gif", b"GIF89a\x01\x00\x01\x00\x00\x00\x00;"),
}


def site_replies():
    links = " ".join('<a href="%s">lien</a>' % name for name in PAGES)
    replies = {"/site/index.html": raw_page(b"Content-Type: text/html",
                                            html("abeille accueil " + links).encode())}
    for name, (content_type, body) in PAGES.items():
        replies["/site/" + name] = raw_page(content_type, body)
    return replies


def main():
    build, db, checks = start_test(sys.argv, "se_test_e2e_content")

    with tempfile.TemporaryDirectory() as workdir:
        # The accepted type is written in capitals: it accepts text/html.
        write_config(workdir, SITE, "", max_depth=0, types=("HTML",))
        with open(os.path.join(workdir, "themes.txt"), "wb") as out:
            out.write(THEMES)
        site = RawSite(80, site_replies())
        crawler = Crawler(build, workdir, db.env())
        crawler.type(SITE + "index.html\n")
        checks.expect("crawl ends with status 0", crawl(crawler, site, 1 + len(PAGES)) == 0)
        site.close()
        log, out = crawler.stderr(), crawler.stdout()
        print(log)

        checks.expect("every page asked for once",
                      sorted(site.paths()) == sorted(["/site/index.html"] +
                                                     ["/site/" + name for name in PAGES]),
                      str(site.paths()))
        checks.expect("the theme entry of several words is named with its line", (
            'theme word file themes.txt, line 3: "pomme-de-terre" gives several words; '
            'ignored\n') in out, out)

        html_pages = ["index.html"] + [name for name in PAGES if name.endswith(".html")]
        fetched = db.column("SELECT url FROM Url")
        checks.expect("Url holds every HTML page and not the image",
                      fetched == sorted(SITE + name for name in html_pages), str(fetched))
        invalid = set(db.column("SELECT url FROM UrlInvalide")) - {"exit"}
        checks.expect("only the image is refused", invalid == {SITE + "image.gif"}, str(invalid))
        checks.expect("the image's refusal names its type",
                      "ERROR DOWNLOAD %simage.gif : content type image/gif not accepted\n" % SITE
                      in log, log)

        def keywords_of(name):
            return db.column("SELECT m.mot FROM CorrespMotUrl c JOIN MotCle m "
                             "ON m.idMot = c.idMot JOIN Url u ON u.idUrl = c.idUrl "
                             "WHERE u.url = '%s%s'" % (SITE, name))

        # An on-theme page has its keywords linked; an off-theme one none.
        for name, words in (("index.html", {"abeille", "accueil"}),
                            ("utf8.html", {"abeille", "ete"}),
                            ("upper.html", {"dependances", "rucher"}),
                            ("latin1.html", {"dependances", "ruche"}),
                            ("nospace.html", {"abeille", "blanc"})):
            found = keywords_of(name)
            checks.expect("%s is on theme with its keywords %s" % (name, sorted(words)),
                          words <= set(found), str(found))
        checks.expect("the off-theme page has no keyword", keywords_of("off.html") == [],
                      str(keywords_of("off.html")))
        counts = db.column("SELECT CONCAT(url, ' ', nbMotsTheme) FROM Url "
                           "WHERE url IN ('%supper.html', '%slatin1.html')" % (SITE, SITE))
        checks.expect("the accented theme word counts once on each page",
                      counts == [SITE + "latin1.html 1", SITE + "upper.html 1"], str(counts))
        checks.index_invariants(db)
    checks.finish()


if __name__ == "__main__":
    main()
