#!/usr/bin/python3
"""Runs wexo and wget over the same sites and prints speed and memory side by side."""
import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(HERE, "..", "tests", "peers", "nginx_peer.py")
DOCS = "/usr/share/doc/postgresql-doc-15/html"


def serve(root, host, extra=""):
    p = subprocess.Popen(["/usr/bin/python3", PEER, "--root", root, "--host", host, "--lifetime", "7200",
                          "--extra", extra], stdout=subprocess.PIPE, text=True)
    port = int(p.stdout.readline())
    return p, port


def timed(cmd, cwd, env=None):
    """Runs cmd under GNU time; returns (wall, user, sys, peak KiB)."""
    tfile = os.path.join(cwd, "time.txt")
    start = time.time()
    subprocess.run(["/usr/bin/time", "-o", tfile, "-f", "%U %S %M"] + cmd, cwd=cwd, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.time() - start
    user, system, peak = open(tfile).read().split()[-3:]
    return wall, float(user), float(system), int(peak)


def wexo_urls(path, root):
    internal, broken, total = set(), set(), 0
    with open(path, encoding="utf-8", errors="replace", newline="") as f:
        next(f)
        for line in f:
            cols = line.rstrip("\r\n").split("\t")
            if int(cols[1]) not in (-2, -3, -4):  # skipped, not checked
                total += 1
            url = cols[0].split("#")[0]
            if not url.startswith(root):
                continue
            internal.add(url)
            status = int(cols[1])
            if status > 0 and status != 200:
                broken.add(url)
    return internal, broken, total


def wget_urls(path, root):
    seen, broken, last = set(), set(), None
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("--") and "--  " in line:
                last = line.split("--  ", 1)[1].strip().split("#")[0]
                if last.startswith(root):
                    seen.add(last)
            elif "404 Not Found" in line and last and last.startswith(root):
                broken.add(last)
    return seen, broken


def run_site(name, root_url, start_url, work, wexo, results, settings=""):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env["WEXO_INI"] = os.path.join(work, "wexo.ini")
    with open(env["WEXO_INI"], "w") as f:
        f.write(settings)
    env["TMPDIR"] = work
    w = timed([wexo, "-url", start_url, "-export", "links.txt"], work, env)
    internal, broken, total = wexo_urls(os.path.join(work, "links.txt"), root_url)
    g = timed(["wget", "--spider", "-r", "-l", "inf", "-nd", "-e", "robots=off", "-o", "wget.log", start_url], work)
    gseen, gbroken = wget_urls(os.path.join(work, "wget.log"), root_url)
    results.append((name, "wexo", total) + w)
    results.append((name, "wget", len(gseen)) + g)
    only_wexo = sorted(internal - gseen)
    only_wget = sorted(gseen - internal)
    print(f"{name}: internal URLs wexo {len(internal)}, wget {len(gseen)}; broken internal wexo {len(broken)},"
          f" wget {len(gbroken)}")
    for u in only_wexo[:10]:
        print(f"  only wexo: {u}")
    for u in only_wget[:10]:
        print(f"  only wget: {u}")
    if set(broken) != set(gbroken):
        for u in sorted(set(broken) ^ set(gbroken))[:10]:
            print(f"  broken differs: {u}")


def run_hostile(wexo, work):
    """Peak memory of checks that would fill memory without the page limits."""
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "..", "tests", "peers", "http_server.py"),
                               "--lifetime", "3600"], stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline())
        big = os.path.join(work, "local", "big.html")
        os.makedirs(os.path.dirname(big))
        with open(big, "w") as f:
            f.write('<a href="other.html">other</a>')
        os.truncate(big, 10 << 30)  # a hole: no disk used
        with open(os.path.join(work, "local", "other.html"), "w") as f:
            f.write("<html></html>\n")
        cases = [("gzip bomb, 2 GiB line", f"http://127.0.0.1:{port}/hostile?set=bodies"),
                 ("10 GiB local file", "file://" + big)]
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env["WEXO_INI"] = os.path.join(work, "wexo.ini")
        env["TMPDIR"] = work
        print(f"{'case':28} {'wall s':>8} {'user s':>8} {'sys s':>7} {'peak MiB':>9}")
        for name, url in cases:
            wall, user, system, peak = timed([wexo, "-url", url, "-export", "links.txt"], work, env)
            print(f"{name:28} {wall:8.2f} {user:8.2f} {system:7.2f} {peak / 1024:9.1f}")
    finally:
        server.terminate()
        server.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wexo", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--pages", type=int, default=20000)
    ap.add_argument("--skip-docs", action="store_true")
    ap.add_argument("--micro", action="store_true")
    ap.add_argument("--hostile", action="store_true")
    args = ap.parse_args()
    args.wexo = os.path.abspath(args.wexo)
    args.build = os.path.abspath(args.build)
    work = tempfile.mkdtemp(prefix="wexo-bench-")
    if args.hostile:
        try:
            run_hostile(args.wexo, work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        return 0
    procs = []
    results = []
    try:
        ext_root = os.path.join(work, "external")
        os.makedirs(ext_root, exist_ok=True)
        ext, ext_port = serve(ext_root, "127.0.0.2")
        procs.append(ext)
        site = os.path.join(work, "site")
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "gen_site.py"), "--pages", str(args.pages), "--out",
                        site, "--external", f"http://127.0.0.2:{ext_port}"], check=True)
        main_srv, port = serve(site, "127.0.0.1", r"location ~ ^/r/(\d+)$ { return 301 /p$1.html; }")
        procs.append(main_srv)
        root = f"http://127.0.0.1:{port}/"
        w1 = os.path.join(work, "run-site")
        os.makedirs(w1)
        run_site(f"generated {args.pages} pages", root, root + "p0.html", w1, args.wexo, results)
        if not args.skip_docs and os.path.exists(DOCS):
            docs, dport = serve(DOCS, "127.0.0.1")
            procs.append(docs)
            droot = f"http://127.0.0.1:{dport}/"
            w2 = os.path.join(work, "run-docs")
            os.makedirs(w2)
            run_site("postgresql-doc-15", droot, droot + "index.html", w2, args.wexo, results)
            # The documentation links to many outside sites; without a network every lookup
            # waits for the resolver, so the internal pages alone are measured as well.
            w3 = os.path.join(work, "run-docs-internal")
            os.makedirs(w3)
            run_site("postgresql-doc-15 internal", droot, droot + "index.html", w3, args.wexo, results,
                     "[Options]\nCheckExternal=0\n")
        print()
        print(f"{'site':28} {'tool':5} {'URLs':>8} {'wall s':>8} {'URLs/s':>9} {'user s':>8} {'sys s':>7} {'peak MiB':>9}")
        for name, tool, urls, wall, user, system, peak in results:
            print(f"{name:28} {tool:5} {urls:8d} {wall:8.2f} {urls / wall:9.0f} {user:8.2f} {system:7.2f} "
                  f"{peak / 1024:9.1f}")
        for i in range(0, len(results), 2):
            a, b = results[i], results[i + 1]
            print(f"{a[0]}: wexo/wget URLs per second = {(a[2] / a[3]) / max(b[2] / b[3], 1e-9):.2f}")
        if args.micro:
            programs = sorted(glob.glob(os.path.join(args.build, "bench", "*_bench")))
            if not programs:
                print("no microbenchmarks were built (Google Benchmark missing?)")
            for program in programs:
                print()
                sys.stdout.flush()
                # The list view's benchmark draws: it gets a virtual display when there is none.
                lead = ["xvfb-run", "-a"] if program.endswith("listview_bench") and not os.environ.get("DISPLAY") else []
                subprocess.run(lead + [program, "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"])
    finally:
        for p in procs:
            p.terminate()
        for p in procs:
            p.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
