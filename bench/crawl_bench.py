#!/usr/bin/python3
"""Runs wexo (without and with its window) and wget over the same sites and prints speed and memory
side by side, then the tag scan's throughput on real pages and the link list's figures."""
import argparse
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(HERE, "..", "tests", "peers", "nginx_peer.py")
# Documentation trees served as they are: one of ordinary pages (about 14 KB on average) and
# one of large pages (about 95 KB on average).
# The date of the generated files, so the exports of two runs compare byte by byte.
FIXED_DATE = 1767225600  # 2026-01-01 00:00:00 UTC
DOCS = [("postgresql-doc-15", "/usr/share/doc/postgresql-doc-15/html"),
        ("python3.11-doc", "/usr/share/doc/python3.11/html")]


def serve(root, host, extra=""):
    p = subprocess.Popen(["/usr/bin/python3", PEER, "--root", root, "--host", host, "--lifetime", "7200",
                          "--extra", extra], stdout=subprocess.PIPE, text=True)
    port = int(p.stdout.readline())
    return p, port


def timed(cmd, cwd, env=None, lead=()):
    """Runs cmd under GNU time (inside lead, e.g. xvfb-run); returns (wall, user, sys, peak KiB) of cmd."""
    tfile = os.path.join(cwd, "time.txt")
    subprocess.run(list(lead) + ["/usr/bin/time", "-o", tfile, "-f", "%e %U %S %M"] + cmd, cwd=cwd, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall, user, system, peak = open(tfile).read().split()[-4:]
    return float(wall), float(user), float(system), int(peak)


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


def dump_export(src, dst):
    """The export in a form that does not depend on which page happened to be parsed first:
    rows sorted, the servers' ports replaced, the duration cleared, and the title cleared where
    a link's text gave it (every row but a parsed page's)."""
    with open(src, "rb") as f:
        lines = f.read().replace(b"\r\n", b"\n").split(b"\n")
    header, rows = lines[0], [r for r in lines[1:] if r]
    names = header.split(b"\t")
    status, kind, title = names.index(b"Status-Code"), names.index(b"Type"), names.index(b"Title")
    duration, out_links = names.index(b"Duration"), names.index(b"Links Out")
    out = []
    for row in rows:
        cols = row.split(b"\t")
        if len(cols) == len(names):
            cols[duration] = b""
            if cols[status] != b"200" or cols[kind] != b"text/html" or not cols[out_links]:
                cols[title] = b""
        out.append(re.sub(rb"(127\.0\.0\.\d):\d+", rb"\1:PORT", b"\t".join(cols)))
    with open(dst, "wb") as f:
        f.write(header + b"\n" + b"\n".join(sorted(out)) + b"\n")


def wexo_env(work, settings, window):
    env = dict(os.environ)
    if not window:
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
    env["WEXO_INI"] = os.path.join(work, "wexo.ini")
    with open(env["WEXO_INI"], "w") as f:
        f.write(settings)
    env["TMPDIR"] = work
    return env


def run_wexo(wexo, start_url, work, settings, window):
    """One check; the windowed one on a virtual display of its own, the list view shown."""
    lead = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24"] if window else []
    return timed([wexo, "-url", start_url, "-export", "links.txt"], work, wexo_env(work, settings, window), lead)


def run_site(name, root_url, start_url, work, args, results, settings="", with_wget=True):
    modes = [("wexo", False)] + ([("wexo-win", True)] if args.window else [])
    runs = {m: [] for m, _ in modes}
    runs["wget"] = []
    for r in range(args.runs):
        for mode, window in modes:
            runs[mode].append(run_wexo(args.wexo, start_url, work, settings, window))
            if r == 0:
                internal, broken, total = wexo_urls(os.path.join(work, "links.txt"), root_url)
                runs[mode + ":urls"] = total
                runs[mode + ":sets"] = (internal, broken)
                if args.dump:
                    slug = name.replace(" ", "-")
                    dump_export(os.path.join(work, "links.txt"), os.path.join(args.dump, f"{slug}.{mode}.txt"))
        if with_wget:
            runs["wget"].append(timed(["wget", "--spider", "-r", "-l", "inf", "-nd", "-e", "robots=off", "-o",
                                       "wget.log", start_url], work))
    for mode, _ in modes:
        results.append((name, mode, runs[mode + ":urls"], median_run(runs[mode])))
    internal, broken = runs["wexo:sets"]
    if with_wget:
        gseen, gbroken = wget_urls(os.path.join(work, "wget.log"), root_url)
        results.append((name, "wget", len(gseen), median_run(runs["wget"])))
        print(f"{name}: internal URLs wexo {len(internal)}, wget {len(gseen)}; broken internal wexo {len(broken)},"
              f" wget {len(gbroken)}")
        for u in sorted(internal - gseen)[:10]:
            print(f"  only wexo: {u}")
        for u in sorted(gseen - internal)[:10]:
            print(f"  only wget: {u}")
        for u in sorted(set(broken) ^ set(gbroken))[:10]:
            print(f"  broken differs: {u}")
    sys.stdout.flush()


def write_link_page(path, links):
    """One page of `links` distinct links, all answered by one small picture (nginx maps /l/)."""
    with open(path, "w") as f:
        f.write("<!DOCTYPE html>\n<html>\n<head>\n<title>Many links</title>\n</head>\n<body>\n")
        for start in range(0, links, 10000):
            f.write("".join(f'<a href="l/{k}.png">{k}</a>\n' for k in range(start, min(start + 10000, links))))
        f.write("</body>\n</html>\n")


def run_link_pages(args, work, procs, site_seconds_per_url):
    """Pages of very many links, each checked once: the time must grow with the links."""
    sizes = [int(n) for n in args.link_pages.split(",") if n.strip() and int(n) > 0]
    if not sizes:
        return
    folder = os.path.join(work, "links")
    os.makedirs(os.path.join(folder, "img"))
    with open(os.path.join(folder, "img", "dot.png"), "wb") as f:
        f.write(bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                              "1f15c4890000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082"))
    os.utime(os.path.join(folder, "img", "dot.png"), (FIXED_DATE, FIXED_DATE))
    srv, port = serve(folder, "127.0.0.1", "location /l/ { try_files /img/dot.png =404; }")
    procs.append(srv)
    print(f"\n{'page of links':16} {'URLs':>9} {'wall s':>8} {'us/URL':>8} {'peak MiB':>9} {'time ratio':>11}"
          f" {'link ratio':>11}")
    last = None
    for links in sizes:
        page = f"links{links}.html"
        write_link_page(os.path.join(folder, page), links)
        os.utime(os.path.join(folder, page), (FIXED_DATE, FIXED_DATE))
        w = os.path.join(work, f"run-links{links}")
        os.makedirs(w)
        wall, user, system, peak = run_wexo(args.wexo, f"http://127.0.0.1:{port}/{page}", w, "", False)
        _, _, total = wexo_urls(os.path.join(w, "links.txt"), f"http://127.0.0.1:{port}/")
        if args.dump:
            dump_export(os.path.join(w, "links.txt"), os.path.join(args.dump, f"links{links}.wexo.txt"))
        ratios = f"{wall / last[1]:11.2f} {links / last[0]:11.2f}" if last else ""
        print(f"{links:16d} {total:9d} {wall:8.2f} {wall / max(total, 1) * 1e6:8.1f} {peak / 1024:9.1f} {ratios}")
        sys.stdout.flush()
        os.remove(os.path.join(folder, page))
        shutil.rmtree(w, ignore_errors=True)
        last = (links, wall)
        if links == sizes[-1] and site_seconds_per_url:
            print(f"per URL, the page of {links} links against the generated site:"
                  f" {wall / max(total, 1) / site_seconds_per_url:.2f}x")


def median_run(runs):
    """The run of median wall time."""
    return sorted(runs)[len(runs) // 2]


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
        print(f"{'case':28} {'wall s':>8} {'user s':>8} {'sys s':>7} {'peak MiB':>9}")
        for name, url in cases:
            wall, user, system, peak = run_wexo(wexo, url, work, "", False)
            print(f"{name:28} {wall:8.2f} {user:8.2f} {system:7.2f} {peak / 1024:9.1f}")
    finally:
        server.terminate()
        server.wait()


def google_benchmark(program, bench_filter, window=False, repetitions=3):
    """Median aggregates of a Google Benchmark program as {name: entry}."""
    lead = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24"] if window else []
    out = subprocess.run(lead + [program, f"--benchmark_filter={bench_filter}", "--benchmark_format=json",
                                 f"--benchmark_repetitions={repetitions}"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    if out.returncode != 0:
        return {}
    entries = json.loads(out.stdout).get("benchmarks", [])
    return {e["run_name"]: e for e in entries if e.get("aggregate_name") == "median"}


def print_scan_and_list(build):
    scan = os.path.join(build, "bench", "pagescan_bench")
    if os.path.exists(scan):
        print("\nHTML tag scan, one core, real pages (links already in the table, as on most pages of a crawl):")
        for name, e in google_benchmark(scan, "BM_ScanHtml/known/(postgres|apache|python)").items():
            print(f"  {name:50} {e['bytes_per_second'] / 1e6:8.0f} MB/s")
    listview = os.path.join(build, "bench", "listview_bench")
    if os.path.exists(listview):
        for name, e in google_benchmark(listview, "BM_ScrollToEndAndDraw", window=True).items():
            print(f"link list of 200,000 rows, scroll to the end and draw: {e['real_time']:.1f} {e['time_unit']}")


def print_results(results):
    print()
    print(f"{'site':28} {'tool':8} {'URLs':>8} {'wall s':>8} {'URLs/s':>9} {'user s':>8} {'sys s':>7} {'peak MiB':>9}")
    for name, tool, urls, (wall, user, system, peak) in results:
        print(f"{name:28} {tool:8} {urls:8d} {wall:8.2f} {urls / max(wall, 1e-3):9.0f} {user:8.2f} {system:7.2f} "
              f"{peak / 1024:9.1f}")
    rates = {(name, tool): urls / max(run[0], 1e-3) for name, tool, urls, run in results}
    for name in dict.fromkeys(name for name, _, _, _ in results):
        for tool in ("wexo", "wexo-win"):
            if (name, tool) in rates and (name, "wget") in rates:
                print(f"{name}: {tool}/wget URLs per second = {rates[(name, tool)] / rates[(name, 'wget')]:.2f}")
        if (name, "wexo-win") in rates and (name, "wget") not in rates:
            print(f"{name}: windowed/headless URLs per second = "
                  f"{rates[(name, 'wexo-win')] / rates[(name, 'wexo')]:.2f}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--wexo", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--pages", type=int, default=20000)
    ap.add_argument("--runs", type=int, default=3, help="runs of each crawl; the median is shown")
    ap.add_argument("--no-window", dest="window", action="store_false", help="skip the windowed program")
    ap.add_argument("--big-pages", type=int, default=168000,
                    help="pages of the generated site checked with and without the list view (about 200,000"
                         " URLs); 0 skips it")
    ap.add_argument("--link-heavy", type=int, default=10000,
                    help="pages of a generated documentation set of 100-300 links a page; 0 skips it")
    ap.add_argument("--skip-docs", action="store_true")
    ap.add_argument("--external-docs", action="store_true",
                    help="also check the PostgreSQL documentation with its external links")
    ap.add_argument("--dump", help="folder for the exports of the checks, in a timing-free form")
    ap.add_argument("--micro", action="store_true")
    ap.add_argument("--link-pages", default="100000,300000,1000000",
                    help="links on each page of the many-links series, comma-separated; 0 skips it")
    ap.add_argument("--hostile", action="store_true")
    args = ap.parse_args()
    args.wexo = os.path.abspath(args.wexo)
    args.build = os.path.abspath(args.build)
    if args.dump:
        args.dump = os.path.abspath(args.dump)
        os.makedirs(args.dump, exist_ok=True)
    work = tempfile.mkdtemp(prefix="wexo-bench-")
    if args.hostile:
        try:
            run_hostile(args.wexo, work)
        finally:
            shutil.rmtree(work, ignore_errors=True)
        return 0
    procs = []
    results = []

    def generated(pages, host_dir, link_heavy=False):
        ext_root = os.path.join(work, host_dir, "external")
        os.makedirs(ext_root, exist_ok=True)
        ext, ext_port = serve(ext_root, "127.0.0.2")
        procs.append(ext)
        site = os.path.join(work, host_dir, "site")
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "gen_site.py"), "--pages", str(pages), "--out",
                        site, "--external", f"http://127.0.0.2:{ext_port}"] + (["--link-heavy"] if link_heavy else []),
                       check=True)
        srv, port = serve(site, "127.0.0.1", r"location ~ ^/r/(\d+)$ { return 301 /p$1.html; }")
        procs.append(srv)
        return f"http://127.0.0.1:{port}/", port, site

    try:
        root, port, _ = generated(args.pages, "gen")
        w1 = os.path.join(work, "run-site")
        os.makedirs(w1)
        run_site(f"generated {args.pages} pages", root, root + "p0.html", w1, args, results)
        site = results[0]
        site_seconds_per_url = site[3][0] / max(site[2], 1)
        if args.link_heavy:
            hroot, _, _ = generated(args.link_heavy, "heavy", link_heavy=True)
            w5 = os.path.join(work, "run-heavy")
            os.makedirs(w5)
            run_site(f"link-heavy {args.link_heavy} pages", hroot, hroot + "p0.html", w5, args, results)
            shutil.rmtree(os.path.join(work, "heavy", "site"), ignore_errors=True)
        for name, folder in ([] if args.skip_docs else DOCS):
            if not os.path.exists(folder):
                print(f"{name}: not installed ({folder})")
                continue
            docs, dport = serve(folder, "127.0.0.1")
            procs.append(docs)
            droot = f"http://127.0.0.1:{dport}/"
            w2 = os.path.join(work, "run-" + name)
            os.makedirs(w2)
            # The documentation links to many outside sites; without a network every lookup
            # waits for the resolver, so the internal pages alone are measured.
            run_site(f"{name} internal", droot, droot + "index.html", w2, args, results,
                     "[Options]\nCheckExternal=0\n")
            if args.external_docs and name.startswith("postgresql"):
                w3 = os.path.join(work, "run-external-" + name)
                os.makedirs(w3)
                run_site(name, droot, droot + "index.html", w3, args, results)
        if args.big_pages and args.window:
            shutil.rmtree(os.path.join(work, "gen", "site"), ignore_errors=True)
            broot, bport, _ = generated(args.big_pages, "big")
            w4 = os.path.join(work, "run-big")
            os.makedirs(w4)
            big = argparse.Namespace(**vars(args))
            big.runs = 1
            run_site(f"generated {args.big_pages} pages", broot, broot + "p0.html", w4, big, results,
                     with_wget=False)
        print_results(results)
        run_link_pages(args, work, procs, site_seconds_per_url)
        print_scan_and_list(args.build)
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
