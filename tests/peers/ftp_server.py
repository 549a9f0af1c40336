#!/usr/bin/python3
"""FTP server for the end-to-end tests (pyftpdlib, loopback only).

Binds a free port on 127.0.0.1, prints it as the first line on stdout and serves
the folder until it is killed or its lifetime ends. Every command it receives is
echoed on stdout as "CMD <line>" (PASS arguments included), so a test can see
what reached the server.

  --root DIR          the folder served to every user (their home)
  --user NAME:PASS    a user with a password (repeatable)
  --anonymous         also allow anonymous logins
  --refuse NAME       files with this name are listed, sized and dated, but
                      never sent (repeatable): the authorizer refuses RETR,
                      which chmod cannot do for a server running as root
  --refuse-user NAME  USER NAME is answered "530" at once (repeatable)
  --refuse-cwd NAME   folders with this name are listed but CWD into them is
                      refused (repeatable)
  --no-mlsd           no MLSD or MLST (and so none in FEAT): folders are listed
                      with LIST only
  --deaf-quit         QUIT is echoed but never answered and the connection stays
                      open: a server that holds its goodbye back
"""

import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import ActiveDTP, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--user", action="append", default=[])
    ap.add_argument("--anonymous", action="store_true")
    ap.add_argument("--refuse", action="append", default=[])
    ap.add_argument("--refuse-user", action="append", default=[])
    ap.add_argument("--refuse-cwd", action="append", default=[])
    ap.add_argument("--no-mlsd", action="store_true")
    ap.add_argument("--deaf-quit", action="store_true")
    ap.add_argument("--lifetime", type=float, default=600)
    args = ap.parse_args()

    refused = set(args.refuse)
    closed_dirs = set(args.refuse_cwd)

    class Authorizer(DummyAuthorizer):
        def has_perm(self, username, perm, path=None):
            if perm == "r" and path is not None and os.path.basename(path) in refused:
                return False
            if perm == "e" and path is not None and os.path.basename(path.rstrip("/")) in closed_dirs:
                return False
            return super().has_perm(username, perm, path)

    root = os.path.abspath(args.root)
    auth = Authorizer()
    for spec in args.user:
        name, _, password = spec.partition(":")
        auth.add_user(name, password, root, perm="elr")
    if args.anonymous:
        auth.add_anonymous(root, perm="elr")

    out_lock = threading.Lock()

    class HandedOverActiveDTP(ActiveDTP):
        """pyftpdlib keeps the connector of an active data connection after it handed
        its socket to the data handler, and closes it with the control connection: that
        unregisters the old data socket's descriptor number from the IO loop, which by
        then may belong to another client's control connection, whose commands are then
        never read. Once handed over, the connector has nothing left to close."""

        def handle_connect(self):
            super().handle_connect()
            self._handed_over = not self._closed

        def close(self):
            if getattr(self, "_handed_over", False):
                if self._idler is not None and not self._idler.cancelled:
                    self._idler.cancel()
                self._closed = True
                return
            super().close()

    class Handler(FTPHandler):
        authorizer = auth
        banner = "wexo test ftp ready"
        auth_failed_timeout = 0  # answer a wrong password at once
        active_dtp = HandedOverActiveDTP
        if args.no_mlsd:
            proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ("MLSD", "MLST")}

        def pre_process_command(self, line, cmd, arg):
            with out_lock:
                sys.stdout.write("CMD " + line + "\n")
                sys.stdout.flush()
            if cmd == "USER" and arg in args.refuse_user:
                self.respond("530 User %s is not allowed here." % arg)
                return
            if cmd == "QUIT" and args.deaf_quit:
                return
            return super().pre_process_command(line, cmd, arg)

    logging.basicConfig(level=logging.ERROR)
    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.address[1], flush=True)
    timer = threading.Timer(args.lifetime, server.close_all)
    timer.daemon = True
    timer.start()
    try:
        server.serve_forever(timeout=0.5, handle_exit=True)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
