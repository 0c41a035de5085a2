"""Writes the package-manager manifests of a release: a winget manifest set (version, installer
and default-locale files, in French) and a Scoop manifest, both naming the zip by its address
and its SHA-256. tools/pack runs it when it is given the address where the zip will be
published.

    python3 manifests.py OUT VERSION ZIP_URL HOMEPAGE ZIP_SHA256
"""

import json
import os
import sys

IDENTIFIER = "Kestrevel.Kestrevel"
# A schema version that current winget clients and the community repository accept.
WINGET_SCHEMA = "1.10.0"
SHORT_DESCRIPTION = "Rétablit ou retire le menu de démarrage F8 (mode sans échec) de Windows."
DESCRIPTION = (
    "Kestrevel règle la valeur bootmenupolicy de l'entrée de démarrage par défaut sur legacy "
    "(le menu F8 revient) ou sur standard, au moyen de l'outil bcdedit de Windows. Il demande "
    "les droits d'administrateur et ne modifie aucun autre réglage."
)
# What the program's version information says: all rights reserved.
LICENSE = "Propriétaire, tous droits réservés"
SCOOP_LICENSE = "Proprietary"


def quoted(value):
    """A YAML single-quoted scalar: the text as it is, quotes doubled."""
    return "'" + value.replace("'", "''") + "'"


def write_yaml(path, schema, lines):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write("# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n\n"
                  % (schema, WINGET_SCHEMA))
        out.write("\n".join(lines) + "\n")


def winget(folder, version, url, homepage, sha256):
    os.makedirs(folder, exist_ok=True)
    head = ["PackageIdentifier: " + IDENTIFIER, "PackageVersion: " + quoted(version)]
    write_yaml(os.path.join(folder, IDENTIFIER + ".yaml"), "version", head + [
        "DefaultLocale: fr-FR",
        "ManifestType: version",
        "ManifestVersion: " + WINGET_SCHEMA,
    ])
    write_yaml(os.path.join(folder, IDENTIFIER + ".installer.yaml"), "installer", head + [
        "InstallerType: zip",
        "NestedInstallerType: portable",
        "NestedInstallerFiles:",
        "- RelativeFilePath: Kestrevel.exe",
        "  PortableCommandAlias: kestrevel",
        "Installers:",
        "- Architecture: x64",
        "  InstallerUrl: " + quoted(url),
        "  InstallerSha256: " + sha256.upper(),
        "ManifestType: installer",
        "ManifestVersion: " + WINGET_SCHEMA,
    ])
    write_yaml(os.path.join(folder, IDENTIFIER + ".locale.fr-FR.yaml"), "defaultLocale", head + [
        "PackageLocale: fr-FR",
        "Publisher: Kestrevel",
        "PackageName: Kestrevel",
        "PackageUrl: " + quoted(homepage),
        "License: " + quoted(LICENSE),
        "ShortDescription: " + quoted(SHORT_DESCRIPTION),
        "Description: " + quoted(DESCRIPTION),
        "ManifestType: defaultLocale",
        "ManifestVersion: " + WINGET_SCHEMA,
    ])


def scoop(folder, version, url, homepage, sha256):
    os.makedirs(folder, exist_ok=True)
    manifest = {
        "version": version,
        "description": SHORT_DESCRIPTION,
        "homepage": homepage,
        "license": SCOOP_LICENSE,
        "url": url,
        "hash": sha256,
        "bin": "Kestrevel.exe",
    }
    with open(os.path.join(folder, "kestrevel.json"), "w", encoding="utf-8", newline="\n") as out:
        json.dump(manifest, out, ensure_ascii=False, indent=4)
        out.write("\n")


def main():
    out, version, url, homepage, sha256 = sys.argv[1:6]
    winget(os.path.join(out, "winget", IDENTIFIER, version), version, url, homepage, sha256)
    scoop(os.path.join(out, "scoop"), version, url, homepage, sha256)


if __name__ == "__main__":
    main()
