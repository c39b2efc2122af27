"""Search on a read replica: a private primary and a private replica (MariaDB
replication over loopback TCP, both under the build tree), the real crawler
indexing a small site into the primary, then searchcgi pointed at the
replica through the SE_DB_* variables, as a read-only user, giving the same
pages as on the primary. Runs in a network namespace of its own.
Usage: replica_test.py SOURCE_DIR BUILD_DIR"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crawler_run import Checks, Crawler, Database, Site, in_private_network, write_config  # noqa: E402,E501
from crawler_crawl_test import crawl  # noqa: E402

in_private_network(sys.argv)
SOURCE = os.path.abspath(sys.argv[1])
BUILD = os.path.abspath(sys.argv[2])
WORK = os.path.join(BUILD, "e2e", "replica")
DBSERVER = os.path.join(SOURCE, "scripts", "dbserver.sh")
SERVERS = {
    "primary": "--skip-networking=0 --bind-address=127.0.0.1 --port=3306 --server-id=1 "
               "--log-bin=primary-bin --binlog-format=ROW",
    "replica": "--skip-networking=0 --bind-address=127.0.0.1 --port=3307 --server-id=2 "
               "--read-only=1",
}
BASE = "http://127.0.0.1/"


def server_dir(name):
    return os.path.join(WORK, name)


def dbserver(command, name):
    env = dict(os.environ, SE_DBSERVER_ARGS=SERVERS[name])
    subprocess.run([DBSERVER, command, server_dir(name)], check=True, env=env,
                   stdout=subprocess.DEVNULL)


def root_sql(name, statement):
    done = subprocess.run(["mariadb", "--no-defaults", "--protocol=socket", "-S",
                           os.path.join(server_dir(name), "mysqld.sock"), "-uroot", "-N", "-B",
                           "-e", statement], stdout=subprocess.PIPE, check=True)
    return done.stdout.decode("latin-1").split()


def start_replication():
    root_sql("primary", "CREATE USER 'repl'@'127.0.0.1' IDENTIFIED BY 'repl_word'; "
             "GRANT REPLICATION SLAVE ON *.* TO 'repl'@'127.0.0.1'")
    log_file, position = root_sql("primary", "SHOW MASTER STATUS")[:2]
    # The search's own user on the replica: it reads, nothing else.
    root_sql("replica", "CREATE USER 'search_reader'@'127.0.0.1' IDENTIFIED BY 'reader_word'; "
             "GRANT SELECT ON search_engine.* TO 'search_reader'@'127.0.0.1'")
    root_sql("replica", "CHANGE MASTER TO MASTER_HOST='127.0.0.1', MASTER_PORT=3306, "
             "MASTER_USER='repl', MASTER_PASSWORD='repl_word', MASTER_LOG_FILE='%s', "
             "MASTER_LOG_POS=%s; START SLAVE" % (log_file, position))


def wait_for_replica():
    """Waits (at most 60 s) until the replica has applied all the primary wrote."""
    log_file, position = root_sql("primary", "SHOW MASTER STATUS")[:2]
    waited = root_sql("replica", "SELECT MASTER_POS_WAIT('%s', %s, 60)" % (log_file, position))
    return waited == ["0"] or (waited and waited[0].isdigit() and int(waited[0]) >= 0)


def search(query, settings):
    env = {"PATH": os.environ["PATH"], "QUERY_STRING": query, "SERVER_NAME": "search.example",
           "SCRIPT_NAME": "/cgi-bin/searchcgi"}
    env.update(settings)
    done = subprocess.run([os.path.join(BUILD, "searchcgi", "searchcgi")], env=env,
                          stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, check=True)
    return done.stdout


def html(text, *links):
    anchors = " ".join('<a href="%s">lien</a>' % link for link in links)
    return ("<html><body>%s %s</body></html>" % (text, anchors)).encode("latin-1")


def main():
    checks = Checks()
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    started = []
    site = None
    try:
        for name in SERVERS:
            dbserver("start", name)
            started.append(name)
        start_replication()

        page = "text/html"
        site = Site({
            "/index.html": (page, html("abeille miel ruche", "a.html", "b.html"), 0),
            "/a.html": (page, html("abeille miel miel reine", "c.html"), 0),
            "/b.html": (page, html("abeille ruche caf&eacute; reine"), 0),
            "/c.html": (page, html("abeille miel lavande"), 0),
        })
        with tempfile.TemporaryDirectory() as workdir:
            write_config(workdir, BASE, "abeille 1\n", max_depth=1)
            primary_env = dict(os.environ, SE_DB_SOCKET=os.path.join(server_dir("primary"),
                                                                     "mysqld.sock"))
            crawler = Crawler(BUILD, workdir, primary_env)
            crawler.type(BASE + "index.html\n")
            checks.expect("the crawl of the primary ends with status 0",
                          crawl(crawler, site, 4) == 0, crawler.stderr())
        primary = Database(BUILD, "search_engine")
        primary.socket = os.path.join(server_dir("primary"), "mysqld.sock")
        checks.index_invariants(primary)
        checks.expect("the replica caught up with the primary", wait_for_replica())
        pages = root_sql("replica", "SELECT count(*) FROM search_engine.Url")
        checks.expect("the replica holds the crawled pages", pages == ["4"], str(pages))

        primary = {"SE_DB_SOCKET": os.path.join(server_dir("primary"), "mysqld.sock")}
        replica = {"SE_DB_HOST": "127.0.0.1", "SE_DB_PORT": "3307",
                   "SE_DB_USER": "search_reader", "SE_DB_PASSWORD": "reader_word"}
        for query in ("keyword=abeille&page=1", "keyword=miel+reine&page=1",
                      "keyword=abeille+-lavande&page=1", "keyword=reine&page=1"):
            on_primary, on_replica = search(query, primary), search(query, replica)
            checks.expect("same page on the replica: " + query,
                          on_primary == on_replica and b"<A HREF=\"http://127.0.0.1/" in on_replica,
                          "\nprimary: %r\nreplica: %r" % (on_primary, on_replica))
        refused = subprocess.run(
            ["mariadb", "--no-defaults", "-h127.0.0.1", "-P3307", "-usearch_reader",
             "-preader_word", "search_engine", "-e", "DELETE FROM Url"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        checks.expect("the search's user on the replica cannot write", refused.returncode != 0)
    finally:
        if site:
            site.close()
        for name in reversed(started):
            dbserver("stop", name)
    checks.finish()


if __name__ == "__main__":
    main()
