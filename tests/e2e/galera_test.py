"""The index on a three-node MariaDB Galera cluster: two crawlers index two
sites at once, each through a node of its own, while searchcgi reads from
the third; one writing node is killed (SIGKILL) in the middle of its
crawler's crawl, and that crawler goes on through the next server of its
SE_DB_HOST list. At the end every node that is left holds exactly what
single-server crawls of the same two sites hold, the index invariants
hold, and the search on the third node finds the pages of both sites as
the search on the single server does. Then the reading node, left alone
without its cluster's quorum, is passed over for the next server of a list.

The nodes run as the mysql user (the rsync state transfer fails for a
server run as root) on loopback ports, with data directories under
BUILD_DIR/e2e/galera; the test runs in a network namespace of its own, the
two sites on 127.0.0.1 and 127.0.0.2 port 80. The single-server crawls, one
site after the other while the cluster starts, go to a database of their
own on the private test server. Skipped (status 77)
when the Galera library, the mysql user or rsync is missing.

Usage: galera_test.py SOURCE_DIR BUILD_DIR"""

import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crawler_run import Checks, Database, Site, in_private_network, write_config  # noqa: E402
from galera_cluster import Node, missing_requirement, start_cluster  # noqa: E402

SKIPPED = 77
THEMES = "abeille 1\nmiel 1\nruche 1\n"
PAGE = "text/html"
PAGE_DELAY = 0.25
# Each site: its address, the word only its pages hold, and the nodes its
# crawler lists, the first being the one it writes through.
SITES = {"a": ("127.0.0.1", "alpha", (1, 3)), "b": ("127.0.0.2", "bravo", (2, 3))}
READER = 3
BRANCHES, LEAVES = 4, 4
# Site a's requests before its node is killed: the crawl is well under way.
KILL_AFTER = 8


def html(title, text, *links):
    anchors = " ".join('<a href="%s">lien</a>' % link for link in links)
    return ("<html><head><title>%s</title></head><body>%s %s</body></html>" %
            (title, text, anchors)).encode("latin-1")


def site_pages(word):
    """A tree, each page linked from one page only, so what is indexed does
    not depend on timing: a root with a page that is missing and an off-theme
    page whose link is past the depth limit, branches, and leaves whose many
    words the other site's leaves share (the two crawlers add the same new
    keywords at about the same time)."""
    pages = {"/s/index.html": (PAGE, html(word + " racine", "abeille miel " + word,
                                          *(["b%d.html" % b for b in range(BRANCHES)] +
                                            ["missing.html", "off.html"])), PAGE_DELAY),
             "/s/off.html": (PAGE, html("hors " + word, "rien " + word, "off1.html"), PAGE_DELAY),
             "/s/off1.html": (PAGE, html("loin", "abeille " + word), PAGE_DELAY)}
    for b in range(BRANCHES):
        pages["/s/b%d.html" % b] = (PAGE, html(
            "%s branche %d" % (word, b), "abeille ruche ruche %s branche%d" % (word, b),
            *["l%d_%d.html" % (b, leaf) for leaf in range(LEAVES)]), PAGE_DELAY)
        for leaf in range(LEAVES):
            shared = " ".join("v%dx%dy%d" % (b, leaf, n) for n in range(40))
            pages["/s/l%d_%d.html" % (b, leaf)] = (PAGE, html(
                "feuille %d %d" % (b, leaf), "miel %s %s feuille%d" % (word, shared, leaf)),
                PAGE_DELAY)
    return pages


def crawler(build, workdir, site, env):
    """The crawler in batch mode over one site's tree."""
    address = SITES[site][0]
    os.makedirs(workdir)
    write_config(workdir, "http://%s/s/" % address, THEMES, max_depth=0)
    out = open(os.path.join(workdir, "stdout.txt"), "wb")
    err = open(os.path.join(workdir, "stderr.txt"), "wb")
    return subprocess.Popen([os.path.join(build, "crawler", "crawler"), "--until-idle",
                             "--start", "http://%s/s/index.html" % address],
                            cwd=workdir, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)


def log_of(workdir):
    with open(os.path.join(workdir, "stderr.txt"), "rb") as err:
        return err.read().decode("latin-1")


def finished(process, limit):
    try:
        return process.wait(timeout=limit)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return None


def index_rows(db):
    """What the index holds, by URL and keyword text (the ids differ from
    one server to another): every table, as sorted lines."""
    def rows(prefix, statement):
        return [prefix + " " + row for row in db.column(statement)]
    return (rows("Url", "SELECT url, nbMotsTheme, lastVisit IS NULL FROM Url") +
            rows("UrlInvalide", "SELECT i.url, r.raison FROM UrlInvalide i "
                 "JOIN UrlInvalideRaison r USING (url)") +
            rows("MotCle", "SELECT mot FROM MotCle") +
            rows("CorrespMotUrl", "SELECT u.url, m.mot, c.ratio FROM CorrespMotUrl c "
                 "JOIN MotCle m USING (idMot) JOIN Url u USING (idUrl)") +
            rows("Extension", "SELECT extension FROM Extension") +
            rows("Document", "SELECT u.url, d.titre, d.empreinte, MD5(d.texte) FROM Document d "
                 "JOIN Url u USING (idUrl)") +
            rows("DocumentMesure", "SELECT u.url, d.nbMots, d.nbMotsTitre, d.nbMotsIntertitres, "
                 "d.nbMotsChemin, d.nbMotsDescription, d.langue FROM DocumentMesure d "
                 "JOIN Url u USING (idUrl)") +
            rows("MotChamp", "SELECT u.url, m.mot, f.champ, f.nb FROM MotChamp f "
                 "JOIN MotCle m USING (idMot) JOIN Url u USING (idUrl)") +
            rows("FileAttente", "SELECT url FROM FileAttente"))


def same_rows(checks, what, rows, expected):
    missing = [row for row in expected if row not in rows]
    extra = [row for row in rows if row not in expected]
    checks.expect(what, rows == expected, "\nmissing:\n  %s\nunexpected:\n  %s" % (
        "\n  ".join(row[:160] for row in missing[:20]),
        "\n  ".join(row[:160] for row in extra[:20])))


def search(build, query, settings):
    """The JSON view's total and results (sorted by URL: ties in the ranking
    may fall either way on two servers whose ids differ); for a reply without
    results, None and the reply with the log."""
    env = {"PATH": os.environ["PATH"], "QUERY_STRING": query, "SERVER_NAME": "search.example",
           "SCRIPT_NAME": "/cgi-bin/searchcgi", "PATH_INFO": "/json"}
    env.update(settings)
    done = subprocess.run([os.path.join(build, "searchcgi", "searchcgi")], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    body = done.stdout.split(b"\n\n", 1)[-1]
    try:
        reply = json.loads(body.decode("utf-8"))
    except ValueError:
        reply = {}
    if "total" not in reply:
        return None, done.stdout + done.stderr
    return reply.get("total"), sorted(reply.get("results", []), key=lambda r: r["url"])


def reference_crawls(build, work, reference):
    """The two sites crawled one after the other into one database of the
    private server, on a thread of its own (while the cluster starts);
    returns the thread and the crawls' exit statuses, filled as they end."""
    reference.reset()
    statuses = {}

    def crawl_each():
        for site in SITES:
            process = crawler(build, os.path.join(work, "reference-" + site), site, reference.env())
            statuses[site] = finished(process, 60)
    thread = threading.Thread(target=crawl_each)
    thread.start()
    return thread, statuses


def cluster_crawls(checks, build, work, nodes, sites):
    """Both sites crawled at once, each through its own node; site a's node
    killed once its crawl is under way. True when both crawls ended well."""
    crawls = {}
    for site, (_, _, listed) in SITES.items():
        env = dict(os.environ, SE_DB_HOST=",".join(nodes[n - 1].address() for n in listed),
                   SE_DB_USER="se_user", SE_DB_PASSWORD="sesame_word", SE_DB_NAME="search_engine")
        env.pop("SE_DB_SOCKET", None)
        crawls[site] = crawler(build, os.path.join(work, "cluster-" + site), site, env)
    deadline = time.time() + 30
    while len(sites["a"].requests) < KILL_AFTER and time.time() < deadline:
        time.sleep(0.05)
    writer = nodes[SITES["a"][2][0] - 1]
    checks.expect("site a's crawl is under way when its node is killed",
                  KILL_AFTER <= len(sites["a"].requests) < len(site_pages("alpha")),
                  str(sites["a"].requests))
    total, results = search(build, "keyword=abeille", {
        "SE_DB_HOST": nodes[READER - 1].address(), "SE_DB_USER": "se_user",
        "SE_DB_PASSWORD": "sesame_word"})
    checks.expect("the reading node answers while both crawlers write", total, str(results))
    writer.process.send_signal(signal.SIGKILL)
    writer.process.wait()
    killed = time.time()
    ended = {site: finished(process, 90) for site, process in crawls.items()}
    print("crawls ended %.1f s after the kill" % (time.time() - killed))
    ok = True
    for site in SITES:
        log = log_of(os.path.join(work, "cluster-" + site))
        ok &= checks.expect("cluster crawl of site %s ends with status 0" % site,
                            ended[site] == 0, "%s\n%s" % (ended[site], log))
        ok &= checks.expect("cluster crawl of site %s: no database error" % site,
                            "ERROR DATABASE" not in log and "unavailable" not in log, log)
    moved = "the index database is now reached at %s\n" % nodes[SITES["a"][2][1] - 1].address()
    log = log_of(os.path.join(work, "cluster-a"))
    checks.expect("site a's crawler says once that it moved to the next server",
                  log.count(moved) == 1, log)
    return ok


def compare_searches(checks, build, reader, reference):
    """The search on the reading node against the search on the single server."""
    on_reference = {"SE_DB_SOCKET": reference.socket, "SE_DB_NAME": reference.name}
    on_reader = {"SE_DB_HOST": reader.address(), "SE_DB_USER": "se_user",
                 "SE_DB_PASSWORD": "sesame_word"}
    for query in ("keyword=ruche", "keyword=alpha+branche2", "keyword=bravo", "keyword=v1x2y7"):
        total, results = search(build, query, on_reader)
        expected = search(build, query, on_reference)
        checks.expect("the reading node answers as the single server: " + query,
                      (total, results) == expected and total,
                      "\nnode: %s %s\nsingle: %s" % (total, results, expected))
        if query == "keyword=ruche":
            hosts = {result["url"].split("/")[2] for result in results or []}
            checks.expect("the search on the reading node finds the pages of both sites",
                          hosts == {"127.0.0.1", "127.0.0.2"}, str(hosts))


def cut_off_reader(checks, build, nodes, reference):
    """With the second writing node killed too, the reading node is alone,
    without its cluster's quorum: it takes sessions but no statement on a
    table. A connection passes it over for the next server of its list."""
    nodes[SITES["b"][2][0] - 1].process.send_signal(signal.SIGKILL)
    reader = nodes[READER - 1]
    deadline = time.time() + 30
    while time.time() < deadline and reader.status("wsrep_ready") != "OFF":
        time.sleep(0.2)
    checks.expect("the reading node, alone, is not ready", reader.status("wsrep_ready") == "OFF")
    alone = {"SE_DB_HOST": reader.address(), "SE_DB_USER": "se_user",
             "SE_DB_PASSWORD": "sesame_word"}
    total, reply = search(build, "keyword=ruche", alone)
    checks.expect("a search on it alone says the index is unavailable",
                  total is None and b"503" in reply and b"not ready" in reply, str(reply))
    listed = {"SE_DB_HOST": reader.address() + "," + reference.socket, "SE_DB_NAME": reference.name}
    checks.expect("a search whose list goes on to the single server answers from it",
                  search(build, "keyword=ruche", listed) ==
                  search(build, "keyword=ruche", {"SE_DB_SOCKET": reference.socket,
                                                  "SE_DB_NAME": reference.name}))


def main():
    reason = missing_requirement()
    if reason:
        print("skipped: " + reason)
        sys.exit(SKIPPED)
    in_private_network(sys.argv)
    source, build = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    work = os.path.join(build, "e2e", "galera")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    began = time.time()
    checks = Checks()
    sites = {site: Site(site_pages(word), address=address)
             for site, (address, word, _) in SITES.items()}
    nodes = [Node(work, n) for n in (1, 2, 3)]
    reference = Database(build, "se_test_e2e_galera_reference")
    try:
        referencing, statuses = reference_crawls(build, work, reference)
        up = start_cluster(checks, nodes, os.path.join(source, "index", "schema.sql"))
        referencing.join()
        for site in SITES:
            checks.expect("reference crawl of site %s ends with status 0" % site,
                          statuses.get(site) == 0, log_of(os.path.join(work, "reference-" + site)))
        checks.index_invariants(reference)
        expected = index_rows(reference)
        for site in sites.values():
            site.requests.clear()
        if up and cluster_crawls(checks, build, work, nodes, sites):
            print("transactions rolled back in conflicts and sent again: %d" % sum(
                int(node.status(name) or 0) for node in nodes[1:]
                for name in ("wsrep_local_cert_failures", "wsrep_local_bf_aborts")))
            for node in nodes[1:]:
                db = node.database(build)
                same_rows(checks, "node %d holds what the single server holds" % node.number,
                          index_rows(db), expected)
                checks.index_invariants(db)
            compare_searches(checks, build, nodes[READER - 1], reference)
            cut_off_reader(checks, build, nodes, reference)
    finally:
        for site in sites.values():
            site.close()
        for node in nodes:
            node.stop()
    print("galera test: %.1f s" % (time.time() - began))
    checks.finish()


if __name__ == "__main__":
    main()
