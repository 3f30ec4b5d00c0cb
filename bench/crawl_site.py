#!/usr/bin/env python3
"""Writes the deterministic site the crawl benchmark mirrors.

  crawl_site.py mirror DIR   2,000 pages (8-20 KB, 10-30 page links each) in nested
                             directories, 300 images and 20 style sheets: 2,320 objects,
                             every one reachable from /index.html.
  crawl_site.py wide DIR     an index of 1,000 small pages with 100 links each to distinct
                             URLs under /x/ (the server answers those itself): 101,001
                             admitted URLs, all of them known after the first 1,001 pages.
  crawl_site.py million DIR  an index of 1,000 pages with 1,000 links each to distinct URLs
                             under /n/ that do not exist (the server answers 404): 1,001,001
                             admitted URLs on about 35 MB of pages.

The same arguments always give the same bytes (fixed seed, no clock).
"""
import os
import random
import sys

PAGES = 2000
IMAGES = 300
SHEETS = 20
SEED = 20261209

WIDE_PAGES = 1000
WIDE_LINKS = 100

MILLION_PAGES = 1000
MILLION_LINKS = 1000

WORDS = ("kelvra mirror crawl page link object store header frontier worker slot "
         "scheduler origin request response body text image sheet index table").split()


def page_path(i):
    # Nested directories: a/b/c, two to three levels, 10 pages per leaf directory.
    if i == 0:
        return "index.html"
    top, rest = divmod(i, 400)
    mid, leaf = divmod(rest, 40)
    if leaf < 20:
        return "d%d/s%d/p%d.html" % (top, mid, i)
    return "d%d/s%d/t%d/p%d.html" % (top, mid, leaf // 10, i)


def image_path(k):
    return "img/g%d/i%d.gif" % (k % 10, k)


def sheet_path(k):
    return "css/s%d.css" % k


def relative(src, dst):
    src_dir = os.path.dirname(src)
    return os.path.relpath(dst, src_dir or ".")


def write(root, path, data):
    full = os.path.join(root, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)


def filler(rng, size):
    out = []
    n = 0
    while n < size:
        line = "<p>" + " ".join(rng.choice(WORDS) for _ in range(12)) + "</p>\n"
        out.append(line)
        n += len(line)
    return "".join(out)


def mirror(root):
    rng = random.Random(SEED)
    for i in range(PAGES):
        src = page_path(i)
        # A spanning tree (2i+1, 2i+2) makes every page reachable; the rest are random.
        targets = [t for t in (2 * i + 1, 2 * i + 2) if t < PAGES]
        while len(targets) < rng.randint(10, 30):
            targets.append(rng.randrange(PAGES))
        images = [i % IMAGES] + [rng.randrange(IMAGES) for _ in range(rng.randint(1, 4))]
        head = ('<html><head><title>page %d</title>\n'
                '<link rel="stylesheet" href="%s">\n</head><body>\n'
                % (i, relative(src, sheet_path(i % SHEETS))))
        links = "".join('<a href="%s">page %d</a>\n' % (relative(src, page_path(t)), t)
                        for t in targets)
        imgs = "".join('<img src="%s" alt="">\n' % relative(src, image_path(k)) for k in images)
        body = head + links + imgs
        size = rng.randint(8 * 1024, 20 * 1024)
        body += filler(rng, size - len(body) - 16) + "</body></html>\n"
        write(root, src, body.encode())
    for k in range(IMAGES):
        size = rng.randint(1024, 12 * 1024)
        data = b"GIF89a" + bytes(rng.getrandbits(8) for _ in range(size - 6))
        write(root, image_path(k), data)
    for k in range(SHEETS):
        rules = "".join("p.c%d { color: #%06x; margin: %dpx }\n" % (n, rng.getrandbits(24), n)
                        for n in range(rng.randint(40, 120)))
        write(root, sheet_path(k), ("body { background: url(../%s) }\n" % image_path(k)
                                    + rules).encode())


def wide(root):
    for i in range(WIDE_PAGES):
        src = "w/p%d.html" % i
        links = "".join('<a href="../x/%d/%d.txt">x</a>\n' % (i, n) for n in range(WIDE_LINKS))
        write(root, src, ("<html><body>\n" + links + "</body></html>\n").encode())
    index = "".join('<a href="w/p%d.html">%d</a>\n' % (i, i) for i in range(WIDE_PAGES))
    write(root, "index.html", ("<html><body>\n" + index + "</body></html>\n").encode())


def million(root):
    # .html keeps every link clear of the default filter, which refuses archives and media.
    for i in range(MILLION_PAGES):
        links = "".join('<a href="../n/%d/%d.html">n</a>\n' % (i, n) for n in range(MILLION_LINKS))
        write(root, "m/p%d.html" % i, ("<html><body>\n" + links + "</body></html>\n").encode())
    index = "".join('<a href="m/p%d.html">%d</a>\n' % (i, i) for i in range(MILLION_PAGES))
    write(root, "index.html", ("<html><body>\n" + index + "</body></html>\n").encode())


SITES = {"mirror": mirror, "wide": wide, "million": million}


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in SITES:
        sys.stderr.write(__doc__)
        return 2
    SITES[sys.argv[1]](sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
