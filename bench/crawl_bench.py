"""Crawl benchmark: the crawler against ht://Dig on one site.

    python3 bench/crawl_bench.py [--pages N] [--seed S] [--site NAME] [--runs R]
                                 [--stock-server] [--buffer-pool SIZE] [--reuse-site]
                                 [--build DIR] [--out DIR]

Runs as root (a private network namespace, port 80). It generates the site
(bench/site_generator.py), or takes a documentation site installed from a
Debian package (--site handbook-fr: the French Debian Administrator's
Handbook; --site gimp-fr: the French GIMP help, 685 small pages), serves
it with lighttpd on 127.0.0.1:80 inside a network namespace of its own,
starts a private MariaDB server with its default durability
(scripts/dbserver.sh), crawls the site with the crawler (a batch run:
--start and --until-idle), then with ht://Dig (Debian package htdig,
installed here when missing), and prints, for each: pages fetched and indexed, the crawl span (the crawler's:
from its first log line to its exit, so that it holds the writes of the
last pages, which log nothing; ht://Dig's: its whole run), pages/s, CPU
of the crawler and of the database server, peak RSS and index size, and for
the crawler the URLs recorded invalid and the fetched pages among them
(always 0 when the index is sound); and the
parse stage's time per page split into scanning, SQL and the rest. The
figures also go to OUT/result.json.

--runs R crawls R times with each program (the index emptied each time) and
reports the run of median crawler pages/s, with the median of each
program's pages/s and of their ratios. --stock-server runs the database
server with the machine's own option file (/etc/mysql/my.cnf: its buffer
pool, redo log and durability) instead of the small private settings.
--buffer-pool SIZE gives the private server another buffer pool than its
default 128M (an index of 100,000 pages outgrows that); --reuse-site crawls
the generated site an earlier run left in OUT."""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

from crawl_harness import (ROOT, HERE, BatchCrawl, Database, Lighttpd, cpu_seconds,
                           ensure_packages, in_private_network, write_engine_config,
                           write_htdig_conf, write_theme_words)
from statement_profile import profile


# Documentation sites of Debian packages: where they are installed, their
# start page, the depth limit and theme words (UTF-8) that keep most of
# their pages on theme, as a crawl of the whole site would.
REAL_SITES = {
    "handbook-fr": {"package": "debian-handbook",
                    "root": "/usr/share/doc/debian-handbook/html/fr-FR", "start": "index.html",
                    "depth": 2, "themes": None},  # theme words of bench/relevance
    "gimp-fr": {"package": "gimp-help-fr", "root": "/usr/share/gimp/2.0/help/fr",
                "start": "index.html", "depth": 2,
                "themes": [("gimp", 0), ("image", 2), ("calque", 3), ("calques", 3),
                           ("outil", 3), ("filtre", 3), ("couleur", 2), ("couleurs", 2),
                           ("sélection", 3), ("pixels", 2), ("menu", 1)]},
}


def real_site(name):
    site = dict(REAL_SITES[name])
    if site["themes"] is None:
        with open(os.path.join(HERE, "relevance", name + ".json"), encoding="utf-8") as data:
            site["themes"] = [tuple(theme) for theme in json.load(data)["themes"]]
    return site


def run_crawler(build, out, site, db, server):
    work = os.path.join(out, "crawl")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    write_theme_words(work, site["themes"])
    write_engine_config(work, site["depth"])
    timings = os.path.join(work, "timings.tsv")
    env = dict(os.environ, SE_DB_SOCKET=db.socket, SE_PARSE_TIMINGS=timings)
    server.mark()
    db_cpu_before = cpu_seconds(db.pid)
    crawl = BatchCrawl(os.path.join(build, "crawler", "crawler"), work, env,
                       ["http://127.0.0.1/" + site["start"]])
    _, usage = crawl.finish()
    db_cpu = cpu_seconds(db.pid) - db_cpu_before
    span = crawl.span()
    log_span = crawl.log_span()
    fetched, requests = server.requests_since_mark()
    db.sql("ANALYZE TABLE Url, UrlInvalide, MotCle, CorrespMotUrl, Extension, Document")
    size = int(db.sql("SELECT SUM(data_length + index_length) FROM information_schema.TABLES "
                      "WHERE table_schema = 'search_engine'")[0])
    # The titles and stored texts of the result views, part of that size.
    document_size = int(db.sql("SELECT SUM(data_length + index_length) FROM "
                               "information_schema.TABLES WHERE table_schema = 'search_engine' "
                               "AND table_name = 'Document'")[0] or 0)
    # A crawler built without the timing report: count its "PARSE" lines.
    with open(os.path.join(work, "crawler.log"), "rb") as crawl_log:
        parsed = crawl_log.read().count(b"PARSE")
    return {
        "tool": "crawler", "requests": requests, "fetched": fetched, "indexed": parsed,
        "on_theme": int(db.sql("SELECT COUNT(*) FROM Url WHERE nbMotsTheme > 0")[0]),
        # Records a user can trust: a fetched page is never also invalid.
        "invalid": int(db.sql("SELECT COUNT(*) FROM UrlInvalide")[0]),
        "fetched_and_invalid": int(db.sql(
            "SELECT COUNT(*) FROM Url u JOIN UrlInvalide i ON i.url = u.url")[0]),
        "span_s": span, "pages_per_s": fetched / span if span else 0.0,
        "log_span_s": log_span,
        "cpu_s": usage.ru_utime + usage.ru_stime, "db_cpu_s": db_cpu,
        "peak_rss_mib": usage.ru_maxrss / 1024, "index_mib": size / 2**20,
        "index_kib_per_page": size / 1024 / fetched if fetched else 0.0,
        "document_kib_per_page": document_size / 1024 / fetched if fetched else 0.0,
        "parse": parse_timings(timings) if os.path.exists(timings) else {},
    }


def parse_timings(path):
    rows = []
    with open(path, encoding="latin-1") as lines:
        for line in lines:
            total, scan, sql, theme = (int(field) for field in line.split("\t")[:4])
            rows.append((total, scan, sql, max(0, total - scan - sql), theme > 0))

    def summary(selected):
        if not selected:
            return {}
        return {name: {"median_ms": statistics.median(r[i] for r in selected) / 1000,
                       "mean_ms": statistics.fmean(r[i] for r in selected) / 1000}
                for i, name in enumerate(("total", "scanning", "sql", "rest"))}

    return {"pages": len(rows), "all": summary(rows),
            "on_theme": summary([r for r in rows if r[4]]),
            "off_theme": summary([r for r in rows if not r[4]])}


def run_htdig(out, site, server):
    work = os.path.join(out, "htdig")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "db"))
    conf = os.path.join(work, "htdig.conf")
    # Debian's settings, with the two that slow a crawl most turned off: the
    # word list's compression (it costs ht://Dig about 85% of its time on
    # this site) and a HEAD request before each GET. ht://Dig indexes
    # every page as it fetches it, so its crawl span includes its indexing.
    write_htdig_conf(conf, os.path.join(work, "db"), "http://127.0.0.1/" + site["start"],
                     [("wordlist_compress", "false"), ("head_before_get", "false")])
    server.mark()
    started = time.monotonic()
    process = subprocess.Popen(["htdig", "-i", "-s", "-c", conf],
                               stdout=open(os.path.join(work, "htdig.out"), "wb"),
                               stderr=subprocess.STDOUT)
    _, status, usage = os.wait4(process.pid, 0)
    span = time.monotonic() - started
    fetched, requests = server.requests_since_mark()
    size = sum(os.path.getsize(os.path.join(d, f)) for d, _, files in
               os.walk(os.path.join(work, "db")) for f in files)
    return {
        "tool": "ht://Dig", "requests": requests, "fetched": fetched, "indexed": fetched,
        "span_s": span, "pages_per_s": fetched / span if span else 0.0,
        "cpu_s": usage.ru_utime + usage.ru_stime, "db_cpu_s": None,
        "peak_rss_mib": usage.ru_maxrss / 1024, "index_mib": size / 2**20,
        "index_kib_per_page": size / 1024 / fetched if fetched else 0.0,
        "exit_status": os.waitstatus_to_exitcode(status),
    }


def table(title, ours, theirs):
    rows = [("pages fetched (HTTP 200)", "%d", "fetched"), ("pages parsed / indexed", "%d", "indexed"),
            ("crawl span (s)", "%.2f", "span_s"), ("pages/s", "%.1f", "pages_per_s"),
            ("crawl span to the last log line (s)", "%.2f", "log_span_s"),
            ("CPU, crawler (s)", "%.2f", "cpu_s"), ("CPU, database server (s)", "%.2f", "db_cpu_s"),
            ("peak RSS (MiB)", "%.1f", "peak_rss_mib"), ("index size (MiB)", "%.1f", "index_mib"),
            ("index size per fetched page (KiB)", "%.1f", "index_kib_per_page"),
            ("of which titles and texts (KiB)", "%.1f", "document_kib_per_page"),
            ("URLs recorded invalid", "%d", "invalid"),
            ("fetched pages also recorded invalid", "%d", "fetched_and_invalid")]
    lines = [title, "",
             "| measure | crawler | ht://Dig | ratio |", "|---|---:|---:|---:|"]
    for label, form, key in rows:
        a, b = ours.get(key), theirs.get(key)
        ratio = "%.2f" % (a / b) if a is not None and b else ""
        lines.append("| %s | %s | %s | %s |" % (label, form % a if a is not None else "-",
                                               form % b if b is not None else "-", ratio))
    lines += ["", "Parse stage, time per page (ms): median / mean", "",
              "| pages | n | total | scanning | SQL | rest |", "|---|---:|---:|---:|---:|---:|"]
    parse = ours["parse"]
    for kind in ("all", "on_theme", "off_theme") if parse else ():
        summary = parse[kind]
        if not summary:
            continue
        count = parse["pages"] if kind == "all" else None
        cells = ["%.3f / %.3f" % (summary[p]["median_ms"], summary[p]["mean_ms"])
                 for p in ("total", "scanning", "sql", "rest")]
        lines.append("| %s | %s | %s |" % (kind.replace("_", "-"), count if count else "",
                                            " | ".join(cells)))
    return "\n".join(lines)


def generated_site(out, pages, seed, generate=True):
    if generate:
        subprocess.run([sys.executable, os.path.join(HERE, "site_generator.py"), out, "--pages",
                        str(pages), "--seed", str(seed)], check=True)
    with open(os.path.join(out, "themes.txt"), encoding="latin-1") as words:
        themes = [(line.split()[0], int(line.split()[1])) for line in words if line.strip()]
    return {"root": os.path.join(out, "site"), "start": "index.html", "depth": 2,
            "themes": themes, "mimetypes": None}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=13)
    parser.add_argument("--site", choices=["generated"] + sorted(REAL_SITES), default="generated")
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--stock-server", action="store_true",
                        help="the database server with /etc/mysql/my.cnf's settings")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "crawl-bench"))
    parser.add_argument("--skip-htdig", action="store_true")
    parser.add_argument("--buffer-pool", default="128M",
                        help="the private server's InnoDB buffer pool (its default: 128M)")
    parser.add_argument("--reuse-site", action="store_true",
                        help="crawl the generated site OUT left, without generating it again")
    parser.add_argument("--statement-log", action="store_true",
                        help="log every statement with its time (OUT/db/statements.log) "
                        "and print where the last run's server time went")
    args = parser.parse_args()
    packages = ["htdig", "lighttpd"]
    if args.site != "generated":
        packages.append(REAL_SITES[args.site]["package"])
    ensure_packages(packages)
    in_private_network()
    args.build = os.path.abspath(args.build)
    name = str(args.pages) if args.site == "generated" else args.site
    out = os.path.abspath(os.path.join(args.out, name))
    reuse = args.reuse_site and os.path.exists(os.path.join(out, "themes.txt"))
    if not reuse:
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
    if args.site == "generated":
        site = generated_site(out, args.pages, args.seed, generate=not reuse)
        title = "Site of %d pages" % args.pages
    else:
        site = dict(real_site(args.site), mimetypes={".html": "text/html"})
        title = "Site %s (%s)" % (args.site, site["root"])
    if args.stock_server:
        os.environ["SE_DB_DEFAULTS_FILE"] = "/etc/mysql/my.cnf"
        title += ", database server with /etc/mysql/my.cnf"
    server = Lighttpd(out, site["root"], site["mimetypes"])
    runs = []
    try:
        for _ in range(args.runs):
            db = Database(os.path.join(out, "db"), buffer_pool=args.buffer_pool)
            if args.statement_log:
                db.sql("SET GLOBAL slow_query_log_file = '%s', long_query_time = 0, "
                       "slow_query_log = 1" % os.path.join(db.dir, "statements.log"))
            try:
                ours = run_crawler(args.build, out, site, db, server)
            finally:
                db.stop()
            theirs = {} if args.skip_htdig else run_htdig(out, site, server)
            runs.append((ours, theirs))
            if args.runs > 1:
                print("run %d: crawler %.1f pages/s, ht://Dig %s pages/s" % (
                    len(runs), ours["pages_per_s"],
                    "%.1f" % theirs["pages_per_s"] if theirs else "-"), flush=True)
    finally:
        server.stop()
    ours, theirs = sorted(runs, key=lambda run: run[0]["pages_per_s"])[len(runs) // 2]
    summary = {"crawler_pages_per_s": [r[0]["pages_per_s"] for r in runs],
               "htdig_pages_per_s": [r[1].get("pages_per_s") for r in runs]}
    with open(os.path.join(out, "result.json"), "w") as result:
        json.dump({"site": args.site, "pages": args.pages, "seed": args.seed, "runs": runs,
                   "summary": summary}, result, indent=1)
    print(table(title, ours, theirs))
    if args.statement_log:
        last = runs[-1][0]
        print("\nThe last run's statements, server time per page fetched:")
        profile(os.path.join(out, "db", "statements.log"), per=last["fetched"], top=12)
    if args.runs > 1:
        ratios = [o["pages_per_s"] / t["pages_per_s"] for o, t in runs if t]
        print("\nMedian of %d runs: crawler %.1f pages/s, ht://Dig %s pages/s, ratio %s" % (
            len(runs), statistics.median(summary["crawler_pages_per_s"]),
            "%.1f" % statistics.median(summary["htdig_pages_per_s"]) if ratios else "-",
            "%.2f" % statistics.median(ratios) if ratios else "-"))


if __name__ == "__main__":
    main()
