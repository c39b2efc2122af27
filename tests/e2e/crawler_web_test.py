"""The crawler on the web as it is: http:// on port 80 and 8080, https://
with a test certificate authority, chunked, compressed and segmented
replies, 301 and 308 redirects, rooted and scheme-relative links, UTF-8
pages and a PDF found by an accented search, and the politeness option
(robots.txt and the delay between requests). Usage: crawler_web_test.py
BUILD_DIR [PART]; the parts (site, ports, politeness) run on their own when
named."""

import os
import subprocess
import sys
import tempfile
import time

from crawler_run import Crawler, start_parts, write_config
from web_servers import (RawSite, chunked_page, gzip_page, make_certificates, page, redirect,
                         segmented_page)

SITE = "http://localhost/site/"
# The same words on a UTF-8 page and on a Latin-1 page.
TWIN_TEXT = "abeille \u00e9t\u00e9 r\u00e9colte fen\u00eatre \u00e0 l'\u00eele"


def html(text, *links, head=""):
    anchors = " ".join('<a href="%s">lien</a>' % link for link in links)
    return "<html><head>%s</head><body>%s %s</body></html>" % (head, text, anchors)


def pdf_with_accents(workdir):
    """A PDF whose text, as the converter gives it, is UTF-8."""
    source = os.path.join(workdir, "doc.ps")
    target = os.path.join(workdir, "doc.pdf")
    with open(source, "wb") as out:
        out.write(b"%!PS\n/Helvetica findfont dup length dict begin\n"
                  b"{1 index /FID ne {def} {pop pop} ifelse} forall\n"
                  b"/Encoding ISOLatin1Encoding def currentdict end /HL exch definefont pop\n"
                  b"/HL findfont 12 scalefont setfont\n"
                  b"72 700 moveto (abeille \xe9t\xe9 r\xe9colte pr\xe9cieuse) show\nshowpage\n")
    subprocess.run(["ps2pdf", source, target], check=True)
    with open(target, "rb") as pdf:
        return pdf.read()


def main_site(workdir):
    chunked = html("abeilles", "ruche.html").encode("latin-1")
    # Chunk boundaries inside "abeilles" and inside the link's target.
    word, link = chunked.index(b"abei") + 4, chunked.index(b'"ru') + 3
    return {
        "/site/index.html": page(html(
            "abeille accueil", "/site/utf8.html", "/site/meta.html", "latin1.html", "chunked.html",
            "segmented.html", "gzip.html", "old301.html", "old308.html", "/site/doc.pdf",
            "https://localhost/site/secure.html", "//localhost:8080/site/port.html",
            "/img/logo.gif").encode("latin-1")),
        "/site/utf8.html": page(html(TWIN_TEXT + " c\u0153ur").encode("utf-8"),
                                "text/html; charset=UTF-8"),
        # The same words, but a text of its own: a page whose display text
        # repeats another's is indexed once.
        "/site/latin1.html": page(html(TWIN_TEXT + " coeur !").encode("latin-1")),
        # (The scanner glues a meta tag's text to the next word: a blank first.)
        "/site/meta.html": page(html(" abeille s\u0153ur \u2018ruche\u2019",
                                     head='<meta charset="utf-8">').encode("utf-8")),
        "/site/chunked.html": chunked_page(chunked, [word, link - word]),
        "/site/ruche.html": page(html("abeille ruche").encode("latin-1")),
        "/site/segmented.html": segmented_page(html("abeille segment").encode("latin-1")),
        "/site/gzip.html": gzip_page(html("abeille compresse").encode("latin-1")),
        "/site/old301.html": redirect("301 Moved Permanently", "/site/Moved/A.html"),
        "/site/Moved/A.html": page(html("abeille deplacee").encode("latin-1")),
        "/site/old308.html": redirect("308 Permanent Redirect", "https://LOCALHOST/site/B.html"),
        "/site/doc.pdf": page(pdf_with_accents(workdir), "application/pdf"),
    }


def crawl(crawler, sites, at_least, quiet_seconds=3.0, limit=90):
    """Lets the crawl run until the servers have had `at_least` requests and
    nothing has happened for `quiet_seconds`, then types "exit"."""
    deadline = time.time() + limit
    last, since = None, time.time()
    while time.time() < deadline:
        count = sum(len(site.requests) for site in sites)
        state = (count, len(crawler.stderr()))
        if state != last:
            last, since = state, time.time()
        elif count >= at_least and time.time() - since >= quiet_seconds:
            break
        time.sleep(0.1)
    crawler.type("exit\n")
    return crawler.wait(20)


def search(build, db, query):
    """searchcgi's page for the Latin-1 query bytes, as a web server passes
    them on."""
    env = {key.encode(): value.encode() for key, value in db.env().items()}
    env.update({b"QUERY_STRING": b"keyword=" + query + b"&page=1", b"SERVER_NAME": b"localhost",
                b"SCRIPT_NAME": b"/cgi-bin/searchcgi"})
    done = subprocess.run([os.path.join(build, "searchcgi", "searchcgi")], env=env,
                          stdout=subprocess.PIPE, check=True)
    return done.stdout.decode("latin-1")


def check_whole_site(build, db, checks, workdir, certificates):
    ca_file, server_cert, _ = certificates
    write_config(workdir, SITE, "abeille 1\nabeilles 1\n", max_depth=0, types=("html", "pdf"))
    plain = RawSite(80, main_site(workdir))
    secure = RawSite(443, {"/site/secure.html": page(html("abeille securise").encode()),
                           "/site/B.html": page(html("abeille bis").encode())}, server_cert)
    other_port = RawSite(8080, {})
    crawler = Crawler(build, workdir, dict(db.env(), SE_CA_FILE=ca_file))
    crawler.type(SITE + "index.html\n")
    # Twelve pages on port 80 and two over https.
    checks.expect("crawl ends with status 0", crawl(crawler, [plain, secure], 14) == 0)
    log = crawler.stderr()
    print(log)

    asked = plain.paths()
    checks.expect("every URL asked for on port 80 exists",
                  all(path in main_site(workdir) for path in asked), str(asked))
    checks.expect("robots.txt is not asked for without the option", "/robots.txt" not in asked)
    checks.expect("nothing asked for on port 8080 (another site)", other_port.paths() == [])
    checks.expect("the request is the request line, Host and Connection only",
                  plain.requests[0][1] == b"GET /site/index.html HTTP/1.1\r\nHost: localhost\r\n"
                  b"Connection: close\r\n\r\n", repr(plain.requests[0][1]))
    checks.expect("https requests name the host without the default port",
                  secure.requests and b"\r\nHost: localhost\r\n" in secure.requests[0][1])
    checks.expect("no download error", "ERROR" not in log, log)

    fetched = db.column("SELECT url FROM Url")
    expected = sorted([SITE + name for name in (
        "index.html", "utf8.html", "latin1.html", "meta.html", "chunked.html", "ruche.html", "segmented.html",
        "gzip.html", "old301.html", "Moved/A.html", "old308.html", "doc.pdf")] +
        ["https://localhost/site/secure.html", "https://localhost/site/B.html"])
    checks.expect("Url holds every page, redirects and https pages included",
                  fetched == expected, str(fetched))
    checks.index_invariants(db)
    invalid = set(db.column("SELECT url FROM UrlInvalide"))
    checks.expect("the rooted link outside the site and the other port are refused",
                  invalid == {"http://localhost/img/logo.gif",
                              "http://localhost:8080/site/port.html"}, str(invalid))

    def pages_with(word):
        return db.column("SELECT u.url FROM CorrespMotUrl c JOIN MotCle m ON m.idMot = c.idMot "
                         "JOIN Url u ON u.idUrl = c.idUrl WHERE m.mot = '%s'" % word)
    checks.expect("a word cut by a chunk boundary is one word",
                  pages_with("abeilles") == [SITE + "chunked.html"], str(pages_with("abeilles")))

    def keywords_of(name):
        return db.column("SELECT CONCAT(m.mot, ' ', c.ratio) FROM CorrespMotUrl c "
                         "JOIN MotCle m ON m.idMot = c.idMot JOIN Url u ON u.idUrl = c.idUrl "
                         "WHERE u.url = '%s%s'" % (SITE, name))
    # Words are indexed with their accents folded, whatever the character set.
    for word, pages in (("ete", ["doc.pdf", "latin1.html", "utf8.html"]),
                        ("recolte", ["doc.pdf", "latin1.html", "utf8.html"]),
                        ("precieuse", ["doc.pdf"]), ("fenetre", ["latin1.html", "utf8.html"]),
                        ("coeur", ["latin1.html", "utf8.html"]),
                        ("soeur", ["meta.html"]), ("compresse", ["gzip.html"]),
                        ("segment", ["segmented.html"])):
        found = sorted(url for url in pages_with(word) if url.startswith(SITE))
        checks.expect("keyword %r on %s" % (word, pages),
                      found == sorted(SITE + name for name in pages),
                      "%s; keywords of %s: %s" % (found, pages[0], keywords_of(pages[0])))

    # The UTF-8 page is indexed exactly as its Latin-1 twin, accented words
    # included (as far as the HTML scanner keeps them).
    checks.expect("the UTF-8 page has the keywords of its Latin-1 twin",
                  keywords_of("utf8.html") == keywords_of("latin1.html") != [],
                  "%s / %s" % (keywords_of("utf8.html"), keywords_of("latin1.html")))
    for twin in ("latin1.html", "utf8.html"):
        checks.expect("no UTF-8 byte pair indexed from " + twin, not any(
            "\xc3" in word for word in keywords_of(twin)), str(keywords_of(twin)))

    # As a form sends it (Latin-1, percent-encoded), as a browser that
    # ignored the form's charset sends it (UTF-8), and without its accents.
    for query in (b"%E9t%E9", b"%C3%A9t%C3%A9", b"ete"):
        result = search(build, db, query)
        for name in ("doc.pdf", "utf8.html", "latin1.html"):
            checks.expect("the search %s finds %s" % (query.decode(), name),
                          SITE + name in result, result)
    for site in (plain, secure, other_port):
        site.close()


def check_other_port_and_untrusted_certificate(build, db, checks, workdir, certificates):
    ca_file, _, untrusted = certificates
    db.reset()
    write_config(workdir, "", "abeille 1\n")
    port_site = RawSite(8080, {"/site/port.html": page(html("abeille port").encode())})
    untrusted_site = RawSite(8443, {"/x.html": page(html("abeille").encode())}, untrusted)
    crawler = Crawler(build, workdir, dict(db.env(), SE_CA_FILE=ca_file))
    crawler.type("http://localhost:8080/site/port.html https://localhost:8443/x.html\n")
    checks.expect("second crawl ends with status 0", crawl(crawler, [port_site], 1) == 0)
    log = crawler.stderr()
    checks.expect("port 8080 fetched with its port in Host",
                  port_site.requests and b"\r\nHost: localhost:8080\r\n" in
                  port_site.requests[0][1], str(port_site.requests))
    checks.expect("the page on port 8080 is recorded",
                  db.column("SELECT url FROM Url") == ["http://localhost:8080/site/port.html"])
    checks.expect("an untrusted certificate is refused with its reason",
                  "ERROR DOWNLOAD https://localhost:8443/x.html : certificate not trusted" in log,
                  log)
    checks.expect("nothing is asked of the untrusted server", untrusted_site.paths() == [])
    port_site.close()
    untrusted_site.close()


def check_politeness(build, db, checks, workdir, _):
    db.reset()
    site = "http://localhost:8081/"
    write_config(workdir, site, "abeille 1\n")
    robots = b"User-agent: *\nDisallow: /private/\nCrawl-delay: 1.5\n"
    polite = RawSite(8081, {
        "/robots.txt": page(robots, "text/plain"),
        "/index.html": page(html("abeille", "a.html", "b.html", "private/c.html").encode()),
        "/a.html": page(html("abeille a").encode()),
        "/b.html": page(html("abeille b").encode()),
        "/private/c.html": page(html("abeille c").encode()),
    })
    crawler = Crawler(build, workdir, db.env(), args=["--polite"])
    crawler.type(site + "index.html\n")
    checks.expect("polite crawl ends with status 0", crawl(crawler, [polite], 4) == 0)
    log = crawler.stderr()
    asked = polite.paths()
    checks.expect("robots.txt first and once, the disallowed page never",
                  asked[:1] == ["/robots.txt"] and asked.count("/robots.txt") == 1 and
                  sorted(asked[1:]) == ["/a.html", "/b.html", "/index.html"], str(asked))
    checks.expect("the refused URL is logged",
                  "ERROR DOWNLOAD %sprivate/c.html : disallowed by robots.txt\n" % site in log, log)
    checks.expect("the refusal lasts for the run: the URL is recorded nowhere",
                  site + "private/c.html" not in db.column("SELECT url FROM UrlInvalide"))
    checks.index_invariants(db)
    gaps = [later[2] - earlier[3] for earlier, later in zip(polite.requests, polite.requests[1:])]
    checks.expect("Crawl-delay kept between requests", all(gap >= 1.4 for gap in gaps), str(gaps))
    checks.expect("User-Agent names the crawler", all(
        b"\r\nUser-Agent: ThemeSearchCrawler/" in entry[1] for entry in polite.requests))
    polite.close()


def main():
    build, db, checks, parts = start_parts(sys.argv, "se_test_e2e_web", [
        ("site", check_whole_site), ("ports", check_other_port_and_untrusted_certificate),
        ("politeness", check_politeness)])
    with tempfile.TemporaryDirectory() as workdir:
        certificates = make_certificates(workdir)
        for part in parts:
            part(build, db, checks, workdir, certificates)
    checks.finish()


if __name__ == "__main__":
    main()
