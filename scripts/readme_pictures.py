#!/usr/bin/python3
"""Copies the four wizard pages of the last end-to-end run into docs/ for
the README: build/win32/app/screenshots/first-run-page*.png, as saved by
the first-run install scenario, and the same pages at 150 % (dpi144-page*,
from the 144-dpi run) as docs/wizard-150-page*.png (run scripts/test.sh
first).

usage: scripts/readme_pictures.py [SCREENSHOT_FOLDER]
"""
import os
import sys

from PIL import Image

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
PAGES = ("page0-agreement", "page1-directory", "page2-installing", "page3-finished")


def main():
    shots = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "win32", "app", "screenshots")
    docs = os.path.join(ROOT, "docs")
    os.makedirs(docs, exist_ok=True)
    for shot, name in (("first-run", "wizard"), ("dpi144", "wizard-150")):
        for page in PAGES:
            source = os.path.join(shots, f"{shot}-{page}.png")
            if not os.path.isfile(source):
                sys.exit(f"{source} missing: run the end-to-end tests first (scripts/test.sh)")
            with Image.open(source) as img:
                # A palette of 256 colours keeps the pictures small in the history.
                picture = img.convert("RGB").quantize(256, method=Image.Quantize.MEDIANCUT)
                picture.save(os.path.join(docs, f"{name}-{page}.png"), optimize=True)
            print(f"docs/{name}-{page}.png")


main()
