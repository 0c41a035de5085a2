#!/usr/bin/env bash
# A signed download, as the program or as the release zip, checks out against the unsigned build
# it was made from; a one-byte change, a validly signed program that is not that build, or a zip
# holding anything besides the program does not. The certificate is a throw-away one, made here.
#   signed_download_test.sh UNSIGNED.exe
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
unsigned=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sign() { "$tools/sign" --cert "$work/cert.pem" --key "$work/key.pem" --ca "$work/cert.pem" "$1" "$2"; }
check() { "$tools/check-download" --ca "$work/cert.pem" "$1" "$unsigned"; }
refused() {
    if check "$1"; then
        echo "FAILED: $2 passed the check"
        exit 1
    fi
}
# A zip of the given files, each under its own name.
pack() { /usr/bin/python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    [z.write(f, f.rsplit("/", 1)[-1]) for f in sys.argv[2:]]' "$@"; }

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Kestrevel throw-away signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
sign "$unsigned" "$work/Kestrevel.exe"
cmp -s "$unsigned" "$work/Kestrevel.exe" && { echo "FAILED: signing changed nothing"; exit 1; }
check "$work/Kestrevel.exe"
pack "$work/release.zip" "$work/Kestrevel.exe"
check "$work/release.zip"

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

# A download is what its name says, and that from its first byte to its last.
mkdir "$work/tampered"
cat "$work/other-signed.exe" "$work/release.zip" >"$work/tampered/Kestrevel.exe"
refused "$work/tampered/Kestrevel.exe" "another program with the genuine zip behind it"
cat "$work/other-signed.exe" "$work/release.zip" >"$work/tampered/Kestrevel-1.0.0-x64.zip"
refused "$work/tampered/Kestrevel-1.0.0-x64.zip" "a zip with bytes before its first entry"
cat "$work/release.zip" "$work/other-signed.exe" >"$work/tampered/after.zip"
refused "$work/tampered/after.zip" "a zip with bytes after its end"
/usr/bin/python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.write(sys.argv[2], "Kestrevel.exe")' "$work/tampered/deflated.zip" "$work/Kestrevel.exe"
refused "$work/tampered/deflated.zip" "a zip whose program is compressed"
cp "$work/release.zip" "$work/tampered/release.bin"
refused "$work/tampered/release.bin" "a download whose name says neither program nor zip"
echo "passed"
