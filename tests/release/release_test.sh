#!/usr/bin/env bash
# The release as tools/pack makes it, and the check a user runs on a download (tools/check-download):
#   - a signed download, as the program or as the release zip, checks out against the unsigned
#     build it was made from; a one-byte change, a validly signed program that is not that build,
#     a zip holding anything besides the program and its read-me, or a download that is not
#     what its name says from its first byte to its last does not;
#   - BUILDINFO names the commit, the source date and this machine's toolchain, is the same from
#     one packing to the next, stays out of SHA256SUMS, and a toolchain that differs from it is
#     reported;
#   - with the address of the zip, the winget and Scoop manifests parse, carry every field their
#     formats require and name the hash of the zip made in the same run; without it there are
#     none.
# The certificate is a throw-away one, made here.
#   release_test.sh UNSIGNED.exe
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
source "$tools/lib.sh"
unsigned=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sign() { "$tools/sign" --cert "$work/cert.pem" --key "$work/key.pem" --ca "$work/cert.pem" "$1" "$2"; }
check() { "$tools/check-download" --ca "$work/cert.pem" "$1" "$unsigned"; }
# The download is refused, for the given reason when one is given.
refused() {
    if check "$1" 2>"$work/said"; then
        echo "FAILED: $2 passed the check"
        exit 1
    fi
    if [ -n "${3:-}" ] && ! grep -q "$3" "$work/said"; then
        cat "$work/said"
        echo "FAILED: $2 was refused, but not because $3"
        exit 1
    fi
}
failed() {
    echo "FAILED: $*"
    exit 1
}
# A zip of the given files, each under its own name.
pack() { /usr/bin/python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    [z.write(f, f.rsplit("/", 1)[-1]) for f in sys.argv[2:]]' "$@"; }
version=$(kv_version)
zip=Kestrevel-$version-x64.zip

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Kestrevel throw-away signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
sign "$unsigned" "$work/Kestrevel.exe"
cmp -s "$unsigned" "$work/Kestrevel.exe" && failed "signing changed nothing"
check "$work/Kestrevel.exe"
url=https://example.invalid/releases/$zip
"$tools/pack" "$work/Kestrevel.exe" "$work/published" --publish-url "$url"
check "$work/published/$zip"

cp "$work/Kestrevel.exe" "$work/changed.exe"
printf '\x90' | dd of="$work/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
refused "$work/changed.exe" "a signed program changed by one byte"
cp "$unsigned" "$work/other.exe"
printf '\x90' | dd of="$work/other.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
sign "$work/other.exe" "$work/other-signed.exe"
refused "$work/other-signed.exe" "a validly signed program that is not the build"
mkdir "$work/extra" && cp "$work/Kestrevel.exe" "$work/extra/" && cp "$unsigned" "$work/extra/version.dll"
pack "$work/planted.zip" "$work/extra/Kestrevel.exe" "$work/extra/version.dll"
refused "$work/planted.zip" "a zip with a library beside the program"
kv_readme "$work/extra/LISEZMOI.txt"
printf 'x' >>"$work/extra/LISEZMOI.txt"
pack "$work/readme.zip" "$work/extra/Kestrevel.exe" "$work/extra/LISEZMOI.txt"
refused "$work/readme.zip" "a zip whose read-me is not the source's"

# A download is what its name says, and that from its first byte to its last.
mkdir "$work/tampered"
cat "$work/other-signed.exe" "$work/published/$zip" >"$work/tampered/Kestrevel.exe"
refused "$work/tampered/Kestrevel.exe" "another program with the genuine zip behind it" \
    "also an archive"
cat "$work/other-signed.exe" "$work/published/$zip" >"$work/tampered/$zip"
refused "$work/tampered/$zip" "a zip with bytes before its first entry" "begin with an entry"
cat "$work/published/$zip" "$work/other-signed.exe" >"$work/tampered/after.zip"
refused "$work/tampered/after.zip" "a zip with bytes after its end" "bytes lie"
# The genuine entries with other bytes hidden in the archive's comment, in an extra field, or a
# second program under the same name.
/usr/bin/python3 -W ignore - "$work/published/$zip" "$work/tampered" <<'PY'
import os, sys, zipfile
source, out = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(source) as genuine:
    entries = [(info, genuine.read(info)) for info in genuine.infolist()]
def repack(name, comment=b"", extra=b"", twice=False):
    with zipfile.ZipFile(os.path.join(out, name), "w") as packed:
        packed.comment = comment
        for info, content in entries + (entries[:1] if twice else []):
            entry = zipfile.ZipInfo(info.filename, info.date_time)
            entry.extra = extra
            packed.writestr(entry, content)
repack("comment.zip", comment=b"PK\x05\x06" + bytes(18))
repack("extra.zip", extra=b"\x99\x99\x04\x00MZ!!")
repack("twice.zip", twice=True)
PY
refused "$work/tampered/comment.zip" "a zip with other bytes in its comment" "its comment"
refused "$work/tampered/extra.zip" "a zip with an extra field" "not stored whole"
refused "$work/tampered/twice.zip" "a zip with a second program of the same name" "other files"
/usr/bin/python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[2], "Kestrevel.exe"); z.write(sys.argv[3], "LISEZMOI.txt")' \
    "$work/tampered/deflated.zip" "$work/Kestrevel.exe" "$work/extra/LISEZMOI.txt"
refused "$work/tampered/deflated.zip" "a zip whose entries are compressed" "not stored whole"
cp "$work/published/$zip" "$work/tampered/release.bin"
refused "$work/tampered/release.bin" "a download whose name says neither program nor zip" \
    "neither a program"

# BUILDINFO: what built it, the same from one packing to the next, outside SHA256SUMS.
"$tools/pack" "$work/Kestrevel.exe" "$work/again"
info=$work/published/BUILDINFO
cmp -s "$info" "$work/again/BUILDINFO" || failed "two packings gave different BUILDINFO"
cmp -s "$work/published/SHA256SUMS" "$work/again/SHA256SUMS" || failed "the manifests changed SHA256SUMS"
grep -q BUILDINFO "$work/published/SHA256SUMS" && failed "SHA256SUMS covers BUILDINFO"
[ -e "$work/again/manifests" ] && failed "manifests were written without an address"
grep -qx "Version: $version" "$info" || failed "BUILDINFO names no version"
commit=$(git -C "$tools/.." rev-parse HEAD 2>/dev/null || echo "none (not built from a repository)")
grep -qx "Commit: $commit" "$info" || failed "BUILDINFO names another commit"
grep -qE '^Source-Date: [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z \([0-9]+\)$' "$info" ||
    failed "BUILDINFO has no source date"
for package in g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev cmake \
    ninja-build; do
    awk -v name="$package" '$1 == name && NF == 2' "$info" | grep -q . ||
        failed "BUILDINFO does not name $package"
done
kv_compare_toolchain "$info" 2>/dev/null || failed "this machine's toolchain differs from its own BUILDINFO"
sed 's/^ \(binutils-mingw-w64-x86-64\) .*/ \1 0.1-older/' "$info" >"$work/older-BUILDINFO"
cp "$work/published/$zip" "$work/extra/$zip"
"$tools/check-download" --ca "$work/cert.pem" --buildinfo "$work/older-BUILDINFO" \
    "$work/extra/$zip" "$unsigned" 2>"$work/said" || failed "the check failed with another BUILDINFO"
grep -q "binutils-mingw-w64-x86-64 0.1-older" "$work/said" &&
    grep -q "cannot be expected to match" "$work/said" || failed "a toolchain that differs went unsaid"

# The manifests name the zip of this run by its address and its hash, and carry every field
# their formats require.
/usr/bin/python3 - "$work/published" "$zip" "$url" "$version" <<'PY'
import hashlib, json, os, sys, yaml
out, zip_name, url, version = sys.argv[1:5]
digest = hashlib.sha256(open(os.path.join(out, zip_name), "rb").read()).hexdigest()
assert digest + "  " + zip_name in open(os.path.join(out, "SHA256SUMS")).read()
folder = os.path.join(out, "manifests", "winget", "Kestrevel.Kestrevel", version)
load = lambda kind: yaml.safe_load(open(os.path.join(folder, "Kestrevel.Kestrevel%s.yaml" % kind), encoding="utf-8"))
required = {
    "": ["PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"],
    ".installer": ["PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion"],
    ".locale.fr-FR": ["PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher",
                      "PackageName", "License", "ShortDescription", "ManifestType", "ManifestVersion"],
}
for kind, fields in required.items():
    manifest = load(kind)
    missing = [field for field in fields if not manifest.get(field)]
    assert not missing, "winget%s lacks %s" % (kind, missing)
    assert manifest["PackageIdentifier"] == "Kestrevel.Kestrevel"
    assert str(manifest["PackageVersion"]) == version
    assert manifest["ManifestVersion"] == "1.10.0"
assert load("")["ManifestType"] == "version" and load("")["DefaultLocale"] == "fr-FR"
assert load(".locale.fr-FR")["ManifestType"] == "defaultLocale"
assert load(".locale.fr-FR")["PackageLocale"] == "fr-FR"
installer = load(".installer")
assert installer["ManifestType"] == "installer"
assert installer["InstallerType"] == "zip" and installer["NestedInstallerType"] == "portable"
assert installer["NestedInstallerFiles"] == [{"RelativeFilePath": "Kestrevel.exe",
                                              "PortableCommandAlias": "kestrevel"}]
assert installer["Installers"] == [{"Architecture": "x64", "InstallerUrl": url,
                                    "InstallerSha256": digest.upper()}], installer["Installers"]
scoop = json.load(open(os.path.join(out, "manifests", "scoop", "kestrevel.json"), encoding="utf-8"))
for field in ["version", "description", "homepage", "license", "url", "hash", "bin"]:
    assert scoop.get(field), "scoop lacks " + field
assert (scoop["version"], scoop["url"], scoop["hash"], scoop["bin"]) == \
    (version, url, digest, "Kestrevel.exe"), scoop
assert scoop["homepage"] == url.rsplit("/", 1)[0] + "/"
PY
echo "passed"
