"""Writes the package-manager manifests of a release, both naming the zip by its address and its
SHA-256. tools/pack runs it when it is given the address where the zip will be published.

- winget: a version, an installer and a French default-locale file, in the community
  repository's layout: OUT/winget/manifests/k/Kestrevel/Kestrevel/<version>/.
- Scoop: OUT/scoop/kestrevel.json, for 64-bit Windows only. Scoop requires a home page; without
  one (HOMEPAGE empty) no Scoop manifest is written, since the zip's folder is not a product page.

    python3 manifests.py OUT VERSION ZIP_URL HOMEPAGE ZIP_SHA256 RELEASE_DATE
"""

import json
import os
import re
import sys

PUBLISHER = "Kestrevel"
PACKAGE = "Kestrevel"
IDENTIFIER = PUBLISHER + "." + PACKAGE
# A schema version that current winget clients and the community repository accept.
WINGET_SCHEMA = "1.10.0"
SHORT_DESCRIPTION = "Rétablit ou retire le menu de démarrage F8 (mode sans échec) de Windows."
DESCRIPTION = (
    "Kestrevel règle la valeur bootmenupolicy de l'entrée de démarrage par défaut sur legacy "
    "(le menu F8 revient) ou sur standard, au moyen de l'outil bcdedit de Windows. Il demande "
    "les droits d'administrateur et ne modifie aucun autre réglage."
)
# Scoop's buckets are written in English.
SCOOP_DESCRIPTION = "Brings back, or removes again, the F8 boot menu (safe mode) of Windows."
SCOOP_NOTES = ("Kestrevel asks for administrator rights each time it starts: it changes the "
               "boot menu policy of the default boot entry with bcdedit.")
# A copyright is not a license: the program's version information reserves all rights, and both
# package managers name that with the same word.
LICENSE = "Proprietary"
MONIKER = "kestrevel"
TAGS = ["boot", "bcdedit", "bootmenupolicy", "f8", "safe-mode"]
COMMAND = "kestrevel"
PROGRAM = "Kestrevel.exe"
RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources",
                         "kestrevel.rc")


def legal_copyright():
    """The LegalCopyright of the program's version information, as the resource script has it."""
    with open(RESOURCES, encoding="utf-8") as script:
        found = re.search(r'VALUE\s+"LegalCopyright"\s*,\s*"((?:[^"]|"")*)"', script.read())
    if not found:
        sys.exit("[kestrevel] %s names no LegalCopyright" % RESOURCES)
    return found.group(1).replace('""', '"')


def quoted(value):
    """A YAML single-quoted scalar: the text as it is, quotes doubled. Dates stay strings too."""
    return "'" + value.replace("'", "''") + "'"


def write_yaml(path, schema, lines):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write("# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n\n"
                  % (schema, WINGET_SCHEMA))
        out.write("\n".join(lines) + "\n")


def winget(folder, version, url, homepage, sha256, release_date):
    os.makedirs(folder, exist_ok=True)
    head = ["PackageIdentifier: " + IDENTIFIER, "PackageVersion: " + quoted(version)]
    tail = lambda kind: ["ManifestType: " + kind, "ManifestVersion: " + WINGET_SCHEMA]
    write_yaml(os.path.join(folder, IDENTIFIER + ".yaml"), "version", head + [
        "DefaultLocale: fr-FR",
    ] + tail("version"))
    write_yaml(os.path.join(folder, IDENTIFIER + ".installer.yaml"), "installer", head + [
        "InstallerLocale: fr-FR",
        "InstallerType: zip",
        "NestedInstallerType: portable",
        "NestedInstallerFiles:",
        "- RelativeFilePath: " + PROGRAM,
        "  PortableCommandAlias: " + COMMAND,
        "Commands:",
        "- " + COMMAND,
        "ReleaseDate: " + quoted(release_date),
        "Installers:",
        "- Architecture: x64",
        "  InstallerUrl: " + quoted(url),
        "  InstallerSha256: " + sha256.upper(),
    ] + tail("installer"))
    write_yaml(os.path.join(folder, IDENTIFIER + ".locale.fr-FR.yaml"), "defaultLocale", head + [
        "PackageLocale: fr-FR",
        "Publisher: " + PUBLISHER,
        "PackageName: " + PACKAGE,
    ] + (["PackageUrl: " + quoted(homepage)] if homepage else []) + [
        "License: " + LICENSE,
        "Copyright: " + quoted(legal_copyright()),
        "ShortDescription: " + quoted(SHORT_DESCRIPTION),
        "Description: " + quoted(DESCRIPTION),
        "Moniker: " + MONIKER,
        "Tags:",
    ] + ["- " + tag for tag in TAGS] + tail("defaultLocale"))


def scoop(folder, version, url, homepage, sha256):
    os.makedirs(folder, exist_ok=True)
    # Under architecture.64bit only: a url at the top would let Scoop install it on 32-bit Windows.
    manifest = {
        "version": version,
        "description": SCOOP_DESCRIPTION,
        "homepage": homepage,
        "license": LICENSE,
        "notes": SCOOP_NOTES,
        "architecture": {"64bit": {"url": url, "hash": sha256}},
        "bin": PROGRAM,
        "shortcuts": [[PROGRAM, PACKAGE]],
    }
    # Scoop can follow new versions only when the address names the version.
    versioned = re.compile(r"(?<![0-9.])%s(?![0-9])" % re.escape(version))
    if versioned.search(url):
        manifest["autoupdate"] = {
            "architecture": {"64bit": {"url": versioned.sub("$version", url)}}}
    with open(os.path.join(folder, "kestrevel.json"), "w", encoding="utf-8", newline="\n") as out:
        json.dump(manifest, out, ensure_ascii=False, indent=4)
        out.write("\n")


def main():
    out, version, url, homepage, sha256, release_date = sys.argv[1:7]
    winget(os.path.join(out, "winget", "manifests", PUBLISHER[0].lower(), PUBLISHER, PACKAGE,
                        version), version, url, homepage, sha256, release_date)
    if homepage:
        scoop(os.path.join(out, "scoop"), version, url, homepage, sha256)
    else:
        print("[kestrevel] no Scoop manifest: Scoop requires a home page (--homepage)",
              file=sys.stderr)


if __name__ == "__main__":
    main()
