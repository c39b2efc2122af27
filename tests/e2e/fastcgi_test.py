"""searchcgi behind a real lighttpd, as a CGI program and as a FastCGI
program: the same requests give byte-identical pages in both modes; a
FastCGI process keeps one index connection for many requests, survives a
request made while the database is stopped, and answers the next one normally
once the database is back. Runs in a network namespace of its own, with a
database server of its own (the test stops it on purpose).
Usage: fastcgi_test.py SOURCE_DIR BUILD_DIR"""

import http.client
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from crawler_run import Checks, in_private_network  # noqa: E402

in_private_network(sys.argv)
SOURCE = os.path.abspath(sys.argv[1])
BUILD = os.path.abspath(sys.argv[2])
WORK = os.path.join(BUILD, "e2e", "fastcgi")
DB_DIR = os.path.join(WORK, "db")
DBSERVER = os.path.join(SOURCE, "scripts", "dbserver.sh")
SOCKET = os.path.join(DB_DIR, "mysqld.sock")
PORT = 8080

MODES = {
    "cgi": """
server.modules = ( "mod_alias", "mod_setenv", "mod_cgi" )
alias.url = ( "/cgi-bin/searchcgi" => env.SE_TEST_SEARCHCGI )
$HTTP["url"] =~ "^/cgi-bin/searchcgi" { cgi.assign = ( "" => "" ) }
setenv.set-environment = ( "PATH" => "/usr/bin:/bin", "SE_DB_SOCKET" => env.SE_DB_SOCKET,
  "ASPELL_CONF" => "lang fr; encoding iso-8859-1" )
""",
    "fastcgi": """
server.modules = ( "mod_fastcgi" )
fastcgi.server = ( "/cgi-bin/searchcgi" => ( (
  "socket" => env.SE_TEST_WORK + "/searchcgi.socket",
  "bin-path" => env.SE_TEST_SEARCHCGI,
  "max-procs" => 1,
  "check-local" => "disable",
  "bin-environment" => ( "PATH" => "/usr/bin:/bin", "SE_DB_SOCKET" => env.SE_DB_SOCKET,
    "ASPELL_CONF" => "lang fr; encoding iso-8859-1" ),
  "bin-copy-environment" => ( "" ),
) ) )
""",
}

# Requests of every kind: each strategy, paging past the end, accents in
# both encodings, an encoded plus, a malformed escape, no search word, no
# query at all, spelling suggestions, a rejected-looking keyword.
QUERIES = [
    "keyword=abeille&page=1",
    "keyword=abeille&page=2",
    "keyword=abeille&page=9",
    "keyword=abeille+miel&page=1",
    "keyword=abeille+-miel&page=1",
    "keyword=caf%E9&page=1",
    "keyword=caf%C3%A9+abeille&page=1",
    "keyword=c%2B%2B&page=1",
    "keyword=100%25+%&page=1",
    "keyword=-abeille&page=1",
    "",
    "keyword=abeile+caf%E9&page=1&verif=Verifier+l%27ortographe",
    "keyword=l'eau&page=1",
]


def sql(statement):
    subprocess.run(["mariadb", "--no-defaults", "--default-character-set=latin1", "--protocol=socket", "-S", SOCKET, "-uroot",
                    "search_engine", "-e", statement], check=True)


def seed():
    statements = ["DELETE FROM CorrespMotUrl", "DELETE FROM MotBloc", "DELETE FROM MotCle",
                  "DELETE FROM Url"]
    words = {"abeille": 1, "miel": 2, "caf\xe9": 3, "c++": 4, "l'eau": 5}
    for word, number in words.items():
        escaped = word.replace("'", "\\'")
        statements.append("INSERT INTO MotCle (idMot, mot) VALUES (%d, '%s')" % (number, escaped))
    for page in range(1, 21):
        statements.append("INSERT INTO Url (idUrl, url, nbMotsTheme) VALUES (%d, "
                          "'http://site/p%02d.html', %d)" % (page, page, page % 3))
        for word, number in words.items():
            if page % number == 0:
                statements.append("INSERT INTO CorrespMotUrl VALUES (%d, %d, %d)"
                                  % (number, page, page % 7))
    statements.append("INSERT INTO MotBloc SELECT idMot, idUrl DIV 64, 0, BIT_XOR(1 << (idUrl "
                      "MOD 64)), COUNT(*) FROM CorrespMotUrl GROUP BY idMot, idUrl DIV 64")
    script = ";\n".join(statements) + ";\n"
    subprocess.run(["mariadb", "--no-defaults", "--default-character-set=latin1", "--protocol=socket", "-S", SOCKET, "-uroot",
                    "search_engine"], input=script.encode("latin-1"), check=True)


def connections():
    done = subprocess.run(["mariadb", "--no-defaults", "--protocol=socket", "-S", SOCKET,
                           "-uroot", "-N", "-B", "-e", "show global status like 'Connections'"],
                          stdout=subprocess.PIPE, check=True)
    return int(done.stdout.split()[1])


def dbserver(command):
    subprocess.run([DBSERVER, command, DB_DIR], check=True, stdout=subprocess.DEVNULL)


def get(query):
    """Status and body of one search request."""
    connection = http.client.HTTPConnection("127.0.0.1", PORT, timeout=20)
    path = "/cgi-bin/searchcgi" + ("?" + query if query else "")
    connection.request("GET", path)
    reply = connection.getresponse()
    body = reply.read()
    connection.close()
    return reply.status, body


class Lighttpd:
    """lighttpd serving searchcgi on 127.0.0.1:8080 in the given mode."""

    def __init__(self, mode):
        config = os.path.join(WORK, mode + ".conf")
        with open(config, "w") as out:
            out.write('server.bind = "127.0.0.1"\nserver.port = %d\n' % PORT)
            out.write('server.document-root = env.SE_TEST_WORK\n')
            out.write('server.errorlog = env.SE_TEST_WORK + "/%s-error.log"\n' % mode)
            out.write(MODES[mode])
        env = dict(os.environ, SE_TEST_WORK=WORK, SE_DB_SOCKET=SOCKET,
                   SE_TEST_SEARCHCGI=os.path.join(BUILD, "searchcgi", "searchcgi"))
        self.process = subprocess.Popen(["lighttpd", "-D", "-f", config], env=env)
        deadline = time.time() + 20
        while time.time() < deadline:
            try:
                get("keyword=x&page=1")
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("lighttpd did not answer in %s mode" % mode)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=20)


def searchcgi_pids(server):
    """The searchcgi processes that the lighttpd of server started."""
    pids = set()
    for entry in os.listdir("/proc"):
        try:
            with open("/proc/%s/status" % entry) as status:
                fields = dict(line.split(":", 1) for line in status if ":" in line)
            if (fields["Name"].strip() == "searchcgi" and
                    int(fields["PPid"]) == server.process.pid):
                pids.add(int(entry))
        except (OSError, ValueError, KeyError):
            pass
    return pids


def main():
    checks = Checks()
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    dbserver("start")
    server = None
    try:
        seed()
        pages = {}
        for mode in ("cgi", "fastcgi"):
            server = Lighttpd(mode)
            before = connections()
            pages[mode] = [get(query) for query in QUERIES]
            pages[mode + " again"] = [get(query) for query in QUERIES]
            # The counting client's own connection is one of them.
            opened = connections() - before - 1
            if mode == "fastcgi":
                checks.expect("a FastCGI process keeps its index connection between requests",
                              opened == 0, "connections opened: %d" % opened)
                run_failure_sequence(checks, server)
            else:
                checks.expect("a CGI process opens a connection per request",
                              opened == 2 * len(QUERIES), "connections opened: %d" % opened)
            server.stop()
            server = None
        for index, query in enumerate(QUERIES):
            cgi, fastcgi = pages["cgi"][index], pages["fastcgi"][index]
            checks.expect("same page in both modes: " + repr(query),
                          cgi == fastcgi and cgi[0] == 200 and cgi[1].endswith(b"</HTML>\n\n"),
                          "\ncgi: %r\nfastcgi: %r" % (cgi, fastcgi))
            checks.expect("same page for the request repeated: " + repr(query),
                          pages["fastcgi again"][index] == fastcgi)
        first = pages["cgi"][0][1]
        checks.expect("links carry the request's port",
                      b'<a href="http://127.0.0.1:8080/cgi-bin/searchcgi?keyword=abeille&page=2">'
                      b'Next</a>' in first, first)
    finally:
        if server:
            server.stop()
        dbserver("stop")
    checks.finish()


def run_failure_sequence(checks, server):
    query = QUERIES[4]
    ok = get(query)
    pids = searchcgi_pids(server)
    dbserver("stop")
    status, body = get(query)
    checks.expect("a request while the index is stopped gets the 503 page",
                  status == 503 and b"L'index de recherche est indisponible" in body,
                  "%d %r" % (status, body))
    dbserver("start")
    checks.expect("the next request, once the index is back, gets its page", get(query) == ok)
    # A restart between two requests: the kept connection is gone, and the
    # next request opens another one without failing.
    dbserver("stop")
    dbserver("start")
    checks.expect("a request after a restart of the index gets its page", get(query) == ok)
    checks.expect("the same FastCGI process answered throughout",
                  len(pids) == 1 and searchcgi_pids(server) == pids,
                  "%r %r" % (pids, searchcgi_pids(server)))


if __name__ == "__main__":
    main()
