"""Helpers for running the crawler as a process against the private test
database, inside a network namespace of its own where a small scripted web
server answers on 127.0.0.1:80."""

import http.server
import os
import subprocess
import sys
import tempfile
import threading
import time


def in_private_network(argv):
    """Re-executes the calling script in a new network namespace with the
    loopback interface up; returns only inside it."""
    if os.environ.get("SE_CRAWLER_NETNS") != "1":
        env = dict(os.environ, SE_CRAWLER_NETNS="1")
        os.execvpe("unshare", ["unshare", "-n", "--", sys.executable] + argv, env)
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def start_test(argv, database):
    """Enters a private network, resets the test's database; returns the
    build directory (argv[1]), the Database and the Checks."""
    in_private_network(argv)
    build = os.path.abspath(argv[1])
    db = Database(build, database)
    db.reset()
    return build, db, Checks()


def start_parts(argv, database, parts):
    """start_test for a test made of parts that can run on their own, side by
    side: `parts` is a list of (name, function). argv[2], when given, names
    the one part to run, in a database of its own (DATABASE_NAME); without
    it every part runs, in DATABASE. Returns the build directory, the
    Database, the Checks and the functions of the parts to run, in order.
    With the single argument --parts, prints the names, one a line, and
    exits (CMake makes a test of each)."""
    names = [name for name, _ in parts]
    if argv[1:] == ["--parts"]:
        print("\n".join(names))
        sys.exit(0)
    chosen = argv[2] if len(argv) > 2 else None
    if chosen is not None and chosen not in names:
        sys.exit("no part %r; the parts are %s" % (chosen, ", ".join(names)))
    build, db, checks = start_test(argv, database + ("_" + chosen if chosen else ""))
    return build, db, checks, [run for name, run in parts if chosen in (None, name)]


def run_cases(argv, database, cases):
    """Runs each case(checks, build, db, workdir) on an emptied database and
    in a working directory of its own, then reports and sets the status.
    The cases are parts (start_parts) named by their functions."""
    build, db, checks, chosen = start_parts(argv, database,
                                            [(case.__name__, case) for case in cases])
    for case in chosen:
        db.reset()
        with tempfile.TemporaryDirectory() as workdir:
            case(checks, build, db, workdir)
    checks.finish()


class Database:
    """A database of the test's own on the private server (root by socket)."""

    def __init__(self, build_dir, name):
        self.socket = os.path.join(build_dir, "db", "mysqld.sock")
        self.name = name
        self.schema = os.path.join(os.path.dirname(__file__), "..", "..", "index", "schema.sql")

    def client(self, *args, stdin=None, database=True):
        command = ["mariadb", "--no-defaults", "--protocol=socket", "-S", self.socket, "-uroot",
                   "-N", "-B"] + ([self.name] if database else []) + list(args)
        done = subprocess.run(command, input=stdin, stdout=subprocess.PIPE, check=True)
        return done.stdout.decode("latin-1")

    def reset(self):
        self.client("-e", f"DROP DATABASE IF EXISTS `{self.name}`; "
                    f"CREATE DATABASE `{self.name}` CHARACTER SET latin1", database=False)
        with open(self.schema, "rb") as schema:
            self.client(stdin=schema.read())

    def column(self, statement):
        return sorted(line for line in self.client("-e", statement).split("\n") if line)

    def env(self):
        return dict(os.environ, SE_DB_SOCKET=self.socket, SE_DB_NAME=self.name)


class Site:
    """A scripted web server on `address` (127.0.0.1 unless told), port 80
    unless told: path -> (content type, body, delay in seconds[, further
    headers as (name, value) pairs]). Records the paths asked for, in
    order."""

    def __init__(self, pages, port=80, address="127.0.0.1"):
        self.pages = pages
        self.requests = []
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                site.requests.append(self.path)
                page = site.pages.get(self.path)
                if page is None:
                    self.send_error(404)
                    return
                content_type, body, delay = page[:3]
                time.sleep(delay)
                self.send_response(200)
                self.send_header("Content-Type", content_type)
                for name, value in (page[3] if len(page) > 3 else ()):
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer((address, port), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Crawler:
    """The crawler binary running in `workdir`, its output in files there."""

    def __init__(self, build_dir, workdir, env, args=()):
        self.workdir = workdir
        self.stdout_path = os.path.join(workdir, "stdout.txt")
        self.stderr_path = os.path.join(workdir, "stderr.txt")
        self.process = subprocess.Popen(
            [os.path.join(build_dir, "crawler", "crawler")] + list(args), cwd=workdir, env=env,
            stdin=subprocess.PIPE, stdout=open(self.stdout_path, "wb"),
            stderr=open(self.stderr_path, "wb"))

    def type(self, text):
        self.process.stdin.write(text.encode("latin-1"))
        self.process.stdin.flush()

    def close_input(self):
        self.process.stdin.close()

    def wait(self, seconds):
        """The exit status, or None when it has not ended within `seconds`."""
        try:
            return self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def stdout(self):
        with open(self.stdout_path, "rb") as out:
            return out.read().decode("latin-1")

    def stderr(self):
        with open(self.stderr_path, "rb") as err:
            return err.read().decode("latin-1")


def write_config(workdir, site, themes, max_depth=0, types=("html",)):
    config = ("// profondeur maximale\n%d\n0\n// types acceptes\n%s\n// site\n\"%s\"\n"
              "// mots du theme\nthemes.txt\n") % (max_depth, "\n".join(types), site)
    with open(os.path.join(workdir, "engineconfig.cfg"), "w", encoding="latin-1") as out:
        out.write(config)
    with open(os.path.join(workdir, "themes.txt"), "w", encoding="latin-1") as out:
        out.write(themes)


class Checks:
    """Collects failed checks; finish() reports them and sets the status."""

    def __init__(self):
        self.failures = 0

    def expect(self, what, condition, detail=""):
        """Records the check; returns whether it held."""
        if condition:
            print("ok: " + what)
        else:
            self.failures += 1
            print("FAILED: %s %s" % (what, detail), file=sys.stderr)
        return bool(condition)

    def index_invariants(self, db, idle=True):
        """Checks what every crawl must leave true of the index: no URL both
        fetched and invalid, every invalid URL with its reason, keyword rows
        only for analysed pages and counted in their keywords' blocks,
        Document rows only for on-theme pages, each
        display text indexed once and, after a crawl that ended idle, no
        saved queue."""
        for what, statement in (
                ("no URL in both Url and UrlInvalide",
                 "SELECT u.url FROM Url u JOIN UrlInvalide i ON i.url = u.url"),
                ("every invalid URL has its reason",
                 "SELECT i.url FROM UrlInvalide i LEFT JOIN UrlInvalideRaison r "
                 "ON r.url = i.url WHERE r.url IS NULL"),
                ("every reason belongs to an invalid URL",
                 "SELECT r.url FROM UrlInvalideRaison r LEFT JOIN UrlInvalide i "
                 "ON i.url = r.url WHERE i.url IS NULL"),
                ("every keyword row belongs to an analysed page",
                 "SELECT DISTINCT c.idUrl FROM CorrespMotUrl c LEFT JOIN Url u "
                 "ON u.idUrl = c.idUrl WHERE u.idUrl IS NULL OR u.lastVisit IS NULL"),
                ("Document rows only for on-theme pages",
                 "SELECT d.idUrl FROM Document d LEFT JOIN Url u ON u.idUrl = d.idUrl "
                 "WHERE u.idUrl IS NULL OR u.nbMotsTheme = 0"),
                ("ranking rows only for on-theme pages",
                 "SELECT m.idUrl FROM DocumentMesure m LEFT JOIN Url u ON u.idUrl = m.idUrl "
                 "WHERE u.idUrl IS NULL OR u.nbMotsTheme = 0 UNION SELECT f.idUrl FROM MotChamp f "
                 "LEFT JOIN Url u ON u.idUrl = f.idUrl WHERE u.idUrl IS NULL OR u.nbMotsTheme = 0"),
                ("every field word is a keyword of its page",
                 "SELECT f.idUrl FROM MotChamp f LEFT JOIN CorrespMotUrl c "
                 "ON c.idMot = f.idMot AND c.idUrl = f.idUrl WHERE c.idUrl IS NULL"),
                ("every keyword's blocks are its keyword rows",
                 "SELECT idMot FROM (SELECT idMot, idUrl DIV 64 AS bloc, COUNT(*) AS n, "
                 "BIT_XOR(1 << (idUrl MOD 64)) AS b FROM CorrespMotUrl GROUP BY idMot, bloc "
                 "UNION ALL SELECT idMot, bloc, -SUM(nbPages), BIT_XOR(pages) FROM MotBloc GROUP "
                 "BY idMot, bloc) d GROUP BY idMot, bloc HAVING SUM(n) <> 0 OR BIT_XOR(b) <> 0"),
                ("no display text indexed twice",
                 "SELECT GROUP_CONCAT(idUrl) FROM Document WHERE empreinte IS NOT NULL "
                 "GROUP BY empreinte HAVING COUNT(*) > 1"),
        ) + ((("an idle crawl leaves no saved queue", "SELECT url FROM FileAttente"),)
             if idle else ()):
            faults = db.column(statement)
            self.expect("index: " + what, not faults, str(faults[:10]))

    def finish(self):
        if self.failures:
            print("%d check(s) failed" % self.failures, file=sys.stderr)
            sys.exit(1)
        print("all checks passed")
