#!/usr/bin/python3
"""Scripted HTTP/1.1 server for the end-to-end tests (loopback only).

Started by a test fixture: it binds a free port on 127.0.0.1, prints the port
number as its first line on stdout and serves until it is killed or its
lifetime ends. Connections are kept alive, so reuse shows in the log.

Every request is logged (control URLs under /__ excepted):
  GET /__log            the log as text, one entry per request:
                          "conn=<n> <METHOD> <target> <version>"
                          then "\t<Name>: <value>" per header as received
                          then "\tbody=<hex>" when a body came
                        <n> numbers the TCP connections in accept order.
  GET /__log?clear=1    empties the log.
  GET /__sent?tag=T     "<bytes> <done>" for the /big request tagged T: how many
                        body bytes the server managed to send, and whether the
                        request is over (waits up to 20 s for it to end).

Routes are the ROUTES table: add cases with @route(r"regex over the path").

With --cert FILE --key FILE it speaks HTTPS with that certificate instead.
"""

import argparse
import base64
import datetime
import gzip
import os
import re
import select
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROUTES = []


def route(pattern):
    def register(fn):
        ROUTES.append((re.compile(pattern), fn))
        return fn
    return register


class State:
    lock = threading.Condition()
    log = []
    sent = {}  # tag -> [bytes, done]
    connections = 0


def page_bytes(size):
    """Deterministic body of size bytes (the tests compute the same)."""
    return bytes((i * 31 + 7) % 251 for i in range(size))


PAGE = (b"<html><head><title>gz</title></head><body>"
        + b"<p>gzip body line</p>\n" * 200 + b"</body></html>\n")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 120  # an idle keep-alive connection ends after this

    def version_string(self):
        return "WexoTestServer/1.0"

    def setup(self):
        if self.server.tls:
            # The handshake runs on the connection's own thread: a client that refuses the
            # certificate never holds up the others.
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
        super().setup()
        with State.lock:
            State.connections += 1
            self.conn_id = State.connections

    def log_message(self, fmt, *args):
        pass

    # -- helpers for the routes --

    def reply(self, code, body=b"", headers=(), content_type="text/html"):
        """Status, headers (as given: names keep their case) and body."""
        no_body = code < 200 or code in (204, 304)
        self.send_response(code)
        if content_type and not no_body:
            self.send_header("Content-Type", content_type)
        for name, value in headers:
            self.send_header(name, value)
        if not no_body and not any(n.lower() == "content-length" for n, _ in headers):
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD" and not no_body:
            self.wfile.write(body)
        self.wfile.flush()

    def wait_for_client_close(self, limit):
        """Blocks until the client closes the connection (or limit seconds)."""
        end = time.monotonic() + limit
        sock = self.connection
        while time.monotonic() < end:
            ready, _, _ = select.select([sock], [], [], 0.2)
            if ready:
                try:
                    if not sock.recv(4096):
                        break
                except OSError:
                    break
        self.close_connection = True

    # -- dispatch --

    def do_GET(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def dispatch(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        parts = urllib.parse.urlsplit(self.path)
        path = parts.path
        self.query = urllib.parse.parse_qs(parts.query, keep_blank_values=True)
        self.raw_query = parts.query
        self.body = body
        if not path.startswith("/__"):
            entry = ["conn=%d %s %s %s" % (self.conn_id, self.command, self.path, self.request_version)]
            for name, value in self.headers.raw_items():
                entry.append("\t%s: %s" % (name, value))
            if body:
                entry.append("\tbody=" + body.hex())
            with State.lock:
                State.log.append("\n".join(entry))
        for pattern, fn in ROUTES:
            m = pattern.fullmatch(path)
            if m:
                fn(self, m)
                return
        self.reply(404, b"no such route\n")

    def arg(self, name, default=None):
        values = self.query.get(name)
        return values[0] if values else default


# ---- control ----

@route(r"/__log")
def control_log(h, m):
    with State.lock:
        if h.arg("clear"):
            State.log.clear()
        text = "".join(e + "\n" for e in State.log)
    h.reply(200, text.encode("latin-1"), content_type="text/plain")


@route(r"/__sent")
def control_sent(h, m):
    tag = h.arg("tag", "")
    end = time.monotonic() + 20
    with State.lock:
        while (tag not in State.sent or not State.sent[tag][1]) and time.monotonic() < end:
            State.lock.wait(0.2)
        sent, done = State.sent.get(tag, [0, False])
    h.reply(200, ("%d %d\n" % (sent, 1 if done else 0)).encode(), content_type="text/plain")


# ---- plain answers ----

@route(r"/status/(\d+)")
def status(h, m):
    code = int(m.group(1))
    h.reply(code, b"status %d\n" % code, headers=[("X-Mixed-Case", "MiXeD value")])


@route(r"/page")
def page(h, m):
    size = int(h.arg("size", "1000"))
    h.reply(200, page_bytes(size), content_type=h.arg("type", "text/html"))


@route(r"/empty")
def empty(h, m):
    h.reply(200, b"", content_type="text/html")


@route(r"/ctype")
def ctype(h, m):
    # /ctype?v=<the Content-Type value, url-encoded>
    h.reply(200, b"<html></html>\n", content_type=h.arg("v", "text/html"))


@route(r"/lastmod/(\d+)")
def lastmod(h, m):
    when = datetime.datetime(int(m.group(1)), 7, 1, 12, 30, 45)
    value = when.strftime("%a, %d %b %Y %H:%M:%S GMT")
    h.reply(200, b"<html></html>\n", headers=[("Last-Modified", value)])


@route(r"/echo")
def echo(h, m):
    lines = ["%s %s" % (h.command, h.path)]
    lines += ["%s: %s" % kv for kv in h.headers.raw_items()]
    lines.append("")
    h.reply(200, "\n".join(lines).encode("latin-1") + h.body, content_type="text/plain")


# ---- redirects ----

@route(r"/redirect/(\d+)")
def redirect(h, m):
    """?to=<target>&form=Location|location|content-first|nospace"""
    code = int(m.group(1))
    target = h.arg("to", "/page")
    form = h.arg("form", "Location")
    if form == "location":
        headers = [("location", target)]
    elif form == "content-first":
        headers = [("Content-Location", "/content-location"), ("Location", target)]
    elif form == "nospace":
        # http.server writes "Name: value"; this form is written by hand below
        headers = []
    else:
        headers = [("Location", target)]
    if form == "nospace":
        body = b"moved\n"
        h.send_response(code)
        h.send_header("Content-Type", "text/html")
        h.send_header("Content-Length", str(len(body)))
        h._headers_buffer.append(b"Location:" + target.encode("latin-1") + b"\r\n")
        h.end_headers()
        if h.command != "HEAD":
            h.wfile.write(body)
        return
    h.reply(code, b"moved\n", headers=headers)


# ---- encodings ----

@route(r"/gzip")
def gzip_body(h, m):
    h.reply(200, gzip.compress(PAGE), headers=[("Content-Encoding", "gzip")])


@route(r"/gzip-truncated")
def gzip_truncated(h, m):
    data = gzip.compress(PAGE)
    h.reply(200, data[: len(data) // 2], headers=[("Content-Encoding", "gzip")])


@route(r"/gzip-empty")
def gzip_empty(h, m):
    h.reply(200, gzip.compress(b""), headers=[("Content-Encoding", "gzip")])


@route(r"/gzip-badcrc")
def gzip_badcrc(h, m):
    data = bytearray(gzip.compress(PAGE))
    data[-8] ^= 0xFF  # the CRC-32 of the trailer
    h.reply(200, bytes(data), headers=[("Content-Encoding", "gzip")])


@route(r"/deflate404")
def deflate404(h, m):
    h.reply(404, zlib.compress(b"<html>not found</html>"), headers=[("Content-Encoding", "deflate")])


# ---- hostile answers ----

FIRST_LINK = b'<html><body><a href="/status/404">first</a>'
BOMB = []


@route(r"/gzip-bomb")
def gzip_bomb(h, m):
    """About 1 MB of gzip that decodes to a link and then 1 GiB of zeros (made once)."""
    with State.lock:
        if not BOMB:
            c = zlib.compressobj(9, zlib.DEFLATED, 31)
            zeros = bytes(1 << 20)
            parts = [c.compress(FIRST_LINK)] + [c.compress(zeros) for _ in range(1024)] + [c.flush()]
            BOMB.append(b"".join(parts))
    h.reply(200, BOMB[0], headers=[("Content-Encoding", "gzip")])


@route(r"/long-line")
def long_line(h, m):
    """?size=N: a page of N bytes without a line break, a link first, made as it is sent."""
    size = int(h.arg("size", str(2 << 30)))
    try:
        h.send_response(200)
        h.send_header("Content-Type", "text/html")
        h.send_header("Content-Length", str(size))
        h.end_headers()
        h.wfile.flush()
        h.connection.sendall(FIRST_LINK)
        block = b"x" * (1 << 20)
        left = size - len(FIRST_LINK)
        while left > 0:
            n = min(left, len(block))
            h.connection.sendall(block[:n])
            left -= n
    except OSError:
        h.close_connection = True


@route(r"/raw-headers")
def raw_headers(h, m):
    """?h=<name: value> (repeatable, percent-encoded): header lines sent byte for byte, then a small page."""
    body = b"<html></html>\n"
    h.send_response_only(200)
    for line in h.query.get("h", []):
        h._headers_buffer.append(line.encode("latin-1") + b"\r\n")
    h.send_header("Content-Length", str(len(body)))
    h.end_headers()
    if h.command != "HEAD":
        h.wfile.write(body)


HOSTILE_SETS = {
    "bodies": ["/gzip-bomb", "/long-line", "/page?size=100"],
    "headers": ["/raw-headers?h=Server:%20a%09b%09c&h=Content-Type:%20text/html",
                "/raw-headers?h=Server:%20srv%0DINJECTED-ROW%09404&h=Content-Type:%20text/html",
                "/raw-headers?h=Content-Type:%20text/html%09x%0Dy",
                "/raw-headers?h=Content-Type:%20text/html;%20charset=utf-8%09z%0Dw%01"],
    "oversized": ["/many-headers?count=1&size=200000", "/many-headers?count=5000&size=100"],
}


@route(r"/hostile")
def hostile(h, m):
    """?set=bodies|headers|oversized: a page linking to the hostile answers of that set."""
    links = "".join('<a href="%s">x</a>\n' % t for t in HOSTILE_SETS[h.arg("set", "bodies")])
    h.reply(200, ("<html><body>\n" + links + "</body></html>\n").encode())


@route(r"/many-headers")
def many_headers(h, m):
    """?count=N&size=S: N headers of S bytes each."""
    count, size = int(h.arg("count", "1")), int(h.arg("size", "200000"))
    h.send_response_only(200)
    for i in range(count):
        h.send_header("X-Filler-%d" % i, "f" * size)
    h.send_header("Content-Type", "text/html")
    h.send_header("Content-Length", "0")
    h.end_headers()


# ---- image maps: 400 for the bare map, 204 for ?1,1, 200 for ?10,10 ----

@route(r"/.*\.(map|MAP)")
def image_map(h, m):
    if h.raw_query == "1,1":
        h.reply(204)
    elif h.raw_query == "10,10":
        h.reply(200, b"<html>map</html>\n")
    else:
        h.reply(400, b"bad map request\n")


# ---- large bodies: /big?size=N&tag=T&code=200&type=application/octet-stream ----

@route(r"/big")
def big(h, m):
    size = int(h.arg("size", str(64 << 20)))
    tag = h.arg("tag", "")
    code = int(h.arg("code", "200"))
    with State.lock:
        State.sent[tag] = [0, False]
    try:
        h.send_response(code)
        h.send_header("Content-Type", h.arg("type", "application/octet-stream"))
        h.send_header("Content-Length", str(size))
        h.end_headers()
        h.wfile.flush()
        if h.command != "HEAD":
            block = b"x" * 65536
            left = size
            while left > 0:
                n = min(left, len(block))
                h.connection.sendall(block[:n])
                left -= n
                with State.lock:
                    State.sent[tag][0] += n
    except OSError:
        h.close_connection = True
    finally:
        with State.lock:
            State.sent[tag][1] = True
            State.lock.notify_all()


# ---- slow and hanging replies ----

@route(r"/slow")
def slow(h, m):
    """?head=<s before the headers>&gap=<s between body chunks>&chunks=<n>"""
    time.sleep(float(h.arg("head", "0")))
    chunks = int(h.arg("chunks", "4"))
    gap = float(h.arg("gap", "0.2"))
    piece = page_bytes(256)
    try:
        h.send_response(200)
        h.send_header("Content-Type", "text/html")
        h.send_header("Content-Length", str(len(piece) * chunks))
        h.end_headers()
        h.wfile.flush()
        if h.command == "HEAD":
            return  # a HEAD answer has no body: bytes after it would spoil the kept connection
        for _ in range(chunks):
            time.sleep(gap)
            h.wfile.write(piece)
            h.wfile.flush()
    except OSError:
        h.close_connection = True


@route(r"/hang")
def hang(h, m):
    """Reads the request and answers nothing until the client gives up."""
    h.wait_for_client_close(float(h.arg("limit", "120")))


@route(r"/hang-body")
def hang_body(h, m):
    """Headers and a first piece of the body, then nothing.
    ?first=<bytes of the piece>&length=<Content-Length>: a piece larger than the default."""
    first = int(h.arg("first", "6"))
    h.send_response(200)
    h.send_header("Content-Type", "text/html")
    h.send_header("Content-Length", h.arg("length", "100000"))
    h.end_headers()
    try:
        h.wfile.write(b"<html>" + b"x" * max(0, first - 6))
        h.wfile.flush()
    except OSError:
        h.close_connection = True
        return
    h.wait_for_client_close(float(h.arg("limit", "120")))


# ---- broken connections ----

@route(r"/reset")
def reset(h, m):
    h.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    h.close_connection = True
    h.connection.close()


@route(r"/nothing")
def nothing(h, m):
    h.close_connection = True
    h.connection.shutdown(socket.SHUT_RDWR)


@route(r"/garbage")
def garbage(h, m):
    h.wfile.write(b"SPAM SPAM SPAM\r\n\r\n")
    h.wfile.flush()
    h.close_connection = True
    h.connection.shutdown(socket.SHUT_RDWR)


@route(r"/short")
def short(h, m):
    """Promises more body than it sends, then closes."""
    h.send_response(200)
    h.send_header("Content-Type", "text/html")
    h.send_header("Content-Length", "1000")
    h.end_headers()
    h.wfile.write(b"<html>only")
    h.wfile.flush()
    h.close_connection = True
    h.connection.shutdown(socket.SHUT_RDWR)


@route(r"/close")
def close(h, m):
    h.reply(200, b"closing\n", headers=[("Connection", "close")])
    h.close_connection = True


# ---- credentials and cookies ----

AUTH_USER = "wexo"
AUTH_PASSWORD = "s3cret"
AUTH_REALM = "Wexo Test Realm"


@route(r"/auth/basic/.*")
def auth_basic(h, m):
    """Basic authentication with AUTH_USER / AUTH_PASSWORD; 401 with the realm otherwise."""
    expected = "Basic " + base64.b64encode(("%s:%s" % (AUTH_USER, AUTH_PASSWORD)).encode()).decode()
    if h.headers.get("Authorization") == expected:
        h.reply(200, b"<html><body>private</body></html>\n")
    else:
        h.reply(401, b"<html>authorization required</html>\n",
                headers=[("WWW-Authenticate", 'Basic realm="%s"' % AUTH_REALM)])


@route(r"/links")
def links(h, m):
    """A page that links to every ?to=<href> (repeatable)."""
    hrefs = h.query.get("to", [])
    body = "<html><body>\n" + "".join('<a href="%s">x</a>\n' % t for t in hrefs) + "</body></html>\n"
    h.reply(200, body.encode("latin-1"))


@route(r"/cookie/set")
def cookie_set(h, m):
    """?name=&value=: sets the cookie for the whole server."""
    h.reply(200, b"<html>cookie set</html>\n",
            headers=[("Set-Cookie", "%s=%s; Path=/" % (h.arg("name", "wexo"), h.arg("value", "1")))])


@route(r"/cookie/need")
def cookie_need(h, m):
    """200 when the request carries the cookie name=value, else 403."""
    want = "%s=%s" % (h.arg("name", "wexo"), h.arg("value", "1"))
    sent = [c.strip() for c in (h.headers.get("Cookie") or "").split(";")]
    h.reply(200 if want in sent else 403, b"<html>cookie</html>\n")


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128
    tls = None

    def handle_error(self, request, client_address):
        pass  # a client that went away is part of the tests


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--lifetime", type=float, default=900,
                        help="seconds after which the server exits on its own")
    parser.add_argument("--cert", help="certificate (PEM): serve HTTPS")
    parser.add_argument("--key", help="the certificate's key (PEM)")
    args = parser.parse_args()
    server = Server(("127.0.0.1", args.port), Handler)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.tls = context
    timer = threading.Timer(args.lifetime, lambda: os._exit(0))
    timer.daemon = True
    timer.start()
    print(server.server_address[1], flush=True)
    server.serve_forever(poll_interval=0.2)


if __name__ == "__main__":
    main()
