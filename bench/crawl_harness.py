"""What the benchmarks that crawl a site share: a private network namespace,
Debian packages installed on demand, lighttpd serving a directory on
127.0.0.1:80, a private MariaDB server (scripts/dbserver.sh), the crawler
driven from its console as a person would, and ht://Dig's configuration.

Used by crawl_bench.py and relevance_eval.py; every wait is bounded."""

import os
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TICKS = os.sysconf("SC_CLK_TCK")
QUIET_SECONDS = 3.0   # a crawl whose log has been quiet this long is over
CRAWL_LIMIT = 1800    # seconds: a crawl still running then is stopped
LATIN1_HTML = {".html": "text/html; charset=iso-8859-1", ".txt": "text/plain"}


def in_private_network():
    """Runs the calling script again in a network namespace of its own (once),
    with its loopback interface up. Install packages before calling it."""
    if os.environ.get("SE_BENCH_NETNS") != "1":
        env = dict(os.environ, SE_BENCH_NETNS="1")
        os.execvpe("unshare", ["unshare", "-n", "--", sys.executable] + sys.argv, env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def ensure_packages(packages):
    """Installs with apt-get those of the Debian packages that are missing."""
    missing = [p for p in packages
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
    """lighttpd serving the directory site on 127.0.0.1:80, its logs in out.
    mimetypes maps a file name ending to the Content-Type it is served with."""

    def __init__(self, out, site, mimetypes=None):
        self.log = os.path.join(out, "access.log")
        config = os.path.join(out, "lighttpd.conf")
        types = ", ".join('"%s" => "%s"' % item for item in (mimetypes or LATIN1_HTML).items())
        with open(config, "w") as conf:
            conf.write('server.modules = ( "mod_accesslog" )\n'
                       'server.bind = "127.0.0.1"\nserver.port = 80\n'
                       'server.document-root = "%s"\nserver.errorlog = "%s"\n'
                       'accesslog.filename = "%s"\nindex-file.names = ( "index.html" )\n'
                       'mimetype.assign = ( %s )\n'
                       % (site, os.path.join(out, "lighttpd-error.log"), self.log, types))
        self.process = subprocess.Popen(["lighttpd", "-D", "-f", config])
        for _ in range(100):
            if subprocess.run(["curl", "-sf", "-o", "/dev/null", "http://127.0.0.1/"]).returncode == 0:
                break
            time.sleep(0.05)
        self.mark()

    def mark(self):
        self.offset = os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def requests_since_mark(self):
        """(GET requests answered 200, requests of any kind) since the last mark.
        lighttpd keeps its access log lines in a buffer: SIGHUP (reopen the
        logs) writes them out, then the log is read once its size has not
        changed for half a second (five seconds at most)."""
        self.process.send_signal(signal.SIGHUP)
        size, stable_since, started = -1, time.monotonic(), time.monotonic()
        while time.monotonic() - stable_since < 0.5 and time.monotonic() - started < 5.0:
            now = os.path.getsize(self.log) if os.path.exists(self.log) else 0
            if now != size:
                size, stable_since = now, time.monotonic()
            time.sleep(0.05)
        with open(self.log, "rb") as log:
            log.seek(self.offset)
            lines = log.read().decode("latin-1").splitlines()
        ok = sum(1 for line in lines if '"GET ' in line and '" 200 ' in line)
        return ok, len(lines)

    def stop(self):
        self.process.terminate()
        self.process.wait()


class Database:
    """A private MariaDB server under directory, emptied (reset) or kept."""

    def __init__(self, directory, reset=True, buffer_pool="128M"):
        self.dir = directory
        self.script = os.path.join(ROOT, "scripts", "dbserver.sh")
        # By default the server's own default buffer pool (the test servers
        # use 32M).
        env = dict(os.environ, SE_DB_BUFFER_POOL=buffer_pool)
        subprocess.run([self.script, "reset" if reset else "start", self.dir], check=True,
                       stdout=subprocess.DEVNULL, env=env)
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


def write_engine_config(work, depth):
    """engineconfig.cfg in work: the site http://127.0.0.1/, HTML only, the
    given depth limit and the theme-word file themes.txt."""
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(work, "engineconfig.cfg"), "w") as conf:
        conf.write("// profondeur\n%d\n0\n// types\nhtml\n// site\n\"http://127.0.0.1/\"\n"
                   "// mots du theme\nthemes.txt\n" % depth)


def write_theme_words(work, themes):
    """themes.txt in work from (word, weight) pairs, in UTF-8."""
    with open(os.path.join(work, "themes.txt"), "w", encoding="utf-8") as words:
        words.write("".join("%s %d\n" % (word, weight) for word, weight in themes))


class CrawlerProcess:
    """The crawler started in work with these arguments, its standard error
    read by a thread of its own into work/crawler.log, each chunk's arrival
    time kept in stamps."""

    def __init__(self, crawler, work, env, arguments, stdin):
        self.stamps = []
        self.log = open(os.path.join(work, "crawler.log"), "wb")
        self.process = subprocess.Popen(
            [crawler] + arguments, cwd=work, env=env, stdin=stdin,
            stdout=open(os.path.join(work, "stdout.txt"), "wb"), stderr=subprocess.PIPE)
        self.reader = threading.Thread(target=self._read_log, daemon=True)
        self.reader.start()

    def _read_log(self):
        while True:
            chunk = os.read(self.process.stderr.fileno(), 65536)
            if not chunk:
                return
            self.stamps.append(time.monotonic())
            self.log.write(chunk)


class ConsoleCrawl(CrawlerProcess):
    """The crawler run in work as a person runs it: the start URLs typed, then
    `exit` once its log (standard error, kept in work/crawler.log) has been
    quiet for `quiet` seconds or after `limit` seconds. wait_until_quiet and
    finish block; finish returns (exit status, resource usage)."""

    def __init__(self, crawler, work, env, start_urls):
        super().__init__(crawler, work, env, [], subprocess.PIPE)
        self.process.stdin.write((" ".join(start_urls) + "\n").encode("latin-1"))
        self.process.stdin.flush()
        self.started = time.monotonic()

    def wait_until_quiet(self, quiet=QUIET_SECONDS, limit=CRAWL_LIMIT):
        while time.monotonic() - self.started < limit:
            time.sleep(0.2)
            last = self.stamps[-1] if self.stamps else self.started
            if time.monotonic() - last >= quiet:
                return

    def finish(self):
        self.process.stdin.write(b"exit\n")
        self.process.stdin.flush()
        _, status, usage = os.wait4(self.process.pid, 0)
        self.process.returncode = status
        self.reader.join(10)
        self.log.close()
        return status, usage

    def span(self):
        """Seconds from the first log line to the last."""
        return self.stamps[-1] - self.stamps[0] if len(self.stamps) > 1 else 0.0


class BatchCrawl(CrawlerProcess):
    """The crawler run in work as a batch job (--start URL ... --until-idle),
    its log (standard error) kept in work/crawler.log. finish blocks until it
    exits and returns (exit status, resource usage); the span runs from its
    first log line to its exit, so it holds every write of the crawl, the
    last one included (a crawl whose last pages add no URL logs nothing once
    they are written)."""

    def __init__(self, crawler, work, env, start_urls):
        arguments = []
        for url in start_urls:
            arguments += ["--start", url]
        super().__init__(crawler, work, env, arguments + ["--until-idle"], subprocess.DEVNULL)
        self.ended = None

    def finish(self, limit=CRAWL_LIMIT):
        # A crawl still running after the limit is stopped (SIGTERM).
        stopper = threading.Timer(limit, self.process.terminate)
        stopper.start()
        _, status, usage = os.wait4(self.process.pid, 0)
        stopper.cancel()
        self.ended = time.monotonic()
        self.process.returncode = status
        self.reader.join(10)
        self.log.close()
        return status, usage

    def span(self):
        """Seconds from the first log line to the crawler's exit."""
        return self.ended - self.stamps[0] if self.stamps and self.ended else 0.0

    def log_span(self):
        """Seconds from the first log line to the last: short of the span by
        the writes that log nothing."""
        return self.stamps[-1] - self.stamps[0] if len(self.stamps) > 1 else 0.0


def write_htdig_conf(path, database_dir, start_url, settings=()):
    """An ht://Dig configuration: Debian's, with its own database directory,
    the crawl limited to http://127.0.0.1/, and (name, value) settings."""
    with open(path, "w") as config:
        config.write("include: /etc/htdig/htdig.conf\n"
                     "database_dir: %s\nstart_url: %s\nlimit_urls_to: http://127.0.0.1/\n"
                     % (database_dir, start_url))
        config.write("".join("%s: %s\n" % setting for setting in settings))
