#!/usr/bin/python3
"""A scripted SMTP server for the end-to-end tests, working on bytes.

Every connection plays the same script, given as JSON by --script: a list of steps
  ["send", text]   send text (each character one byte, U+0000..U+00FF)
  ["read"]         read one line through its LF
  ["data"]         read through CR LF . CR LF
  ["bytes", n]     read n bytes (fewer when the client closes first)
  ["sleep", ms]
  ["close"]        close the connection now
After the last step it reads until the client closes. Each read is printed as "GOT <hex>" and
the end of a connection as "END". Prints its port as the first line; lives at most --lifetime
seconds.
"""
import argparse
import json
import os
import signal
import socket
import sys
import time


def serve(conn, steps):
    conn.settimeout(30)
    buf = b""
    eof = False

    def fill():
        nonlocal buf, eof
        chunk = conn.recv(65536)
        eof = not chunk
        buf += chunk
        return not eof

    def log(data):
        if data:
            print("GOT " + data.hex(), flush=True)

    def take_through(mark):
        nonlocal buf
        while mark not in buf and fill():
            pass
        at = buf.find(mark)
        end = len(buf) if at < 0 else at + len(mark)
        log(buf[:end])
        buf = buf[end:]

    try:
        for step in steps:
            op = step[0]
            if op == "send":
                conn.sendall(step[1].encode("latin-1"))
            elif op == "read":
                take_through(b"\n")
            elif op == "data":
                take_through(b"\r\n.\r\n")
            elif op == "bytes":
                while len(buf) < step[1] and fill():
                    pass
                log(buf[: step[1]])
                buf = buf[step[1]:]
            elif op == "sleep":
                time.sleep(step[1] / 1000)
            elif op == "close":
                return
            if eof:
                return
        while fill():
            pass
        log(buf)
    except OSError:
        pass
    finally:
        conn.close()
        print("END", flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--script", required=True)
    ap.add_argument("--lifetime", type=float, default=300)
    args = ap.parse_args()
    steps = json.loads(args.script)
    signal.signal(signal.SIGALRM, lambda *_: os._exit(0))
    signal.alarm(int(args.lifetime))
    with socket.socket() as server:
        server.bind(("127.0.0.1", 0))
        server.listen(8)
        print(server.getsockname()[1], flush=True)
        while True:
            conn, _ = server.accept()
            serve(conn, steps)


if __name__ == "__main__":
    sys.exit(main())
