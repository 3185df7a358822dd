#!/usr/bin/env python3
"""Checks the web console's files as the build carries them:
  - every script parses (node --check), when node is installed;
  - the page is well nested and every file it names (script src, style
    sheet href) is one the program carries (the build's list of files);
  - the basemap is JSON.

  web_assets_check.py ASSET_LIST
ASSET_LIST is the build's list, one "address|type|file" a line. Exits 77
(skipped) with the reason when node is missing, after the other checks.
"""
import html.parser
import json
import shutil
import subprocess
import sys

VOID = {"meta", "link", "input", "br", "img", "hr"}


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.open, self.named, self.faults = [], [], []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "script" and "src" not in attrs:
            self.faults.append("a script without src (the page runs only its own files)")
        if tag == "style" or "style" in attrs or any(a.startswith("on") for a in attrs):
            self.faults.append("inline style or handler on <%s>" % tag)
        for key in ("src", "href"):
            if key in attrs and tag in ("script", "link"):
                self.named.append(attrs[key])
        if tag not in VOID:
            self.open.append(tag)

    def handle_endtag(self, tag):
        if not self.open or self.open[-1] != tag:
            self.faults.append("</%s> closes <%s>" % (tag, self.open[-1] if self.open else "nothing"))
        else:
            self.open.pop()


def main():
    entries = [line.strip().split("|") for line in open(sys.argv[1]) if line.strip()]
    files = {address: path for address, _, path in entries}
    faults = []
    page = Page()
    page.feed(open(files["/assets/index.html"], encoding="utf-8").read())
    faults += page.faults
    if page.open:
        faults.append("left open: " + ", ".join(page.open))
    faults += ["the page names %s, which is not carried" % n for n in page.named if n not in files]
    json.load(open(files["/assets/basemap/countries-50m.json"]))
    node = shutil.which("node")
    if node:
        for address, path in files.items():
            if address.endswith(".js"):
                run = subprocess.run([node, "--check", path], capture_output=True, text=True)
                if run.returncode != 0:
                    faults.append("%s: %s" % (address, run.stderr.strip()))
    for fault in faults:
        print("web assets: " + fault)
    if faults:
        return 1
    if not node:
        print("SKIPPED: node is not installed (scripts/setup installs nodejs); the scripts were not parsed")
        return 77
    print("web assets: %d files, page and scripts well formed" % len(files))
    return 0


if __name__ == "__main__":
    sys.exit(main())
