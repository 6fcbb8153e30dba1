#!/usr/bin/env python3
"""guide-html.py -- the user guide (docs/*.md, docs/images/) as HTML pages for the Windows zip.

Usage: guide-html.py DOCS_DIR OUT_DIR [LINK=TARGET...]

Converts GUIDE.md (as index.html) and the pages it names with cmark-gfm (tables on), rewrites links
between pages from .md to .html, maps the links given as LINK=TARGET (e.g.
../droprun/DROPRUN.example.lst=../DROPRUN.lst), turns other links that leave the guide into plain text,
and copies the images."""
import html
import os
import re
import shutil
import subprocess
import sys

PAGES = ["GUIDE.md", "SORVIK.md", "TAVIRO.md", "VARKON.md", "QUILBAN.md", "MALETO.md", "DROPRUN.md",
         "JOURNEYS.md", "BAD-INPUT.md"]

STYLE = """body { font-family: "Segoe UI", "Meiryo", sans-serif; max-width: 60em; margin: 1em auto; padding: 0 1em;
  line-height: 1.45; color: #222; }
nav { font-size: 90%; border-bottom: 1px solid #ccc; padding-bottom: .4em; margin-bottom: 1em; }
table { border-collapse: collapse; margin: .6em 0; }
th, td { border: 1px solid #bbb; padding: .25em .5em; vertical-align: top; text-align: left; }
th { background: #eee; }
code, pre { font-family: Consolas, "MS Gothic", monospace; background: #f4f4f4; }
pre { padding: .5em; overflow-x: auto; }
img { max-width: 100%; border: 1px solid #ccc; }"""


def convert(source, mapping):
    body = subprocess.run(["cmark-gfm", "-e", "table", "-e", "autolink", "-e", "strikethrough"],
                          input=source, capture_output=True, text=True, check=True).stdout

    def link(m):
        target, text = m.group(1), m.group(2)
        plain_target = html.unescape(target)
        if plain_target in mapping:
            return f'<a href="{html.escape(mapping[plain_target])}">{text}</a>'
        page = re.match(r"^([A-Za-z0-9_-]+)\.md(#.*)?$", plain_target)
        if page:
            name = "index" if page.group(1) == "GUIDE" else page.group(1)
            return f'<a href="{name}.html{page.group(2) or ""}">{text}</a>'
        if re.match(r"^(https?:|mailto:|#|images/)", plain_target):
            return m.group(0)
        return text  # a file of the source tree that the zip does not hold

    body = re.sub(r'<a href="([^"]*)">(.*?)</a>', link, body, flags=re.S)

    # Headings get the ids that "#anchor" links name, made as the usual Markdown hosts make them.
    seen = {}

    def heading(m):
        text = re.sub(r"<[^>]+>", "", m.group(3))
        slug = re.sub(r"[^\w\- ]", "", html.unescape(text).strip().lower()).replace(" ", "-")
        n = seen.get(slug, 0)
        seen[slug] = n + 1
        if n:
            slug += f"-{n}"
        return f'<h{m.group(1)} id="{html.escape(slug)}"{m.group(2)}>{m.group(3)}</h{m.group(1)}>'

    return re.sub(r"<h([1-6])([^>]*)>(.*?)</h\1>", heading, body, flags=re.S)


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    docs, out = sys.argv[1], sys.argv[2]
    mapping = dict(arg.split("=", 1) for arg in sys.argv[3:])
    if not shutil.which("cmark-gfm"):
        print("guide-html.py: cmark-gfm is missing (apt-get install cmark-gfm)", file=sys.stderr)
        return 1
    os.makedirs(out, exist_ok=True)
    for page in PAGES:
        path = os.path.join(docs, page)
        if not os.path.exists(path):
            continue
        source = open(path, encoding="utf-8").read()
        title = re.search(r"^# (.*)$", source, re.M)
        title = title.group(1) if title else page[:-3]
        name = "index" if page == "GUIDE.md" else page[:-3]
        nav = '' if name == "index" else '<nav><a href="index.html">PS2 save tools: user guide</a></nav>\n'
        with open(os.path.join(out, name + ".html"), "w", encoding="utf-8", newline="\r\n") as f:
            f.write(f'<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
                    f'<title>{html.escape(title)}</title>\n<style>\n{STYLE}\n</style>\n</head>\n<body>\n'
                    f'{nav}{convert(source, mapping)}</body>\n</html>\n')
    images = os.path.join(docs, "images")
    if os.path.isdir(images):
        shutil.copytree(images, os.path.join(out, "images"), dirs_exist_ok=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
