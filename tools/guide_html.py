"""Renders the French user guide (docs/guide.md) as one HTML file for the release zip: French,
UTF-8, its pictures inside the file, every heading with the id that a forge gives it, so that
the guide's own links work offline in any browser. tools/pack runs it.

    python3 guide_html.py GUIDE.md OUT.html

The same guide and the same Python-Markdown give the same bytes. A link that would lead nowhere
once the guide is out of the sources (a heading that does not exist, a file of the sources, a
picture that is missing) stops the rendering with its reason.
"""

import base64
import html
import os
import re
import sys

import markdown
from markdown.extensions.toc import TocExtension
from markdown.treeprocessors import Treeprocessor

PICTURE_TYPES = {".png": "image/png", ".jpg": "image/jpeg", ".jpeg": "image/jpeg",
                 ".svg": "image/svg+xml", ".gif": "image/gif"}
STYLE = """
body { font-family: "Segoe UI", system-ui, sans-serif; line-height: 1.5; margin: 0; color: #1b1b1b; }
main { max-width: 52em; margin: 0 auto; padding: 1em 1.5em 3em; }
h1, h2, h3, h4 { line-height: 1.25; }
h2 { border-bottom: 1px solid #ccc; padding-bottom: 0.2em; margin-top: 2em; }
code, pre { font-family: Consolas, "Cascadia Mono", monospace; background: #f3f3f3; }
code { padding: 0 0.2em; }
pre { padding: 0.6em 0.8em; overflow-x: auto; }
pre code { padding: 0; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: 0.3em 0.5em; vertical-align: top; text-align: left; }
blockquote { border-left: 4px solid #bbb; margin: 1em 0; padding: 0 1em; color: #333; }
img { max-width: 100%; }
"""


class Refused(Exception):
    pass


def heading_id(text, separator):
    """The id a forge gives a heading: lower case, punctuation dropped, spaces to hyphens,
    letters with accents kept."""
    return re.sub(r"[^\w\- ]", "", text.strip().lower()).replace(" ", separator)


class EmbedPictures(Treeprocessor):
    """Puts every picture inside the page, so that the one file is the whole guide."""

    def __init__(self, md, folder):
        super().__init__(md)
        self.folder = folder

    def run(self, root):
        for image in root.iter("img"):
            source = image.get("src", "")
            kind = PICTURE_TYPES.get(os.path.splitext(source)[1].lower())
            path = os.path.join(self.folder, source)
            if re.match(r"^[a-z]+:", source) or not kind or not os.path.isfile(path):
                raise Refused("the picture %r is not a picture beside the guide" % source)
            with open(path, "rb") as picture:
                encoded = base64.b64encode(picture.read()).decode("ascii")
            image.set("src", "data:%s;base64,%s" % (kind, encoded))


class CheckLinks(Treeprocessor):
    """Every link leads somewhere outside the sources, or to a heading of the guide."""

    def run(self, root):
        ids = {element.get("id") for element in root.iter() if element.get("id")}
        for link in root.iter("a"):
            target = link.get("href", "")
            if target.startswith("#"):
                if target[1:] not in ids:
                    raise Refused("the link %r names no heading of the guide" % target)
            elif not re.match(r"^(https?|mailto):", target):
                raise Refused("the link %r leads to a file of the sources, which the zip does "
                              "not hold" % target)


def render(source, folder):
    converter = markdown.Markdown(
        extensions=["tables", "fenced_code", TocExtension(slugify=heading_id)],
        output_format="html")
    # After the headings have their ids (the table of contents runs at 5), before the text is
    # unescaped (at 0).
    converter.treeprocessors.register(CheckLinks(converter), "check_links", 2)
    converter.treeprocessors.register(EmbedPictures(converter, folder), "embed_pictures", 1)
    body = converter.convert(source)
    title = re.search(r"^# (.+)$", source, re.M)
    return ("<!DOCTYPE html>\n<html lang=\"fr\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<title>%s</title>\n<style>%s</style>\n</head>\n<body>\n<main>\n%s\n</main>\n"
            "</body>\n</html>\n" % (html.escape(title.group(1) if title else "Kestrevel"),
                                    STYLE, body))


def main():
    guide, out = sys.argv[1:3]
    with open(guide, encoding="utf-8") as source:
        page = render(source.read(), os.path.dirname(os.path.abspath(guide)))
    with open(out, "w", encoding="utf-8", newline="\n") as written:
        written.write(page)


if __name__ == "__main__":
    try:
        main()
    except Refused as reason:
        sys.exit("[kestrevel] %s: %s" % (sys.argv[1], reason))
