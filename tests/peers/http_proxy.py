#!/usr/bin/python3
"""A small forward HTTP proxy for the end-to-end tests (loopback only).

Prints its port as the first line on stdout. A request in absolute form
("GET http://host:port/path HTTP/1.1") without the right Proxy-Authorization gets
407 with a Basic challenge (realm "Wexo Proxy"); with it, the request is passed on to
the origin server and its answer relayed. Credentials: wexo-proxy / pr0xy.

GET /__log (origin form, to the proxy itself) lists the requests it got, one line
each: "<METHOD> <target> auth=<0|1>".
"""

import argparse
import base64
import http.client
import os
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

USER = "wexo-proxy"
PASSWORD = "pr0xy"
EXPECTED = "Basic " + base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
HOP_HEADERS = {"connection", "keep-alive", "proxy-authorization", "proxy-connection", "te",
               "trailers", "transfer-encoding", "upgrade"}

lock = threading.Lock()
log = []


class Proxy(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 60

    def log_message(self, fmt, *args):
        pass

    def answer(self, code, body, headers=()):
        self.send_response(code)
        for n, v in headers:
            self.send_header(n, v)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if self.path.startswith("/__log"):
            with lock:
                text = "".join(line + "\n" for line in log)
            self.answer(200, text.encode())
            return
        authorized = self.headers.get("Proxy-Authorization") == EXPECTED
        with lock:
            log.append("%s %s auth=%d" % (self.command, self.path, 1 if authorized else 0))
        if not authorized:
            self.answer(407, b"<html>proxy authentication required</html>\n",
                        headers=[("Proxy-Authenticate", 'Basic realm="Wexo Proxy"')])
            return
        url = urllib.parse.urlsplit(self.path)
        if url.scheme != "http" or not url.hostname:
            self.answer(400, b"<html>absolute http URL expected</html>\n")
            return
        conn = http.client.HTTPConnection(url.hostname, url.port or 80, timeout=30)
        target = url.path or "/"
        if url.query:
            target += "?" + url.query
        headers = {n: v for n, v in self.headers.items() if n.lower() not in HOP_HEADERS}
        try:
            conn.request(self.command, target, body=body or None, headers=headers)
            resp = conn.getresponse()
            data = resp.read()
        except OSError as e:
            self.answer(502, ("<html>%s</html>\n" % e).encode())
            return
        finally:
            conn.close()
        self.send_response(resp.status, resp.reason)
        for n, v in resp.getheaders():
            if n.lower() not in HOP_HEADERS and n.lower() != "content-length":
                self.send_header(n, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    do_GET = handle_any
    do_HEAD = handle_any
    do_POST = handle_any


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lifetime", type=float, default=900)
    args = parser.parse_args()
    server = Server(("127.0.0.1", 0), Proxy)
    timer = threading.Timer(args.lifetime, lambda: os._exit(0))
    timer.daemon = True
    timer.start()
    print(server.server_address[1], flush=True)
    server.serve_forever(poll_interval=0.2)


if __name__ == "__main__":
    main()
