"""Writes the package-manager manifests of a release, both naming the zip by its address and its
SHA-256. tools/pack runs it when it is given the address where the zip will be published.

- winget: a version, an installer, a French default-locale and an English locale file, in the
  community repository's layout: OUT/winget/manifests/k/Kestrevel/Kestrevel/<version>/.
- Scoop: OUT/scoop/kestrevel.json, for 64-bit Windows only. Scoop requires a home page; without
  one (HOMEPAGE empty) no Scoop manifest is written, since the zip's folder is not a product page.

    python3 manifests.py OUT VERSION ZIP_URL HOMEPAGE LICENSE_URL ZIP_SHA256 RELEASE_DATE

HOMEPAGE and LICENSE_URL may be empty; RELEASE_DATE is YYYY-MM-DD.
"""

import json
import os
import re
import sys

PUBLISHER = "Kestrevel"
PACKAGE = "Kestrevel"
IDENTIFIER = PUBLISHER + "." + PACKAGE
# The schema version the community repository's review instructions ask for.
WINGET_SCHEMA = "1.12.0"
DEFAULT_LOCALE = "fr-FR"
LICENSE = "MIT"
MONIKER = "kestrevel"
TAGS = ["boot", "bcdedit", "bootmenupolicy", "f8", "safe-mode"]
COMMAND = "kestrevel"
PROGRAM = "Kestrevel.exe"
# What each locale says; the default one is French, as the program is.
TEXTS = {
    "fr-FR": {
        "ShortDescription": "Rétablit ou retire le menu de démarrage F8 (mode sans échec) de "
                            "Windows.",
        "Description": "Kestrevel règle la valeur bootmenupolicy de l'entrée de démarrage par "
                       "défaut sur legacy (le menu F8 revient) ou sur standard, au moyen de "
                       "l'outil bcdedit de Windows. Il demande les droits d'administrateur et "
                       "ne modifie aucun autre réglage. Son interface est en français.",
        # A portable program from a zip gets no Start-menu entry.
        "InstallationNotes": "Kestrevel n'a pas d'entrée dans le menu Démarrer : lancez-le en "
                             "tapant kestrevel dans la boîte Exécuter (Windows + R), qui demande "
                             "les droits d'administrateur, ou dans une invite ouverte en tant "
                             "qu'administrateur. Le guide d'utilisation est le fichier "
                             "guide.html de l'archive.",
    },
    "en-US": {
        "ShortDescription": "Brings back, or removes again, the F8 boot menu (safe mode) of "
                            "Windows.",
        "Description": "Kestrevel sets the bootmenupolicy of the default boot entry to legacy "
                       "(the F8 menu comes back) or to standard, with Windows' own bcdedit tool. "
                       "It needs administrator rights and changes no other setting. Its "
                       "interface is in French.",
        "InstallationNotes": "Kestrevel has no Start-menu entry: start it by typing kestrevel "
                             "in the Run box (Windows + R), which asks for administrator rights, "
                             "or in a prompt opened as administrator. The user guide (in French) "
                             "is guide.html in the zip.",
    },
}
# Scoop's buckets are written in English.
SCOOP_NOTES = ("Kestrevel asks for administrator rights when it starts: it changes the boot "
               "menu policy of the default boot entry with bcdedit. Start it from its Start-menu "
               "shortcut, Kestrevel (in Scoop Apps).")
RESOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources",
                         "kestrevel.rc")


def legal_copyright():
    """The LegalCopyright of the program's version information, as the resource script has it."""
    with open(RESOURCES, encoding="utf-8") as script:
        found = re.search(r'VALUE\s+"LegalCopyright"\s*,\s*"((?:[^"]|"")*)"', script.read())
    if not found:
        sys.exit("[kestrevel] %s names no LegalCopyright" % RESOURCES)
    return found.group(1).replace('""', '"')


def literal(text):
    """A regular expression that matches the text as it is, in Python's and .NET's syntax alike
    (only the characters that are special in both are escaped)."""
    return re.sub(r"([\\.^$|?*+()\[\]{}])", r"\\\1", text)


def quoted(value):
    """A YAML single-quoted scalar: the text as it is, quotes doubled. Dates stay strings too."""
    return "'" + value.replace("'", "''") + "'"


def write_yaml(path, schema, lines):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write("# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n\n"
                  % (schema, WINGET_SCHEMA))
        out.write("\n".join(lines) + "\n")


def winget(folder, version, url, homepage, license_url, sha256, release_date):
    os.makedirs(folder, exist_ok=True)
    head = ["PackageIdentifier: " + IDENTIFIER, "PackageVersion: " + quoted(version)]
    tail = lambda kind: ["ManifestType: " + kind, "ManifestVersion: " + WINGET_SCHEMA]
    write_yaml(os.path.join(folder, IDENTIFIER + ".yaml"), "version", head + [
        "DefaultLocale: " + DEFAULT_LOCALE,
    ] + tail("version"))
    write_yaml(os.path.join(folder, IDENTIFIER + ".installer.yaml"), "installer", head + [
        "InstallerLocale: " + DEFAULT_LOCALE,
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
    for locale, texts in TEXTS.items():
        default = locale == DEFAULT_LOCALE
        lines = head + [
            "PackageLocale: " + locale,
            "Publisher: " + PUBLISHER,
            "PackageName: " + PACKAGE,
        ] + (["PackageUrl: " + quoted(homepage)] if homepage else []) + [
            "License: " + LICENSE,
        ] + (["LicenseUrl: " + quoted(license_url)] if license_url else []) + [
            "Copyright: " + quoted(legal_copyright()),
            "ShortDescription: " + quoted(texts["ShortDescription"]),
            "Description: " + quoted(texts["Description"]),
        ] + (["Moniker: " + MONIKER] if default else []) + [
            "Tags:",
        ] + ["- " + tag for tag in TAGS] + [
            "InstallationNotes: " + quoted(texts["InstallationNotes"]),
        ]
        kind = "defaultLocale" if default else "locale"
        write_yaml(os.path.join(folder, "%s.locale.%s.yaml" % (IDENTIFIER, locale)), kind,
                   lines + tail(kind))


def scoop(folder, version, url, homepage, license_url, sha256):
    os.makedirs(folder, exist_ok=True)
    # Under architecture.64bit only: a url at the top would let Scoop install it on 32-bit
    # Windows. No "bin": the program is a window that takes no arguments, not a command.
    manifest = {
        "version": version,
        "description": TEXTS["en-US"]["ShortDescription"],
        "homepage": homepage,
        "license": {"identifier": LICENSE, "url": license_url} if license_url else LICENSE,
        "notes": SCOOP_NOTES,
        "architecture": {"64bit": {"url": url, "hash": sha256}},
        "shortcuts": [[PROGRAM, PACKAGE]],
    }
    # Scoop can follow new versions only when the zip's name holds the version: it finds the
    # newest version in that name on the home page, and the zip's address from it.
    versioned = re.compile(r"(?<![0-9.])%s(?![0-9])" % re.escape(version))
    name = url.rsplit("/", 1)[1]
    found = versioned.search(name)
    if found:
        pattern = literal(name[:found.start()]) + r"([\d.]+)" + literal(name[found.end():])
        manifest["checkver"] = {"url": homepage, "regex": pattern}
        manifest["autoupdate"] = {
            "architecture": {"64bit": {"url": versioned.sub("$version", url)}}}
    with open(os.path.join(folder, "kestrevel.json"), "w", encoding="utf-8", newline="\n") as out:
        json.dump(manifest, out, ensure_ascii=False, indent=4)
        out.write("\n")


def main():
    out, version, url, homepage, license_url, sha256, release_date = sys.argv[1:8]
    winget(os.path.join(out, "winget", "manifests", PUBLISHER[0].lower(), PUBLISHER, PACKAGE,
                        version), version, url, homepage, license_url, sha256, release_date)
    if homepage:
        scoop(os.path.join(out, "scoop"), version, url, homepage, license_url, sha256)
    else:
        print("[kestrevel] no Scoop manifest: Scoop requires a home page (--homepage)",
              file=sys.stderr)


if __name__ == "__main__":
    main()
