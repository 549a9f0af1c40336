#!/usr/bin/python3
"""Makes the certificates of the HTTPS tests with `openssl ca` into a folder.

    make_certs.py DIR

DIR/ca.pem is the test CA that the tests trust (WEXO_CA_FILE). Each leaf has one fault
only, so each certificate error shows alone:
    good.pem      127.0.0.1, valid now, issued by the test CA
    expired.pem   127.0.0.1, valid 2020-01-01 .. 2021-01-01, issued by the test CA
    wrongname.pem wrong.example only, valid now, issued by the test CA
    unknown.pem   127.0.0.1, valid now, issued by a second CA that nobody trusts
with the keys beside them (NAME.key). Exits non-zero when openssl fails.
"""

import os
import subprocess
import sys

CONFIG = """\
[ca]
default_ca = test_ca

[test_ca]
dir = {dir}
database = {dir}/index.txt
new_certs_dir = {dir}/new
serial = {dir}/serial
default_md = sha256
default_days = 30
policy = any
unique_subject = no
copy_extensions = none

[any]
commonName = supplied

[leaf]
basicConstraints = CA:FALSE
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = {san}
"""


def run(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(out, name):
    d = os.path.join(out, name)
    os.makedirs(os.path.join(d, "new"), exist_ok=True)
    open(os.path.join(d, "index.txt"), "w").close()
    with open(os.path.join(d, "serial"), "w") as f:
        f.write("1000\n")
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", os.path.join(d, "ca.key"),
        "-out", os.path.join(d, "ca.pem"), "-days", "30", "-subj", "/CN=Wexo " + name,
        "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return d


def make_leaf(out, ca, name, cn, san, dates=None):
    key = os.path.join(out, name + ".key")
    csr = os.path.join(out, name + ".csr")
    pem = os.path.join(out, name + ".pem")
    conf = os.path.join(out, name + ".cnf")
    with open(conf, "w") as f:
        f.write(CONFIG.format(dir=ca, san=san))
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + cn)
    args = ["ca", "-batch", "-notext", "-config", conf, "-extensions", "leaf",
            "-cert", os.path.join(ca, "ca.pem"), "-keyfile", os.path.join(ca, "ca.key"),
            "-in", csr, "-out", pem]
    if dates:
        args += ["-startdate", dates[0], "-enddate", dates[1]]
    run(*args)


def main():
    out = os.path.abspath(sys.argv[1])
    os.makedirs(out, exist_ok=True)
    trusted = make_ca(out, "test-ca")
    other = make_ca(out, "other-ca")
    with open(os.path.join(trusted, "ca.pem")) as src, open(os.path.join(out, "ca.pem"), "w") as dst:
        dst.write(src.read())
    make_leaf(out, trusted, "good", "127.0.0.1", "IP:127.0.0.1")
    make_leaf(out, trusted, "expired", "127.0.0.1", "IP:127.0.0.1", ("20200101000000Z", "20210101000000Z"))
    make_leaf(out, trusted, "wrongname", "wrong.example", "DNS:wrong.example")
    make_leaf(out, other, "unknown", "127.0.0.1", "IP:127.0.0.1")


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as e:
        sys.stderr.write("openssl failed: %s\n%s" % (" ".join(e.cmd), e.stderr.decode(errors="replace")))
        sys.exit(1)
