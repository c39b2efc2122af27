"""Scripted web servers for the crawler's end-to-end tests: raw HTTP/1.1
replies (chunked, compressed, status line in a segment of its own,
redirects) over plain TCP or TLS, and a test certificate authority made
with the openssl command."""

import gzip
import os
import socket
import ssl
import subprocess
import threading
import time


def chunked(body, sizes):
    """The body in chunks of the given sizes (the rest in a last chunk)."""
    out, at = b"", 0
    for size in list(sizes) + [len(body)]:
        piece = body[at:at + size]
        at += len(piece)
        if piece:
            out += b"%x\r\n%s\r\n" % (len(piece), piece)
    return out + b"0\r\n\r\n"


def reply(status, headers, body=b""):
    """One reply in a single segment."""
    head = "HTTP/1.1 %s\r\n" % status
    head += "".join("%s: %s\r\n" % pair for pair in headers)
    return [(head + "\r\n").encode("latin-1") + body]


def page(body, content_type="text/html"):
    return reply("200 OK", [("Content-Type", content_type),
                            ("Content-Length", str(len(body)))], body)


def chunked_page(body, sizes):
    return reply("200 OK", [("Content-Type", "text/html"),
                            ("Transfer-Encoding", "chunked")], chunked(body, sizes))


def gzip_page(body):
    packed = gzip.compress(body)
    return reply("200 OK", [("Content-Type", "text/html"), ("Content-Encoding", "gzip"),
                            ("Content-Length", str(len(packed)))], packed)


def segmented_page(body):
    """The status line alone, then, after a pause, the rest."""
    whole = page(body)[0]
    line_end = whole.index(b"\r\n") + 2
    return [whole[:line_end], 0.3, whole[line_end:]]


def redirect(status, location):
    return reply(status, [("Location", location), ("Content-Length", "0")])


class RawSite:
    """A web server on 127.0.0.1:`port` answering each path with scripted
    segments (bytes, or a number of seconds to pause), or with the segments a
    function of the request's bytes gives, 404 otherwise; over
    TLS when given a certificate and key. Records (path, request bytes,
    arrival time, end time) in order."""

    def __init__(self, port, replies, cert=None):
        self.replies = replies
        self.requests = []
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", port))
        self.listener.listen(16)
        self.context = None
        if cert:
            self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.context.load_cert_chain(*cert)
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.answer, args=(connection,), daemon=True).start()

    def answer(self, connection):
        connection.settimeout(10)
        try:
            if self.context:
                connection = self.context.wrap_socket(connection, server_side=True)
            request = b""
            while b"\r\n\r\n" not in request:
                data = connection.recv(4096)
                if not data:
                    return
                request += data
            arrived = time.time()
            path = request.split(b" ")[1].decode("latin-1")
            entry = [path, request, arrived, None]
            self.requests.append(entry)
            segments = self.replies.get(path, reply("404 Not Found", [
                ("Content-Type", "text/html"), ("Content-Length", "0")]))
            if callable(segments):
                segments = segments(request)
            for segment in segments:
                if isinstance(segment, (int, float)):
                    time.sleep(segment)
                else:
                    connection.sendall(segment)
            entry[3] = time.time()
        except (OSError, ssl.SSLError):
            pass
        finally:
            connection.close()

    def paths(self):
        return [entry[0] for entry in self.requests]

    def close(self):
        try:
            self.listener.shutdown(socket.SHUT_RDWR)  # wakes the accepting thread
        except OSError:
            pass
        self.listener.close()


def make_certificates(directory):
    """A test CA, a server certificate for localhost/127.0.0.1 signed by it,
    and a self-signed one no one trusts. Returns (ca file, (cert, key),
    (untrusted cert, key))."""
    def run(*args):
        subprocess.run(["openssl"] + list(args), check=True, cwd=directory,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test CA",
        "-keyout", "ca.key", "-out", "ca.pem")
    run("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
        "-keyout", "server.key", "-out", "server.csr")
    with open(os.path.join(directory, "san.ext"), "w") as ext:
        ext.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-days", "2", "-extfile", "san.ext", "-out", "server.pem")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
        "-addext", "subjectAltName=DNS:localhost", "-keyout", "self.key", "-out", "self.pem")
    path = lambda name: os.path.join(directory, name)
    return (path("ca.pem"), (path("server.pem"), path("server.key")),
            (path("self.pem"), path("self.key")))
