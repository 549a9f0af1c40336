#!/usr/bin/python3
"""Small gopher server for the end-to-end tests (standard library, loopback only).

Binds a free port on 127.0.0.1, prints it as the first line on stdout and serves the
folder --root until it is killed or its lifetime ends. A selector names a path under
the root: a file is sent as it is, a folder as a menu; anything else gets an error item.
Every selector received is echoed on stdout as "SEL <selector>" with bytes below 0x20
written as \\xNN, so a test can see what reached the server.
"""

import argparse
import os
import socketserver
import sys
import threading

out_lock = threading.Lock()


def shown(raw):
    return "".join(chr(b) if 0x20 <= b < 0x7F else "\\x%02X" % b for b in raw)


class Handler(socketserver.StreamRequestHandler):
    timeout = 10

    def handle(self):
        raw = self.rfile.readline(4096)
        with out_lock:
            sys.stdout.write("SEL " + shown(raw.rstrip(b"\r\n")) + "\n")
            sys.stdout.flush()
        selector = raw.rstrip(b"\r\n").split(b"\t", 1)[0].decode("utf-8", "replace")
        root = self.server.root
        path = os.path.realpath(os.path.join(root, selector.lstrip("/")))
        if path != root and not path.startswith(root + os.sep):
            path = None
        if path and os.path.isfile(path):
            with open(path, "rb") as f:
                self.wfile.write(f.read())
        elif path and os.path.isdir(path):
            host, port = self.server.server_address
            for name in sorted(os.listdir(path)):
                full = os.path.join(path, name)
                kind = "1" if os.path.isdir(full) else "0"
                sel = "/" + os.path.relpath(full, root)
                self.wfile.write(f"{kind}{name}\t{sel}\t{host}\t{port}\r\n".encode())
            self.wfile.write(b".\r\n")
        else:
            self.wfile.write(f"3'{selector}' does not exist\terror.host\t1\r\n.\r\n".encode())


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--lifetime", type=float, default=600)
    args = ap.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.root = os.path.realpath(args.root)
    print(server.server_address[1], flush=True)
    timer = threading.Timer(args.lifetime, server.shutdown)
    timer.daemon = True
    timer.start()
    server.serve_forever(poll_interval=0.2)


if __name__ == "__main__":
    main()
