#!/usr/bin/python3
"""aiosmtpd on a free loopback port for the mail tests, without TLS.

Logins: AUTH LOGIN (prompting "Username:" and "Password:"), PLAIN and CRAM-MD5, for the
--user and --password given; each attempt is printed as "AUTH <mechanism> ok|refused".
Each message is saved as msg-<n>.eml in --dir, read back with the email package and printed:
  MAIL <envelope sender>   RCPT <recipient> (each)   FROM <hex>
  TO <address> <hex of its name> (each address of the To header)   SUBJECT <hex>
  PART <content type> <file name or -> <hex>   (each leaf part; text decoded by its charset
                                                and given as UTF-8, other parts as bytes)
and the same message read by the lenient parser (compat32, email.utils.getaddresses, the
header unfolded and its encoded words decoded by email.header):
  LFROM <hex>   LTO <address> <hex of its name> (each)   LSUBJECT <hex>
and for each leaf part the file name and the Content-Type's name, read by both parsers:
  FILE <strict file name> <strict name> <lenient file name> <lenient name>   (hex, - for none)
  DONE
A recipient given by --refuse is refused with "550 5.1.1 <address>: Recipient address rejected".
Prints its port first; lives at most --lifetime seconds.
"""
import argparse
import email
import email.header
import email.policy
import email.utils
import re
import hashlib
import hmac
import os
import secrets
import signal
import socket
import time
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword


class PromptingSMTP(SMTP):
    AuthLoginUsernameChallenge = "Username:"
    AuthLoginPasswordChallenge = "Password:"


class Handler:
    def __init__(self, user, password, folder, refused):
        self.user, self.password, self.folder, self.refused = user, password, folder, refused
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    def authenticator(self, server, session, envelope, mechanism, data):
        ok = isinstance(data, LoginPassword) and data.login == self.user and data.password == self.password
        print(f"AUTH {mechanism} {'ok' if ok else 'refused'}", flush=True)
        return AuthResult(success=ok, handled=False)

    async def auth_CRAM__MD5(self, server, args):
        challenge = f"<{secrets.randbelow(10**9)}.{int(time.time())}@localhost>".encode()
        response = await server.challenge_auth(challenge)
        if response is MISSING:
            return AuthResult(success=False)
        user, _, digest = response.decode("latin-1").rpartition(" ")
        expected = hmac.new(self.password, challenge, hashlib.md5).hexdigest()
        ok = user.encode("latin-1") == self.user and hmac.compare_digest(digest, expected)
        print(f"AUTH CRAM-MD5 {'ok' if ok else 'refused'}", flush=True)
        return AuthResult(success=ok, handled=False)

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        path = os.path.join(self.folder, f"msg-{self.count}.eml")
        with open(path, "wb") as f:
            f.write(envelope.original_content)
        with open(path, "rb") as f:
            msg = email.message_from_binary_file(f, policy=email.policy.default)
        lines = [f"MAIL {envelope.mail_from}"] + [f"RCPT {r}" for r in envelope.rcpt_tos]
        lines.append("FROM " + str(msg["from"]).encode().hex())
        for address in msg["to"].addresses if msg["to"] is not None else ():
            lines.append(f"TO {address.addr_spec} {address.display_name.encode().hex()}")
        lines.append("SUBJECT " + str(msg["subject"]).encode().hex())
        for part in msg.walk():
            if part.is_multipart():
                continue
            if part.get_content_maintype() == "text":
                payload = part.get_content().encode()
            else:
                payload = part.get_payload(decode=True)
            lines.append(f"PART {part.get_content_type()} {part.get_filename() or '-'} {payload.hex()}")
        lines += lenient_lines(envelope.original_content, msg)
        print("\n".join(lines + ["DONE"]), flush=True)
        return "250 OK"


def decoded(value):
    """A header text as a lenient reader shows it: unfolded, its encoded words decoded."""
    if value is None:
        return None
    value = re.sub(r"\r?\n(?=[ \t])", "", str(value))
    return str(email.header.make_header(email.header.decode_header(value)))


def hex_or_dash(text):
    return "-" if text is None else text.encode().hex()


def lenient_lines(raw, strict):
    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    lines = ["LFROM " + hex_or_dash(decoded(msg["from"]))]
    for name, address in email.utils.getaddresses(msg.get_all("to", [])):
        lines.append(f"LTO {address} {hex_or_dash(decoded(name))}")
    lines.append("LSUBJECT " + hex_or_dash(decoded(msg["subject"])))
    leaves = [p for p in msg.walk() if not p.is_multipart()]
    strict_leaves = [p for p in strict.walk() if not p.is_multipart()]
    for part, strict_part in zip(leaves, strict_leaves):
        name = part.get_param("name")
        name = decoded(email.utils.collapse_rfc2231_value(name)) if name is not None else None
        strict_name = strict_part["content-type"].params.get("name") if strict_part["content-type"] else None
        lines.append("FILE " + " ".join(hex_or_dash(t) for t in (strict_part.get_filename(), strict_name,
                                                                 part.get_filename(), name)))
    return lines


class PromptingController(Controller):
    def factory(self):
        return PromptingSMTP(self.handler, **self.SMTP_kwargs)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--user", default="user")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--dir", required=True)
    ap.add_argument("--lifetime", type=float, default=300)
    ap.add_argument("--refuse", action="append", default=[])
    args = ap.parse_args()
    warnings.simplefilter("ignore")  # aiosmtpd's notes on its own deprecations
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    signal.signal(signal.SIGALRM, lambda *_: os._exit(0))
    signal.alarm(int(args.lifetime))
    handler = Handler(args.user.encode(), args.password.encode(), args.dir, set(args.refuse))
    for _ in range(20):
        controller = PromptingController(handler, hostname="127.0.0.1", port=free_port(),
                                         authenticator=handler.authenticator, auth_require_tls=False)
        try:
            controller.start()
            break
        except (OSError, RuntimeError):
            continue
    else:
        raise SystemExit("aiosmtpd did not start")
    print(controller.port, flush=True)
    signal.pause()


if __name__ == "__main__":
    main()
