"""The crawler binary against a hostile web server on 127.0.0.1:80: an endless
body, a body dripped a byte at a time, a connection reset in mid-body, a
garbage status line, a header block of megabytes, a server that accepts late,
bad chunk sizes and a bad gzip stream. Each must fail on its own, with one
"ERROR DOWNLOAD" line, within the download's bounds, and the crawl goes on:
an ordinary page queued after them is still indexed, and "exit" ends the
program promptly.
Usage: hostile_server_test.py BUILD_DIR"""

import os
import resource
import socket
import sys
import tempfile
import threading
import time

from crawler_run import Crawler, start_test, write_config

BASE = "http://127.0.0.1/"
GOOD_PAGE = b"<html><body>abeille abeille ruche</body></html>"


def head(extra=b"", status=b"200 OK", content_type=b"text/html"):
    return (b"HTTP/1.1 " + status + b"\r\nContent-Type: " + content_type + b"\r\n" + extra +
            b"Connection: close\r\n\r\n")


def endless(conn, stop):
    conn.sendall(head())
    block = b"abeille " * 8192
    while not stop.is_set():
        conn.sendall(block)


def drip(conn, stop):
    conn.sendall(head())
    while not stop.wait(1.5):
        conn.sendall(b"a")


def reset(conn, stop):
    conn.sendall(head(b"Content-Length: 100000\r\n") + b"abeille " * 100)
    # A reset, not an orderly close: linger on, with a time of zero.
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")


def garbage_status(conn, stop):
    conn.sendall(b"\x00\xff garbage \x01\r\nX: y\r\n\r\n<html>abeille</html>")


def huge_header(conn, stop):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n")
    line = b"X-Filler: " + b"f" * 1000 + b"\r\n"
    for _ in range(5000):
        if stop.is_set():
            return
        conn.sendall(line)
    conn.sendall(b"\r\n<html>abeille</html>")


def bad_chunks(conn, stop):
    conn.sendall(head(b"Transfer-Encoding: chunked\r\n") + b"zz\r\nabeille\r\n0\r\n\r\n")


def bad_gzip(conn, stop):
    conn.sendall(head(b"Content-Encoding: gzip\r\nContent-Length: 20\r\n") +
                 b"\x1f\x8b\x08\x00garbage-garbage!")


def good(conn, stop):
    conn.sendall(head(b"Content-Length: %d\r\n" % len(GOOD_PAGE)) + GOOD_PAGE)


BEHAVIOURS = {
    "/endless.html": endless,
    "/drip.html": drip,
    "/reset.html": reset,
    "/garbage.html": garbage_status,
    "/huge-header.html": huge_header,
    "/bad-chunks.html": bad_chunks,
    "/bad-gzip.html": bad_gzip,
    "/good.html": good,
}


class LateAcceptor:
    """A listener on 127.0.0.1:8081 that accepts nothing for its first
    `delay` seconds: connections complete in the kernel and then hear
    nothing."""

    def __init__(self, delay):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 8081))
        self.listener.listen(8)
        self.timer = threading.Timer(delay, self.listener.close)
        self.timer.start()

    def close(self):
        self.timer.cancel()
        self.listener.close()


class HostileServer:
    """Answers each request on 127.0.0.1:80 by its path's behaviour."""

    def __init__(self):
        self.requests = []
        self.stop = threading.Event()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 80))
        self.listener.listen(64)
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while not self.stop.is_set():
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.answer, args=(conn,), daemon=True).start()

    def answer(self, conn):
        try:
            request = b""
            while b"\r\n\r\n" not in request:
                piece = conn.recv(4096)
                if not piece:
                    return
                request += piece
            path = request.split(b" ")[1].decode("latin-1")
            self.requests.append(path)
            BEHAVIOURS.get(path, good)(conn, self.stop)
        except OSError:
            pass
        finally:
            conn.close()

    def close(self):
        self.stop.set()
        self.listener.close()


# The causes the crawler itself names; the others are the HTTP library's
# words for a broken transfer.
EXPECTED_REASONS = {
    BASE + "endless.html": "reply over 64 MiB",
    BASE + "drip.html": "download not complete within 60 s",
    BASE + "garbage.html": "not an HTTP reply",
    "http://127.0.0.1:8081/late.html": "no data for 2 s",
}


def main():
    build, db, checks = start_test(sys.argv, "se_test_e2e_hostile")
    hostile = [BASE + path[1:] for path in BEHAVIOURS if path != "/good.html"]
    hostile.append("http://127.0.0.1:8081/late.html")

    with tempfile.TemporaryDirectory() as workdir:
        # No site restriction, so the late acceptor's port is in the crawl.
        write_config(workdir, "", "abeille 1\n", max_depth=0)
        server = HostileServer()
        # It stays silent for the whole run: equal priorities leave the queue
        # in an order that depends on when the download thread first takes
        # one, so its URL may come after the minute of the dripping page.
        late = LateAcceptor(250)
        crawler = Crawler(build, workdir, db.env())
        started = time.time()
        # One URL a line: all are queued at priority 0, the good page last.
        crawler.type("".join(url + "\n" for url in hostile) + BASE + "good.html\n")

        # Every URL is done when each hostile one has its error line and the
        # good page has been analysed (the heap hands out equal priorities in
        # no particular order).
        def done():
            log = crawler.stderr()
            return ("PARSE0 " + BASE + "good.html" in log and
                    all("ERROR DOWNLOAD " + url + " : " in log for url in hostile))
        deadline = started + 240
        while time.time() < deadline and not done() and crawler.process.poll() is None:
            time.sleep(0.2)
        spent = time.time() - started
        time.sleep(1)  # the good page's own statements
        quit_at = time.time()
        crawler.type("exit\n")
        status = crawler.wait(20)
        log = crawler.stderr()
        print(log)
        checks.expect("the crawler ends with status 0", status == 0, "status %r" % status)
        checks.expect("exit returns promptly", time.time() - quit_at < 10)
        checks.expect("the whole hostile run is bounded", spent < 200, "%.0f s" % spent)
        for url in hostile:
            line_start = "ERROR DOWNLOAD " + url + " : "
            lines = [line for line in log.split("\n") if line_start in line]
            reasons = [line.split(line_start, 1)[1] for line in lines]
            checks.expect(url + " fails once, with a reason",
                          len(reasons) == 1 and reasons[0].strip() != "", str(lines))
            expected = EXPECTED_REASONS.get(url)
            if expected and reasons:
                checks.expect(url + " names its cause", reasons[0].startswith(expected),
                              reasons[0])
        checks.expect("the good page is analysed", "PARSE0 " + BASE + "good.html" in log, log)
        checks.expect("the good page is indexed", db.column(
            "SELECT nbMotsTheme FROM Url WHERE url='%sgood.html'" % BASE) == ["1"])
        checks.index_invariants(db)
        invalid = set(db.column("SELECT url FROM UrlInvalide"))
        checks.expect("every hostile URL is recorded as invalid", set(hostile) <= invalid,
                      str(invalid))
        fetched = db.column("SELECT url FROM Url")
        checks.expect("no hostile URL is recorded as fetched", fetched == [BASE + "good.html"],
                      str(fetched))
        peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024
        checks.expect("the crawler's memory stays bounded", peak < 512, "%d MiB" % peak)
        server.close()
        late.close()
    checks.finish()


if __name__ == "__main__":
    main()
