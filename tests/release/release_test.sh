#!/usr/bin/env bash
# The release as tools/pack makes it, and the check a user runs on a download (tools/check-download):
#   - a signed download, as the program or as the release zip, checks out against the unsigned
#     build it was made from, also when --signer names the certificate that signed it; a one-byte
#     change, a validly signed program that is not that build, a signature by another certificate
#     than --signer names, a certificate table that is anything but the one signature, a PKCS#7
#     signature holding anything its checks do not cover, a zip holding anything besides what
#     tools/pack packs, a zip comment that is not a commit's name, or a download that is not what
#     its name says from its first byte to its last, cut or whole, does not, each refused in a
#     line; a check that builds its own release leaves the checkout as it was;
#   - the published zip's comment names the commit, and SIGNER the certificate that signed;
#   - BUILDINFO names the commit, the source date and this machine's toolchain, is the same from
#     one packing to the next, stays out of SHA256SUMS, and a toolchain that differs from it is
#     reported;
#   - every packing meets the rules of release_rules.py: the zip's members, the licence and the
#     notices of what is linked into the program, the guide's page, and, with the address of the
#     zip, manifests that the package repositories take.
# The certificates are throw-away ones, made here.
#   release_test.sh UNSIGNED.exe
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
source "$tools/lib.sh"
unsigned=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sign() { "$tools/sign" --cert "$work/${3:-cert}.pem" --key "$work/${3:-key}.pem" --ca "$work/ca.pem" "$1" "$2"; }
pin=()
authorities=$work/ca.pem
check() { "$tools/check-download" --ca "$authorities" "${pin[@]}" "$1" "$unsigned"; }
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
    if grep -qv '^\[kestrevel\] ' "$work/said"; then
        cat "$work/said"
        echo "FAILED: $2 was refused in more than a line"
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

# The other signer's name would wipe the line on a terminal and write a verdict of its own; the
# time-stamp service is one that no authority given to the check knows.
for name in cert other tsa; do
    subject="/CN=Kestrevel throw-away $name"
    use=codeSigning
    [ $name != other ] || subject+=$(printf '\033[2K\rthe download is the build')
    [ $name != tsa ] || use=critical,timeStamping
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -utf8 -subj "$subject" \
        -addext extendedKeyUsage=$use -keyout "$work/${name/cert/key}.pem" \
        -out "$work/$name.pem" 2>/dev/null
done
cat "$work/cert.pem" "$work/other.pem" >"$work/ca.pem"
cat "$work/ca.pem" "$work/tsa.pem" >"$work/ca-tsa.pem"
osslsign() { osslsigncode sign -n Kestrevel -h sha256 -certs "$work/cert.pem" -key "$work/key.pem" "$@" >/dev/null; }
sign "$unsigned" "$work/Kestrevel.exe"
cmp -s "$unsigned" "$work/Kestrevel.exe" && failed "signing changed nothing"
check "$work/Kestrevel.exe"
url=https://example.invalid/releases/$zip
homepage=https://example.invalid/kestrevel/
licence_url=https://example.invalid/kestrevel/LICENSE
"$tools/pack" "$work/Kestrevel.exe" "$work/published" --publish-url "$url" --homepage "$homepage" \
    --license-url "$licence_url" --release-date 2026-12-24
check "$work/published/$zip"
head=$(git -C "$tools/.." rev-parse HEAD 2>/dev/null || true)
[ "$(/usr/bin/python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).comment.decode())' \
    "$work/published/$zip")" = "$head" ] || failed "the zip's comment does not name the commit $head"

# The signer: SIGNER names the certificate that signed, --signer takes its fingerprint as
# openssl prints it too, and refuses a signature by any other certificate that the authorities
# accept, or none.
fingerprint=$(openssl x509 -in "$work/cert.pem" -noout -fingerprint -sha256 | sed 's/.*=//')
[ "$(cat "$work/published/SIGNER")" = "SHA256 $(echo "$fingerprint" | tr -d : | tr A-F a-f)  /CN=Kestrevel throw-away cert" ] ||
    failed "SIGNER does not name the signing certificate: $(cat "$work/published/SIGNER")"
pin=(--signer "$fingerprint")
check "$work/published/$zip"
sign "$unsigned" "$work/by-other.exe" other
refused "$work/by-other.exe" "a signature by another certificate than --signer names" \
    'by /CN=Kestrevel throw-away other\\x1b\[2K\\x0dthe download is .*not by the certificate --signer names'
refused "$unsigned" "an unsigned program when --signer expects a signature" "not signed"
pin=()
check "$work/by-other.exe"

# The signature is the one that its checks cover, and nothing else: a time stamp that holds, no
# second signature nested in it, no other unsigned attribute, no certificate outside its
# signer's chain, no field that no signature covers changed.
osslsign -TSA-certs "$work/tsa.pem" -TSA-key "$work/tsa.pem" -in "$unsigned" -out "$work/stamped.exe"
authorities=$work/ca-tsa.pem
check "$work/stamped.exe" 2>/dev/null || failed "a time-stamped signature was refused"
# A signer below an intermediate that the authorities hold too: the carried copy of the
# intermediate is checked all the same.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=root -keyout "$work/root.pem" \
    -out "$work/root.pem" 2>/dev/null
for name in intermediate:root signer:intermediate; do
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=${name%:*}" -CA "$work/${name#*:}.pem" \
        -CAkey "$work/${name#*:}.pem" -addext extendedKeyUsage=codeSigning \
        -keyout "$work/${name%:*}.pem" -out "$work/${name%:*}.pem" 2>/dev/null
    openssl x509 -in "$work/${name%:*}.pem" >>"$work/chain.pem"
done
authorities=$work/chain-ca.pem
cat "$work/root.pem" "$work/intermediate.pem" >"$authorities"
osslsign -certs "$work/chain.pem" -key "$work/signer.pem" -in "$unsigned" -out "$work/chained.exe"
check "$work/chained.exe" 2>/dev/null || failed "a signature by a chain of two was refused"
openssl x509 -in "$work/intermediate.pem" -outform DER -out "$work/intermediate.der"
/usr/bin/python3 -c 'import sys; data, carried = bytearray(open(sys.argv[1], "rb").read()), open(sys.argv[2], "rb").read()
data[data.index(carried) + len(carried) - 1] ^= 1; open(sys.argv[3], "wb").write(data)' \
    "$work/chained.exe" "$work/intermediate.der" "$work/forged.exe"
refused "$work/forged.exe" "a carried intermediate changed in its signature" "does not verify as it is"
authorities=$work/ca.pem
refused "$work/stamped.exe" "a time stamp that does not verify" "time stamp of the download does not hold"
osslsign -certs "$work/other.pem" -key "$work/other.pem" -nest -in "$work/Kestrevel.exe" -out "$work/nested.exe"
refused "$work/nested.exe" "a second signature nested in the first" "nested second signature"
osslsign -addUnauthenticatedBlob -in "$unsigned" -out "$work/blob.exe"
refused "$work/blob.exe" "a signature with an unsigned attribute" "attribute that no signature covers"
osslsign -ac "$work/other.pem" -in "$unsigned" -out "$work/stranger.exe"
refused "$work/stranger.exe" "a signature carrying a certificate of another chain" "not of its signer's chain"

# The certificate table holds the one signature and nothing else: no bytes grown inside its
# entry, no second entry, nothing after it, no padding but zeros.
/usr/bin/python3 - "$work/Kestrevel.exe" "$work" <<'PY'
import os, struct, sys
data, out = open(sys.argv[1], "rb").read(), sys.argv[2]
directory = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 112 + 4 * 8
offset, size = struct.unpack_from("<II", data, directory)
der = int.from_bytes(data[offset + 10:offset + 12], "big") + 4  # a SEQUENCE of two length bytes
assert data[offset + 8:offset + 10] == b"\x30\x82" and size == -(-(der + 8) // 8) * 8 and \
    offset + size == len(data) and size > der + 8, "not the table osslsigncode writes"
def write(name, table, size):
    image = bytearray(data[:offset] + table)
    struct.pack_into("<I", image, directory + 4, size)
    open(os.path.join(out, name), "wb").write(image)
entry = data[offset:]
grown = struct.pack("<I", size + 4096) + entry[4:] + bytes(4096)
write("grown.exe", grown, size + 4096)
write("second.exe", entry + entry, 2 * size)
write("after.exe", entry + bytes(8), size)
write("padding.exe", entry[:-1] + b"\x01", size)
# The entry's revision alone, its type alone, and single bytes that no signature covers: the
# signed data's version, the NULL of its digest algorithm, its signer's version.
write("revision.exe", entry[:4] + struct.pack("<HH", 0x0100, 2) + entry[8:], size)
write("type.exe", entry[:4] + struct.pack("<HH", 0x0200, 1) + entry[8:], size)
assert entry[8 + 23:8 + 26] == b"\2\1\1" and entry[8 + 41:8 + 43] == b"\5\0"
signer = entry.rindex(b"\2\1\1\x30") - 8 + 2  # the version of the one SignerInfo
for name, at, value in (("version", 25, 3), ("digests", 41, 4), ("signer", signer, 0)):
    write(name + ".exe", entry[:8 + at] + bytes([value]) + entry[8 + at + 1:], size)
PY
refused "$work/grown.exe" "a signature entry grown by 4 KiB" "but its signature takes"
refused "$work/second.exe" "a certificate table with a second entry" "more than its one entry"
refused "$work/after.exe" "a signed program with bytes after its certificate table" \
    "bytes follow its certificate table"
refused "$work/padding.exe" "a signature padded with other bytes than zeros" "padding after"
refused "$work/revision.exe" "a certificate entry of revision 1.0" "not of revision 2.0 with PKCS#7"
refused "$work/type.exe" "a certificate entry of X.509 type" "not of revision 2.0 with PKCS#7"
refused "$work/version.exe" "signed data of version 3" "not of version 1"
refused "$work/digests.exe" "a digest algorithm with other parameters" "other digest algorithms"
refused "$work/signer.exe" "a signer of version 0" "signer of its signature is not of version 1"

cp "$work/Kestrevel.exe" "$work/changed.exe"
printf '\x90' | dd of="$work/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
refused "$work/changed.exe" "a signed program changed by one byte"
cp "$unsigned" "$work/other.exe"
printf '\x90' | dd of="$work/other.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
sign "$work/other.exe" "$work/other-signed.exe"
refused "$work/other-signed.exe" "a validly signed program that is not the build"
"$tools/pack" "$work/other-signed.exe" "$work/other-packed" 2>/dev/null
refused "$work/other-packed/$zip" "the zip of a validly signed program that is not the build" \
    "NOT the build of this source (${head:+its zip names commit $head, }this checkout is at commit ${head:-none}"
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
/usr/bin/python3 -W ignore - "$work/published/$zip" "$work/tampered" "$unsigned" <<'PY'
import os, sys, zipfile
source, out = sys.argv[1], sys.argv[2]
ZIP64_LOCATOR = b"PK\x06\x07" + bytes(16)
open(os.path.join(out, "Kestrevel.exe"), "wb").write(open(sys.argv[3], "rb").read() + ZIP64_LOCATOR)
with zipfile.ZipFile(source) as genuine:
    entries = [(info, genuine.read(info)) for info in genuine.infolist()]
def repack(name, comment=b"", extra=b"", twice=False, tail=b""):
    with zipfile.ZipFile(os.path.join(out, name), "w") as packed:
        packed.comment = comment
        for info, content in entries + (entries[:1] if twice else []):
            entry = zipfile.ZipInfo(info.filename, info.date_time)
            entry.create_system, entry.external_attr = info.create_system, info.external_attr
            entry.extra = extra
            packed.writestr(entry, content + (tail if info is entries[0][0] else b""))
repack("comment.zip", comment=b"PK\x05\x06" + bytes(18))
repack("extra.zip", extra=b"\x99\x99\x04\x00MZ!!")
repack("twice.zip", twice=True)
repack("zip64.zip", tail=ZIP64_LOCATOR)
for name, comment in (("commit", b"0" * 40), ("short", b"abc"), ("long", b"0" * 41)):
    repack(name + ".zip", comment=comment)
PY
check "$work/tampered/commit.zip"
refused "$work/tampered/comment.zip" "a zip with other bytes in its comment" "its comment"
refused "$work/tampered/short.zip" "a zip whose comment is 3 hex digits" "its comment"
refused "$work/tampered/long.zip" "a zip whose comment is 41 hex digits" "its comment"
refused "$work/tampered/extra.zip" "a zip with an extra field" "not stored whole"
refused "$work/tampered/twice.zip" "a zip with a second program of the same name" "other files"
refused "$work/tampered/zip64.zip" "a zip whose program ends as a zip64 archive" "also an archive"
refused "$work/tampered/Kestrevel.exe" "a program that ends as a zip64 archive" "also an archive"
# Cut inside its first header, its program, its directory, its end record and its comment.
mkdir "$work/cut"
length=$(stat -c %s "$work/published/$zip")
for cut in 20 4000 $((length - 120)) $((length - 50)) $((length - 1)); do
    head -c "$cut" "$work/published/$zip" >"$work/cut/$cut.zip"
    refused "$work/cut/$cut.zip" "the zip cut to $cut bytes" "the download is refused"
done
refused "$work/cut/missing.zip" "a download that is not there" "no download to read"
/usr/bin/python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[2], "Kestrevel.exe"); z.write(sys.argv[3], "LISEZMOI.txt")' \
    "$work/tampered/deflated.zip" "$work/Kestrevel.exe" "$work/extra/LISEZMOI.txt"
refused "$work/tampered/deflated.zip" "a zip whose entries are compressed" "not stored whole"
cp "$work/published/$zip" "$work/tampered/$zip.download"
refused "$work/tampered/$zip.download" "a download whose name says neither program nor zip" \
    "does not say what the download is"

# Checking a download without a build of one's own builds the release aside: dist/ (with the
# manifests of a release with an address), build-release/ and every other file of the checkout
# stay as they were.
mkdir "$work/tree"
tar -C "$tools/.." --exclude=./.git --exclude='./build*' --exclude=./dist -cf - . | tar -C "$work/tree" -xf -
cp -r "$work/published" "$work/tree/dist"
mkdir "$work/tree/build-release" && touch "$work/tree/build-release/build.ninja"
listing() { (cd "$work/tree" && find . -printf '%p %s %T@\n' -type f -exec sha256sum {} + | sort); }
before=$(listing)
# The copy is no repository: the commit's time dates the zip's entries as the checkout's does.
epoch=$(git -C "$tools/.." log -1 --format=%ct 2>/dev/null || echo 315532800)
SOURCE_DATE_EPOCH=$epoch "$work/tree/tools/check-download" --ca "$work/ca.pem" "$work/published/$zip" 2>"$work/said" ||
    { cat "$work/said"; failed "the download failed the check against a build of its own"; }
[ "$(listing)" = "$before" ] || failed "checking a download changed the checkout: $(diff <(echo "$before") <(listing))"

# BUILDINFO: what built it, the same from one packing to the next, outside SHA256SUMS.
"$tools/pack" "$work/Kestrevel.exe" "$work/again" --homepage "$homepage"
info=$work/published/BUILDINFO
cmp -s "$info" "$work/again/BUILDINFO" || failed "two packings gave different BUILDINFO"
cmp -s "$work/published/SHA256SUMS" "$work/again/SHA256SUMS" || failed "the manifests changed SHA256SUMS"
grep -q BUILDINFO "$work/published/SHA256SUMS" && failed "SHA256SUMS covers BUILDINFO"
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

# The rules each packing meets: the zip's members, the licence and the notices of what is linked
# into the program, the guide's page, and manifests that pass the official schemas of the versions
# they declare and the rules of the repositories (release_rules.py). One packing with every option,
# one whose address does not name the version, one without a home page, one without an address.
"$tools/pack" "$work/Kestrevel.exe" "$work/unversioned" --homepage "$homepage" \
    --publish-url https://example.invalid/download/latest/Kestrevel-x64.zip
"$tools/pack" "$work/Kestrevel.exe" "$work/no-homepage" --publish-url "$url" 2>"$work/said"
grep -q "no Scoop manifest" "$work/said" || failed "a missing Scoop manifest went unsaid"
/usr/bin/python3 -B "$(dirname "$0")/release_rules.py" "$tools/.." "$unsigned" \
    "$(dirname "$unsigned")/Kestrevel.map" "$(dirname "$0")/schemas" \
    "$work/published|$url|$homepage|$licence_url|2026-12-24" \
    "$work/unversioned|https://example.invalid/download/latest/Kestrevel-x64.zip|$homepage||" \
    "$work/no-homepage|$url|||" "$work/again||$homepage||" || exit 1
echo "passed"
