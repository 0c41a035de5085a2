"""The rules a packed release must meet, whatever the values of the day: what the zip holds,
the licence and notices, the guide's page, and the manifests that the package repositories take.
release_test.sh runs it on the folders tools/pack made.

    release_rules.py SOURCES PROGRAM LINK_MAP SCHEMAS RUN...
RUN is "FOLDER|ZIP_URL|HOMEPAGE|LICENSE_URL|RELEASE_DATE", the options of that packing (empty
when not given). Fails with the broken rule.
"""

import hashlib
import html.parser
import json
import os
import re
import sys
import zipfile

import yaml
from jsonschema import Draft7Validator

sources, program, link_map, schemas = sys.argv[1:5]
runs = [run.split("|") for run in sys.argv[5:]]
version = re.search(r"^project\(Kestrevel VERSION ([0-9.]+)", open(
    os.path.join(sources, "CMakeLists.txt")).read(), re.M).group(1)
text = lambda *path: open(os.path.join(sources, *path), encoding="utf-8").read()
licence = text("LICENSE")
copyright_line = re.search(r"^Copyright \(c\) .+$", licence, re.M).group(0)


def rule(holds, *what):
    if not holds:
        sys.exit("FAILED: " + " ".join(str(part) for part in what))


# The licence: MIT, named by the README; the program's version information, the licence and
# the manifests give one copyright.
rule(licence.startswith("MIT License\n"), "LICENSE is not the MIT licence")
rule(re.search(r"\bMIT\b", text("README.md")), "the README does not name the licence")
image = open(program, "rb").read()
start = image.index("LegalCopyright\0".encode("utf-16-le")) + 30
start += -start % 4
legal = image[start:start + 512].decode("utf-16-le", "replace").split("\0")[0]
rule(legal == copyright_line, "the program's copyright", repr(legal), "is not LICENSE's")

# Every file of the compiler's runtime that the linker put into the program (the project's own
# are named relative to the build) is named by the notices, which give its licence.
notices = text("docs", "THIRD-PARTY-NOTICES.txt")
# (An archive's member that was taken is listed as "archive(member)"; an object file given
# whole is loaded. The other archives were only searched.)
linked = set(re.findall(r"^(/\S+?\.a)\(|^LOAD (/\S+?\.o)$", open(link_map).read(), re.M))
linked = {archive or whole for archive, whole in linked}
rule(len(linked) > 3, "the link map names no library of the compiler's")
for path in sorted(linked):
    rule(os.path.basename(path) in notices, "linked into the program, but not in the notices:",
         os.path.normpath(path))


class Page(html.parser.HTMLParser):
    """What the guide's page is made of: its language, headings, ids, links and sources."""

    def __init__(self):
        super().__init__()
        self.lang, self.charset, self.ids, self.links, self.sources, self.headings = \
            None, None, set(), [], [], 0

    def handle_starttag(self, tag, attributes):
        attributes = dict(attributes)
        if tag == "html":
            self.lang = attributes.get("lang")
        if tag == "meta" and "charset" in attributes:
            self.charset = attributes["charset"]
        if "id" in attributes:
            self.ids.add(attributes["id"])
        if tag in ("h1", "h2", "h3", "h4", "h5", "h6"):
            self.headings += 1
        if tag == "a" and "href" in attributes:
            self.links.append(attributes["href"])
        if tag in ("img", "script", "link", "iframe", "object"):
            self.sources.append(attributes.get("src") or attributes.get("href") or "")


guide = text("docs", "guide.md")
for folder, zip_url, homepage, license_url, release_date in runs:
    where = lambda *path: os.path.join(folder, *path)
    zip_name = "Kestrevel-%s-x64.zip" % version
    packed = zipfile.ZipFile(where(zip_name))
    members = [entry.filename for entry in packed.infolist()]
    read = lambda name: packed.read(name)

    # The zip: the program, then what a user reads without the sources.
    rule(members == ["Kestrevel.exe", "LISEZMOI.txt", "guide.html", "LICENSE.txt",
                     "THIRD-PARTY-NOTICES.txt"], folder, "the zip holds", members)
    rule(read("LICENSE.txt") == licence.replace("\n", "\r\n").encode(), "the zip's licence")
    rule(read("THIRD-PARTY-NOTICES.txt") == notices.replace("\n", "\r\n").encode(),
         "the zip's notices")
    readme = read("LISEZMOI.txt").decode("utf-8-sig")
    rule("guide.html" in readme, "LISEZMOI.txt does not name guide.html")
    rule(("Page d'accueil de Kestrevel : %s\r\n" % homepage in readme) == bool(homepage) and
         ("Page d'accueil" in readme) == bool(homepage), folder, "LISEZMOI.txt and the home page")

    # The guide's page: French, UTF-8, every heading, its pictures inside, its links working,
    # nothing fetched from anywhere.
    page = Page()
    page.feed(read("guide.html").decode("utf-8"))
    rule((page.lang, page.charset and page.charset.lower()) == ("fr", "utf-8"),
         "guide.html is not French UTF-8:", page.lang, page.charset)
    rule(page.headings == len(re.findall(r"^#{1,6} ", re.sub(r"```.*?```", "", guide, flags=re.S),
                                          re.M)), "guide.html lacks headings of the guide")
    pictures = len(re.findall(r"!\[[^\]]*\]\(", guide))
    rule(len(page.sources) == pictures and all(s.startswith("data:image/") for s in page.sources),
         "guide.html fetches something or lacks a picture:", [s[:40] for s in page.sources])
    for link in page.links:
        rule(link[1:] in page.ids if link.startswith("#") else re.match(r"https?:|mailto:", link),
             "a link of guide.html leads nowhere:", link)

    # The manifests, when the zip's address was given.
    manifests = where("manifests")
    rule(os.path.exists(manifests) == bool(zip_url), folder, "manifests without an address")
    if not zip_url:
        continue
    digest = hashlib.sha256(open(where(zip_name), "rb").read()).hexdigest()
    rule("%s  %s" % (digest, zip_name) in open(where("SHA256SUMS")).read(),
         "SHA256SUMS does not name the zip by its hash")
    source_date = re.search(r"^Source-Date: (\d{4}-\d\d-\d\d)T", open(where("BUILDINFO")).read(),
                            re.M).group(1)

    def valid(manifest, kind, declared, path):
        """The official schema of the declared version, and only the keys it names."""
        schema_path = os.path.join(schemas, kind % declared if declared else kind)
        rule(os.path.exists(schema_path), path, "declares a version without a schema here:",
             declared)
        schema = json.load(open(schema_path, encoding="utf-8"))
        errors = [error.message for error in Draft7Validator(
            schema, format_checker=Draft7Validator.FORMAT_CHECKER).iter_errors(manifest)]
        rule(not errors, path, "fails its schema:", errors)

        def known(value, part):
            while "$ref" in part:
                part = schema["definitions"][part["$ref"].rsplit("/", 1)[1]]
            if isinstance(value, dict) and "properties" in part:
                rule(set(value) <= set(part["properties"]), path, "keys no schema names:",
                     sorted(set(value) - set(part["properties"])))
                for key, inner in value.items():
                    known(inner, part["properties"][key])
            elif isinstance(value, list) and isinstance(part.get("items"), dict):
                for inner in value:
                    known(inner, part["items"])
        known(manifest, schema)

    # winget: the community repository's layout, one version of the schema, at least the one
    # its reviewers ask for, a French default locale with an English one beside it.
    loaded = {}
    for base, _, files in os.walk(os.path.join(manifests, "winget")):
        for name in files:
            path = os.path.join(base, name)
            manifest = yaml.safe_load(open(path, encoding="utf-8"))
            kind = "manifest.%s.%%s.json" % manifest["ManifestType"]
            valid(manifest, os.path.join("winget", kind), manifest["ManifestVersion"], path)
            identifier = manifest["PackageIdentifier"]
            suffix = {"version": "", "installer": ".installer"}.get(
                manifest["ManifestType"], ".locale." + manifest.get("PackageLocale", ""))
            rule(os.path.relpath(path, manifests) == os.path.join(
                "winget", "manifests", identifier[0].lower(), *identifier.split("."),
                manifest["PackageVersion"], identifier + suffix + ".yaml"),
                path, "is not where the repository takes it")
            rule(manifest["PackageVersion"] == version, path, "names another version")
            loaded.setdefault(manifest["ManifestType"], []).append(manifest)
    everything = sum(loaded.values(), [])
    rule(len({m["ManifestVersion"] for m in everything}) == 1 and tuple(
        map(int, everything[0]["ManifestVersion"].split("."))) >= (1, 12, 0),
        "the winget files declare", {m["ManifestVersion"] for m in everything})
    rule(len({m["PackageIdentifier"] for m in everything}) == 1, "several package identifiers")
    (head,), (installer,), (default,) = loaded["version"], loaded["installer"], \
        loaded["defaultLocale"]
    locales = [default] + loaded.get("locale", [])
    rule(head["DefaultLocale"] == default["PackageLocale"] == "fr-FR" and
         "en-US" in [m["PackageLocale"] for m in locales], "the locales are not fr-FR and en-US")
    (alias,) = [item["PortableCommandAlias"] for item in installer["NestedInstallerFiles"]
                if item["RelativeFilePath"] == members[0]]
    for locale in locales:
        rule(locale["License"] == "MIT" and locale.get("Copyright") == copyright_line and
             locale.get("LicenseUrl") == (license_url or None) and
             locale.get("PackageUrl") == (homepage or None), "the winget locale",
             locale["PackageLocale"], "does not name the licence, copyright and addresses given")
        # winget makes no Start-menu entry for a portable program: the notes say how to start.
        rule(alias in locale.get("InstallationNotes", ""), "the winget locale",
             locale["PackageLocale"], "does not say how to start the program")
    rule((installer["InstallerType"], installer["NestedInstallerType"]) == ("zip", "portable"),
         "winget does not take the program from the zip")
    rule([(i["Architecture"], i["InstallerUrl"], i["InstallerSha256"].lower())
          for i in installer["Installers"]] == [("x64", zip_url, digest)],
         "the winget installer names another zip:", installer["Installers"])
    rule(installer["ReleaseDate"] == (release_date or source_date), "the winget release date",
         installer["ReleaseDate"], "is neither the day given nor the commit's")

    # Scoop: only with a home page; 64-bit only; a shortcut, no command for a program that is a
    # window; updates it can find.
    path = os.path.join(manifests, "scoop", "kestrevel.json")
    rule(os.path.exists(path) == bool(homepage), folder, "a Scoop manifest, and a home page")
    if not homepage:
        continue
    scoop = json.load(open(path, encoding="utf-8"))
    valid(scoop, "scoop-schema.json", None, path)
    rule(not {"url", "hash", "bin"} & set(scoop) and list(scoop["architecture"]) == ["64bit"],
         "Scoop would install it on 32-bit Windows or put a window on PATH:", sorted(scoop))
    rule((scoop["version"], scoop["architecture"]["64bit"], scoop["homepage"]) ==
         (version, {"url": zip_url, "hash": digest}, homepage), "Scoop names another zip")
    rule(scoop["license"] == ({"identifier": "MIT", "url": license_url} if license_url else "MIT"),
         "Scoop's licence:", scoop["license"])
    rule([shortcut[0] for shortcut in scoop["shortcuts"]] == [members[0]], "Scoop's shortcut")
    update = scoop.get("autoupdate")
    rule(bool(update) == (version in zip_url.rsplit("/", 1)[1]), "Scoop updates", bool(update))
    rule(("checkver" in scoop) == bool(update), "Scoop's automatic update needs its checkver")
    if update:
        found = re.search(scoop["checkver"]["regex"], '<a href="%s">' % zip_url)
        rule(scoop["checkver"]["url"] == homepage and found and found.group(1) == version,
             "Scoop's checkver does not find the version on a home page that links the zip")
        rule(update["architecture"]["64bit"]["url"].replace("$version", version) == zip_url,
             "Scoop's automatic update names another address")
print("rules hold for", len(runs), "packings")
