#!/usr/bin/python3
"""A DNS server for the end-to-end tests: dnsmasq on a free loopback port.

Answers only from its command line (no upstream servers, no /etc/hosts):
  --mx DOMAIN,HOST    an MX record (repeatable)
  --a DOMAIN,ADDRESS  an A record (repeatable)
  --log-queries       echo dnsmasq's query log ("query[A] name from 127.0.0.1" ...) on stdout
Names under --local (default "test") that it does not know get NXDOMAIN.
Prints the port as the first line on stdout once dnsmasq answers, then runs until it is
terminated (or its lifetime ends) and takes dnsmasq down with it.
"""
import argparse
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time


def free_port():
    # Free for both UDP and TCP, as dnsmasq listens on both.
    for _ in range(50):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as u:
            u.bind(("127.0.0.1", 0))
            port = u.getsockname()[1]
            with socket.socket() as t:
                try:
                    t.bind(("127.0.0.1", port))
                except OSError:
                    continue
        return port
    raise SystemExit("no free port")


def answers(port):
    """True once the server answers a query for its own probe name."""
    query = struct.pack(">HHHHHH", 0x5745, 0x0100, 1, 0, 0, 0)
    for label in (b"probe", b"invalid"):
        query += bytes([len(label)]) + label
    query += b"\x00" + struct.pack(">HH", 1, 1)
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(0.2)
        try:
            s.sendto(query, ("127.0.0.1", port))
            reply, _ = s.recvfrom(512)
            return reply[:2] == query[:2]
        except OSError:
            return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mx", action="append", default=[])
    ap.add_argument("--a", action="append", default=[])
    ap.add_argument("--local", default="test")
    ap.add_argument("--log-queries", action="store_true")
    ap.add_argument("--lifetime", type=float, default=600)
    args = ap.parse_args()

    dnsmasq = shutil.which("dnsmasq") or "/usr/sbin/dnsmasq"
    work = tempfile.mkdtemp(prefix="wexo-dns-")
    def command(port):
        cmd = [dnsmasq, "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
               "--no-poll", "--bind-interfaces", "--listen-address=127.0.0.1", f"--port={port}",
               f"--pid-file={work}/dnsmasq.pid", f"--local=/{args.local}/", "--log-facility=-"]
        if os.geteuid() == 0:
            cmd.append("--user=root")
        for mx in args.mx:
            domain, _, host = mx.partition(",")
            cmd.append(f"--mx-host={domain},{host},10")
        for a in args.a:
            cmd.append(f"--host-record={a}")
        if args.log_queries:
            cmd.append("--log-queries")
        return cmd

    # The log goes out only after the port line; what came before waits.
    ready = threading.Event()
    held = []
    held_lock = threading.Lock()

    def echo(proc):
        for line in proc.stderr:
            with held_lock:
                if not ready.is_set():
                    held.append(line)
                    continue
            sys.stdout.write(line)
            sys.stdout.flush()

    running = []

    def stop(*_):
        for proc in running:
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
    # A port that was free when chosen may be taken before dnsmasq binds it; dnsmasq then ends
    # at once and another port is tried.
    for _ in range(5):
        port = free_port()
        proc = subprocess.Popen(command(port), stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE if args.log_queries else None, text=True)
        running.append(proc)
        if args.log_queries:
            threading.Thread(target=echo, args=(proc,), daemon=True).start()
        deadline = time.time() + 15
        answered = False
        while time.time() < deadline and proc.poll() is None:
            answered = answers(port)
            if answered:
                break
            time.sleep(0.05)
        if answered:
            break
        if proc.poll() is None:
            stop()
        proc.wait()
        with held_lock:
            held.clear()
    else:
        stop()
    with held_lock:
        print(port, flush=True)
        sys.stdout.write("".join(held))
        sys.stdout.flush()
        ready.set()
    end = time.time() + args.lifetime
    while proc.poll() is None and time.time() < end:
        time.sleep(0.2)
    stop()


if __name__ == "__main__":
    main()
