"""Crawl benchmark: the crawler against ht://Dig on one generated site.

    python3 bench/crawl_bench.py [--pages N] [--seed S] [--build DIR] [--out DIR]

Runs as root (a private network namespace, port 80). It generates the site
(bench/site_generator.py), serves it with lighttpd on 127.0.0.1:80 inside a
network namespace of its own, starts a private MariaDB server with its
default durability (scripts/dbserver.sh), crawls the site with the crawler,
then with ht://Dig (Debian package htdig, installed here when missing), and
prints, for each: pages fetched and indexed, the crawl span, pages/s, CPU
of the crawler and of the database server, peak RSS and index size, and for
the crawler the URLs recorded invalid and the fetched pages among them
(always 0 when the index is sound); and the
parse stage's time per page split into scanning, SQL and the rest. The
figures also go to OUT/result.json."""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TICKS = os.sysconf("SC_CLK_TCK")
QUIET_SECONDS = 3.0   # a crawl whose log has been quiet this long is over
CRAWL_LIMIT = 1800    # seconds: a crawl still running then is stopped


def in_private_network():
    if os.environ.get("SE_BENCH_NETNS") != "1":
        env = dict(os.environ, SE_BENCH_NETNS="1")
        os.execvpe("unshare", ["unshare", "-n", "--", sys.executable] + sys.argv, env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def ensure_packages():
    missing = [p for p in ("htdig", "lighttpd")
               if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                                 text=True).stdout.find("install ok installed") < 0]
    if missing:
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        subprocess.run(["apt-get", "update", "-qq"], check=True, env=env)
        subprocess.run(["apt-get", "install", "-y", "-qq"] + missing, check=True, env=env)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


class Lighttpd:
    def __init__(self, out, site):
        self.log = os.path.join(out, "access.log")
        config = os.path.join(out, "lighttpd.conf")
        with open(config, "w") as conf:
            conf.write('server.modules = ( "mod_accesslog" )\n'
                       'server.bind = "127.0.0.1"\nserver.port = 80\n'
                       'server.document-root = "%s"\nserver.errorlog = "%s"\n'
                       'accesslog.filename = "%s"\nindex-file.names = ( "index.html" )\n'
                       'mimetype.assign = ( ".html" => "text/html; charset=iso-8859-1", '
                       '".txt" => "text/plain" )\n'
                       % (site, os.path.join(out, "lighttpd-error.log"), self.log))
        self.process = subprocess.Popen(["lighttpd", "-D", "-f", config])
        for _ in range(100):
            if subprocess.run(["curl", "-sf", "-o", "/dev/null", "http://127.0.0.1/"]).returncode == 0:
                break
            time.sleep(0.05)
        self.mark()

    def mark(self):
        self.offset = os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def requests_since_mark(self):
        """(GET requests answered 200, requests of any kind) since the last mark."""
        with open(self.log, "rb") as log:
            log.seek(self.offset)
            lines = log.read().decode("latin-1").splitlines()
        ok = sum(1 for line in lines if '"GET ' in line and '" 200 ' in line)
        return ok, len(lines)

    def stop(self):
        self.process.terminate()
        self.process.wait()


class Database:
    def __init__(self, out):
        self.dir = os.path.join(out, "db")
        self.script = os.path.join(ROOT, "scripts", "dbserver.sh")
        # The server's own default buffer pool (the test servers use 32M).
        env = dict(os.environ, SE_DB_BUFFER_POOL="128M")
        subprocess.run([self.script, "reset", self.dir], check=True, stdout=subprocess.DEVNULL,
                       env=env)
        with open(os.path.join(self.dir, "mysqld.pid")) as pid:
            self.pid = int(pid.read())
        self.socket = os.path.join(self.dir, "mysqld.sock")

    def sql(self, statement):
        done = subprocess.run(["mariadb", "--no-defaults", "-S", self.socket, "-uroot", "-N", "-B",
                               "search_engine", "-e", statement], check=True,
                              stdout=subprocess.PIPE)
        return done.stdout.decode("latin-1").split()

    def stop(self):
        subprocess.run([self.script, "stop", self.dir], stdout=subprocess.DEVNULL)


def run_crawler(build, out, site_out, db, server):
    work = os.path.join(out, "crawl")
    os.makedirs(work, exist_ok=True)
    shutil.copy(os.path.join(site_out, "themes.txt"), work)
    with open(os.path.join(work, "engineconfig.cfg"), "w") as conf:
        conf.write("// profondeur\n2\n0\n// types\nhtml\n// site\n\"http://127.0.0.1/\"\n"
                   "// mots du theme\nthemes.txt\n")
    timings = os.path.join(work, "timings.tsv")
    env = dict(os.environ, SE_DB_SOCKET=db.socket, SE_PARSE_TIMINGS=timings)
    server.mark()
    db_cpu_before = cpu_seconds(db.pid)
    stamps = []
    log = open(os.path.join(work, "crawler.log"), "wb")
    process = subprocess.Popen([os.path.join(build, "crawler", "crawler")], cwd=work, env=env,
                               stdin=subprocess.PIPE, stdout=open(os.path.join(work, "stdout.txt"),
                                                                  "wb"), stderr=subprocess.PIPE)

    def read_log():
        while True:
            chunk = os.read(process.stderr.fileno(), 65536)
            if not chunk:
                return
            stamps.append(time.monotonic())
            log.write(chunk)

    reader = threading.Thread(target=read_log, daemon=True)
    reader.start()
    process.stdin.write(b"http://127.0.0.1/index.html\n")
    process.stdin.flush()
    started = time.monotonic()
    while time.monotonic() - started < CRAWL_LIMIT:
        time.sleep(0.2)
        last = stamps[-1] if stamps else started
        if time.monotonic() - last >= QUIET_SECONDS:
            break
    db_cpu = cpu_seconds(db.pid) - db_cpu_before
    process.stdin.write(b"exit\n")
    process.stdin.flush()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = status
    reader.join(10)
    log.close()
    span = stamps[-1] - stamps[0] if len(stamps) > 1 else 0.0
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


def run_htdig(out, server):
    work = os.path.join(out, "htdig")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, "db"))
    conf = os.path.join(work, "htdig.conf")
    # Debian's settings, with the two that slow a crawl most turned off: the
    # word list's compression (it costs ht://Dig about 85% of its time on
    # this site) and a HEAD request before each GET. ht://Dig indexes
    # every page as it fetches it, so its crawl span includes its indexing.
    with open(conf, "w") as config:
        config.write("include: /etc/htdig/htdig.conf\n"
                     "database_dir: %s\nstart_url: http://127.0.0.1/index.html\n"
                     "limit_urls_to: http://127.0.0.1/\n"
                     "wordlist_compress: false\nhead_before_get: false\n"
                     % os.path.join(work, "db"))
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


def table(pages, ours, theirs):
    rows = [("pages fetched (HTTP 200)", "%d", "fetched"), ("pages parsed / indexed", "%d", "indexed"),
            ("crawl span (s)", "%.2f", "span_s"), ("pages/s", "%.1f", "pages_per_s"),
            ("CPU, crawler (s)", "%.2f", "cpu_s"), ("CPU, database server (s)", "%.2f", "db_cpu_s"),
            ("peak RSS (MiB)", "%.1f", "peak_rss_mib"), ("index size (MiB)", "%.1f", "index_mib"),
            ("index size per fetched page (KiB)", "%.1f", "index_kib_per_page"),
            ("of which titles and texts (KiB)", "%.1f", "document_kib_per_page"),
            ("URLs recorded invalid", "%d", "invalid"),
            ("fetched pages also recorded invalid", "%d", "fetched_and_invalid")]
    lines = ["Site of %d pages" % pages, "",
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pages", type=int, default=2000)
    parser.add_argument("--seed", type=int, default=13)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "crawl-bench"))
    parser.add_argument("--skip-htdig", action="store_true")
    parser.add_argument("--statement-log", action="store_true",
                        help="log every statement with its time (OUT/db/statements.log)")
    args = parser.parse_args()
    ensure_packages()
    in_private_network()
    args.build = os.path.abspath(args.build)
    out = os.path.abspath(os.path.join(args.out, str(args.pages)))
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    subprocess.run([sys.executable, os.path.join(HERE, "site_generator.py"), out, "--pages",
                    str(args.pages), "--seed", str(args.seed)], check=True)
    server = Lighttpd(out, os.path.join(out, "site"))
    db = Database(out)
    if args.statement_log:
        db.sql("SET GLOBAL slow_query_log_file = '%s', long_query_time = 0, slow_query_log = 1"
               % os.path.join(db.dir, "statements.log"))
    try:
        ours = run_crawler(args.build, out, out, db, server)
        theirs = {} if args.skip_htdig else run_htdig(out, server)
    finally:
        db.stop()
        server.stop()
    with open(os.path.join(out, "result.json"), "w") as result:
        json.dump({"pages": args.pages, "seed": args.seed, "crawler": ours, "htdig": theirs},
                  result, indent=1)
    print(table(args.pages, ours, theirs))


if __name__ == "__main__":
    main()
