"""Ranking quality: our result views against htsearch on judged queries.

    python3 bench/relevance_eval.py [--sites NAME,...] [--build DIR] [--out DIR]
                                    [--half tune|held-out|all] [--reuse-index]

Runs as root (a private network namespace, port 80). For each site of
bench/relevance/ (a documentation site from a Debian package, installed here
when missing, with its theme words, crawl settings and judged queries) it
serves the site with lighttpd on 127.0.0.1:80 inside a network namespace of
its own, starts a private MariaDB server under BUILD/relevance-db, crawls the
site with the crawler (start URL typed, `exit` once the log is quiet), then
with ht://Dig, and sends every query to

  - our JSON view (searchcgi as a CGI process, PATH_INFO=/json),
  - our plain page (no PATH_INFO; its links in order),
  - htsearch (command line, with the configuration written here),

keywords percent-encoded in Latin-1 as the search form sends them. The top
ten results, mapped back to paths of the site, are scored against the
judgments (relevance_metrics.py): MRR, P@1 and nDCG@10 per system over the
tune half, the held-out half and all queries, printed as Markdown tables
(one per site, one for all sites) and written with every ranking to
OUT/result.json. --half runs and shows one half only (all: every query in
one column). --reuse-index keeps the indexes of the previous run in OUT and
only searches again."""

import argparse
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import urllib.parse

from crawl_harness import (ROOT, HERE, ConsoleCrawl, Database, Lighttpd, ensure_packages,
                           in_private_network, write_engine_config, write_htdig_conf,
                           write_theme_words)
import relevance_metrics

SITES_DIR = os.path.join(HERE, "relevance")
SITE_URL = "http://127.0.0.1/"
TOP = relevance_metrics.CUTOFF
MAX_PAGES = 5          # result pages fetched per query at most
QUIET_SECONDS = 5.0    # a crawl whose log has been quiet this long is over
OWN_BASE = "http://searchcgi.invalid/cgi-bin/searchcgi"   # our views' own links
HTSEARCH = "/usr/lib/cgi-bin/htsearch"   # Debian installs it as a CGI program
SYSTEMS = ("ours, JSON view", "ours, plain page", "htsearch")
HALVES = ("tune", "held-out", "all")


# --- What is sent and what comes back (pure) ---

def encode_keywords(text):
    """The query as a Latin-1 form sends it: Latin-1 bytes percent-encoded,
    blanks as '+'."""
    return urllib.parse.quote_plus(" ".join(text.split()).encode("latin-1"), safe="")


def site_path(url, aliases, base=SITE_URL):
    """The path of a result URL relative to the site's root, after the site's
    aliases (a directory URL names its index.html unless an alias says
    otherwise); None for a URL outside the site."""
    if not url.startswith(base):
        return None
    path = urllib.parse.unquote(url[len(base):].split("#")[0].split("?")[0])
    path = re.sub(r"(^|/)\./", r"\1", path)
    if path in aliases:
        return aliases[path]
    if path == "" or path.endswith("/"):
        path += "index.html"
    return aliases.get(path, path)


def split_cgi_reply(reply):
    """(header lines, body) of a CGI program's output (bytes)."""
    for separator in (b"\r\n\r\n", b"\n\n"):
        head, found, body = reply.partition(separator)
        if found:
            return head.decode("latin-1").splitlines(), body
    return reply.decode("latin-1").splitlines(), b""


def json_view_results(body):
    """(result URLs in order, total) of one page of our JSON view; an error
    reply gives ([], 0)."""
    reply = json.loads(body.decode("utf-8"))
    if "results" not in reply:
        return [], 0
    return [result["url"] for result in reply["results"]], int(reply.get("total", 0))


class _Links(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.hrefs = []

    def handle_starttag(self, tag, attrs):
        if tag == "a":
            href = dict(attrs).get("href")
            if href:
                self.hrefs.append(href)


def plain_page_results(body, own_base=OWN_BASE):
    """Result URLs of one page of our plain page (Latin-1 HTML), in order:
    its links but the Previous/Next links, which start with own_base."""
    links = _Links()
    links.feed(body.decode("latin-1"))
    links.close()
    return [href for href in links.hrefs if not href.startswith(own_base)]


HTSEARCH_TEMPLATE = "RESULT $(URL)\n"


def htsearch_results(output):
    """Result URLs of one htsearch page made with HTSEARCH_TEMPLATE."""
    return re.findall(r"^RESULT (\S+)\s*$", output.decode("latin-1"), re.MULTILINE)


def top_paths(urls, aliases, k=TOP):
    """The first k results as site paths (a URL outside the site stays a URL)."""
    return [site_path(url, aliases) or url for url in urls[:k]]


# --- Scores and tables (pure) ---

def query_scores(queries, rankings):
    """{system: {query id: score_query's measures}} of rankings ({system: {query id: paths}})."""
    return {system: {q["id"]: relevance_metrics.score_query(ranked.get(q["id"], []), q["relevant"])
                     for q in queries}
            for system, ranked in rankings.items()}


def summarize(queries, rankings, halves):
    """{system: {half: mean scores}} of rankings ({system: {query id: paths}})."""
    return {system: {half: relevance_metrics.mean_scores(
        [scored[q["id"]] for q in queries if half == "all" or q["half"] == half])
        for half in halves}
        for system, scored in query_scores(queries, rankings).items()}


def markdown_table(title, summary, halves):
    measures = (("MRR", "mrr"), ("P@1", "p1"), ("nDCG@10", "ndcg"))
    counts = next(iter(summary.values()))
    heads = ["%s %s (%d)" % (label, half, counts[half]["queries"])
             for label, _ in measures for half in halves]
    lines = [title, "", "| system | " + " | ".join(heads) + " |",
             "|---|" + "---:|" * len(heads)]
    for system, by_half in summary.items():
        cells = ["-" if by_half[half][key] is None else "%.3f" % by_half[half][key]
                 for _, key in measures for half in halves]
        lines.append("| %s | %s |" % (system, " | ".join(cells)))
    return "\n".join(lines)


# --- Running the systems ---

def run_searchcgi(searchcgi, socket, query_string, path_info):
    env = {"PATH": "/usr/bin:/bin", "SE_DB_SOCKET": socket, "GATEWAY_INTERFACE": "CGI/1.1",
           "REQUEST_METHOD": "GET", "QUERY_STRING": query_string,
           "SERVER_NAME": "searchcgi.invalid", "SERVER_PORT": "80",
           "SCRIPT_NAME": "/cgi-bin/searchcgi"}
    if path_info:
        env["PATH_INFO"] = path_info
    if "SE_RANKING_WEIGHTS" in os.environ:   # set by bench/relevance_tune.py
        env["SE_RANKING_WEIGHTS"] = os.environ["SE_RANKING_WEIGHTS"]
    done = subprocess.run([searchcgi], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=60)
    return split_cgi_reply(done.stdout)[1]


def our_ranking(searchcgi, socket, text, path_info):
    """Our results for text in the view of path_info ("/json", or None for
    the plain page), page after page until the top ten or the last."""
    urls = []
    for page in range(1, MAX_PAGES + 1):
        body = run_searchcgi(searchcgi, socket, "keyword=%s&page=%d" % (encode_keywords(text), page),
                             path_info)
        if path_info == "/json":
            found, total = json_view_results(body)
        else:
            found, total = plain_page_results(body), None
        urls += found
        if not found or len(urls) >= TOP or (total is not None and len(urls) >= total):
            break
    return urls


def htsearch_ranking(conf, text):
    urls = []
    for page in range(1, MAX_PAGES + 1):
        done = subprocess.run(
            [HTSEARCH, "-c", conf, "words=%s&page=%d&matchesperpage=%d"
             % (encode_keywords(text), page, TOP)],
            env={"PATH": "/usr/bin:/bin"}, stdin=subprocess.DEVNULL, capture_output=True,
            timeout=60)
        found = htsearch_results(done.stdout)
        urls += found
        if len(found) < TOP or len(urls) >= TOP:
            break
    return urls


# --- Crawls ---

def crawl_ours(build, work, db, site):
    write_engine_config(work, site["depth"])
    write_theme_words(work, site["themes"])
    env = dict(os.environ, SE_DB_SOCKET=db.socket)
    crawl = ConsoleCrawl(os.path.join(build, "crawler", "crawler"), work, env,
                         [SITE_URL + site["start"]])
    crawl.wait_until_quiet(QUIET_SECONDS)
    status, _ = crawl.finish()
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("the crawler ended with status %d (see %s)"
                           % (os.waitstatus_to_exitcode(status), work))


def write_htsearch_conf(work, site):
    conf = os.path.join(work, "htdig.conf")
    template = os.path.join(work, "result.tmpl")
    with open(template, "w") as out:
        out.write(HTSEARCH_TEMPLATE)
    empty = os.path.join(work, "empty.html")
    open(empty, "w").close()
    # Debian's settings but for the document size: pages are read whole
    # (Debian stops at 200,000 bytes, and the largest judged pages pass it).
    # Results come out through a template of one line each.
    write_htdig_conf(conf, os.path.join(work, "db"), SITE_URL + site["start"], [
        ("max_doc_size", "5000000"), ("matches_per_page", str(TOP)),
        ("template_map", "Plain plain %s" % template), ("template_name", "plain"),
        ("search_results_header", empty), ("search_results_footer", empty),
        ("nothing_found_file", empty)])
    return conf


def crawl_htdig(work, site):
    os.makedirs(os.path.join(work, "db"), exist_ok=True)
    conf = write_htsearch_conf(work, site)
    with open(os.path.join(work, "htdig.out"), "wb") as log:
        subprocess.run(["htdig", "-i", "-s", "-c", conf], stdout=log, stderr=subprocess.STDOUT,
                       check=True, timeout=3600)
        subprocess.run(["htpurge", "-c", conf], stdout=log, stderr=subprocess.STDOUT, timeout=600)
    return conf


def indexed_by_us(db, aliases):
    return {site_path(url, aliases) for url in
            db.sql("SELECT url FROM Url WHERE nbMotsTheme > 0")}


def indexed_by_htdig(conf, aliases):
    done = subprocess.run(["htstat", "-u", "-c", conf], capture_output=True, timeout=300)
    return {site_path(url, aliases) for url in
            re.findall(r"http://\S+", done.stdout.decode("latin-1"))}


def load_site(name):
    with open(os.path.join(SITES_DIR, name + ".json"), encoding="utf-8") as data:
        return json.load(data)


def rank_queries(searchcgi, socket, conf, queries, aliases):
    """{system: {query id: top paths}} for each of SYSTEMS."""
    rankers = {SYSTEMS[0]: lambda text: our_ranking(searchcgi, socket, text, "/json"),
               SYSTEMS[1]: lambda text: our_ranking(searchcgi, socket, text, None),
               SYSTEMS[2]: lambda text: htsearch_ranking(conf, text)}
    return {system: {q["id"]: top_paths(rank(q["text"]), aliases) for q in queries}
            for system, rank in rankers.items()}


def index_figures(db, conf, queries, aliases):
    """What each index holds: pages, and how many of the judged pages."""
    judged = {path for q in queries for path in q["relevant"]}
    return {"judged": len(judged),
            "judged_indexed_by_us": len(judged & indexed_by_us(db, aliases)),
            "judged_indexed_by_htdig": len(judged & indexed_by_htdig(conf, aliases)),
            "our_pages_fetched": int(db.sql("SELECT COUNT(*) FROM Url")[0]),
            "our_pages_on_theme": int(db.sql("SELECT COUNT(*) FROM Url WHERE nbMotsTheme > 0")[0])}


def evaluate_site(args, site, queries):
    """Crawls the site with both systems (or reuses their indexes) and runs
    its queries: (rankings, index figures)."""
    out = os.path.join(args.out, site["site"])
    htdig_dir = os.path.join(out, "htdig")
    if not args.reuse_index:
        shutil.rmtree(out, ignore_errors=True)
    elif not os.path.isdir(os.path.join(htdig_dir, "db")):
        sys.exit("no index of an earlier run in %s: run without --reuse-index first" % out)
    os.makedirs(out, exist_ok=True)
    server = Lighttpd(out, site["root"], {".html": site["content_type"]})
    db = Database(os.path.join(args.build, "relevance-db", site["site"]),
                  reset=not args.reuse_index)
    try:
        if args.reuse_index:
            conf = write_htsearch_conf(htdig_dir, site)
        else:
            crawl_ours(args.build, os.path.join(out, "crawl"), db, site)
            conf = crawl_htdig(htdig_dir, site)
        aliases = site.get("aliases", {})
        rankings = rank_queries(os.path.join(args.build, "searchcgi", "searchcgi"), db.socket,
                                conf, queries, aliases)
        return rankings, index_figures(db, conf, queries, aliases)
    finally:
        db.stop()
        server.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    names = sorted(f[:-5] for f in os.listdir(SITES_DIR) if f.endswith(".json"))
    parser.add_argument("--sites", default=",".join(names),
                        help="comma-separated, of: %s" % ", ".join(names))
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--out", default=None, help="default BUILD/relevance-eval")
    parser.add_argument("--half", choices=HALVES, default=None,
                        help="run and show one half only (default: each half and all)")
    parser.add_argument("--reuse-index", action="store_true",
                        help="search the indexes of the previous run again, without crawling")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.out = os.path.abspath(args.out or os.path.join(args.build, "relevance-eval"))
    sites = [load_site(name) for name in args.sites.split(",")]
    ensure_packages(["htdig", "lighttpd"] + [site["package"] for site in sites])
    in_private_network()
    halves = (args.half,) if args.half else HALVES
    report, tables, every_query, every_ranking = {}, [], [], {s: {} for s in SYSTEMS}
    for site in sites:
        queries = [q for q in site["queries"] if args.half in (None, "all", q["half"])]
        rankings, figures = evaluate_site(args, site, queries)
        summary = summarize(queries, rankings, halves)
        report[site["site"]] = {"summary": summary, "index": figures, "rankings": rankings,
                                "scores": query_scores(queries, rankings)}
        tables.append(markdown_table(
            "%s, %s: our crawl fetched %d pages, %d on theme; of the %d judged pages, "
            "%d are in our index, %d in ht://Dig's" % (
                site["site"], site["title"], figures["our_pages_fetched"],
                figures["our_pages_on_theme"], figures["judged"],
                figures["judged_indexed_by_us"], figures["judged_indexed_by_htdig"]),
            summary, halves))
        every_query += queries
        for system in SYSTEMS:
            every_ranking[system].update(rankings[system])
    if len(sites) > 1:
        overall = summarize(every_query, every_ranking, halves)
        report["all sites"] = {"summary": overall}
        tables.append(markdown_table("All sites", overall, halves))
    with open(os.path.join(args.out, "result.json"), "w") as result:
        json.dump(report, result, indent=1, ensure_ascii=False)
    print("\n\n".join(tables))


if __name__ == "__main__":
    main()
