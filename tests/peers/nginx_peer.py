#!/usr/bin/python3
"""Serves a folder with nginx on a free loopback port for a test.

Prints the port as the first line on stdout once nginx accepts connections, then runs until
it is terminated (or its lifetime ends) and takes nginx down with it.
"""
import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


def free_port(host):
    with socket.socket() as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True, help="folder to serve")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--lifetime", type=float, default=600)
    ap.add_argument("--extra", default="", help="more directives inside the server block")
    ap.add_argument("--access-log", default="", help="file for the access log (default: none)")
    args = ap.parse_args()

    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    work = tempfile.mkdtemp(prefix="wexo-nginx-")
    port = args.port or free_port(args.host)
    access = f"access_log {args.access_log};" if args.access_log else "access_log off;"
    # As root, workers keep root's rights so private temporary folders can be served.
    user = "user root;" if os.geteuid() == 0 else ""
    conf = f"""
{user}
daemon off;
worker_processes 2;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 1024; }}
http {{
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    {access}
    client_body_temp_path {work}/body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    keepalive_requests 100000;
    server {{
        listen {args.host}:{port};
        server_name localhost;
        root {os.path.abspath(args.root)};
        index index.html;
        {args.extra}
    }}
}}
"""
    with open(os.path.join(work, "nginx.conf"), "w") as f:
        f.write(conf)
    proc = subprocess.Popen([nginx, "-e", os.path.join(work, "error.log"), "-p", work,
                             "-c", os.path.join(work, "nginx.conf")], stdout=subprocess.DEVNULL)

    def stop(*_):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
        shutil.rmtree(work, ignore_errors=True)
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    deadline = time.time() + 15
    while time.time() < deadline:
        if proc.poll() is not None:
            sys.stderr.write(open(os.path.join(work, "error.log")).read())
            stop()
        try:
            with socket.create_connection((args.host, port), timeout=0.2):
                break
        except OSError:
            time.sleep(0.05)
    else:
        stop()
    print(port, flush=True)
    end = time.time() + args.lifetime
    while proc.poll() is None and time.time() < end:
        time.sleep(0.2)
    stop()


if __name__ == "__main__":
    main()
