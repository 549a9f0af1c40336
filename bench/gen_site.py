#!/usr/bin/python3
"""Generates a static site for the crawl benchmark.

N pages of about 4 KB, each with about 20 links: other pages, a shared style sheet, images,
about 1% links to pages that do not exist, a few links through redirects (/r/<n>, answered by
nginx with 301), and links to a second server that stands for external sites.
With --link-heavy the pages are those of a large documentation set instead: 10-50 KB with
100-300 links each, to other pages, to their sections and to the style sheet.
"""
import argparse
import os
import random

FIXED_DATE = 1767225600  # 2026-01-01 00:00:00 UTC


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pages", type=int, default=20000)
    ap.add_argument("--out", required=True)
    ap.add_argument("--external", required=True, help="base URL of the external server")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--link-heavy", action="store_true", help="pages of 10-50 KB with 100-300 links each")
    args = ap.parse_args()
    rnd = random.Random(args.seed)
    n = args.pages
    os.makedirs(os.path.join(args.out, "img"), exist_ok=True)
    with open(os.path.join(args.out, "style.css"), "w") as f:
        f.write("body { font-family: sans-serif; background: url(img/bg.png); }\n")
    png = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                        "1f15c4890000000d49444154789c6360000002000154a24f5d0000000049454e44ae426082")
    for k in range(50):
        with open(os.path.join(args.out, "img", f"i{k}.png"), "wb") as f:
            f.write(png)
    with open(os.path.join(args.out, "img", "bg.png"), "wb") as f:
        f.write(png)
    filler = ("Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
              "incididunt ut labore et dolore magna aliqua. ")
    for i in range(n if not args.link_heavy else 0):
        links = [f"p{(i + 1) % n}.html"]
        links += [f"p{rnd.randrange(n)}.html" for _ in range(12)]
        if rnd.random() < 0.2:
            links.append(f"r/{rnd.randrange(n)}")
        if rnd.random() < 0.2:
            links.append(f"missing{rnd.randrange(n // 100 + 1)}.html")
        links.append(f"{args.external}/e{rnd.randrange(200)}.html")
        body = [f'<a href="{h}">link {j}</a>' for j, h in enumerate(links)]
        imgs = [f'<img src="img/i{rnd.randrange(50)}.png" alt="picture {j}">' for j in range(4)]
        text = filler * 20
        html = (f"<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Page {i}</title>\n"
                f"<link rel=\"stylesheet\" href=\"style.css\">\n</head>\n<body>\n<h1>Page {i}</h1>\n"
                f"<p>{text}</p>\n<ul>\n" + "\n".join(f"<li>{b}</li>" for b in body) + "\n</ul>\n" +
                "\n".join(imgs) + "\n</body>\n</html>\n")
        with open(os.path.join(args.out, f"p{i}.html"), "w") as f:
            f.write(html)
    for i in range(n if args.link_heavy else 0):
        count = rnd.randrange(100, 301)
        size = rnd.randrange(10000, 50001)
        words = filler * (max(0, size - 90 * count) // len(filler) + 1)
        parts = []
        for j in range(count):
            target = f"p{rnd.randrange(n)}.html"
            if rnd.random() < 0.3:
                target += f"#s{rnd.randrange(20)}"
            at = (j * len(words)) // count
            parts.append(f'<p id="s{j % 20}">{words[at:at + (len(words) // count)]}'
                         f'<a href="{target}" class="xref" title="Section {j}">Section {j}</a></p>')
        html = (f"<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>Chapter {i}</title>\n"
                f"<link rel=\"stylesheet\" href=\"style.css\">\n</head>\n<body>\n<h1>Chapter {i}</h1>\n" +
                "\n".join(parts) + "\n</body>\n</html>\n")
        with open(os.path.join(args.out, f"p{i}.html"), "w") as f:
            f.write(html)
    ext = os.path.join(args.out, "..", "external")
    os.makedirs(ext, exist_ok=True)
    for k in range(200):
        with open(os.path.join(ext, f"e{k}.html"), "w") as f:
            f.write(f"<html><head><title>External {k}</title></head><body>e{k}</body></html>\n")
    # One fixed date for every file, so the exports of two runs can be compared byte by byte.
    for folder in (args.out, os.path.join(args.out, "img"), ext):
        for name in os.listdir(folder):
            os.utime(os.path.join(folder, name), (FIXED_DATE, FIXED_DATE))


if __name__ == "__main__":
    main()
