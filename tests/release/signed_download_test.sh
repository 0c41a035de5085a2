#!/usr/bin/env bash
# A signed download checks out against the unsigned build it was made from, and a one-byte
# change to it does not. The certificate is a throw-away one, made here.
#   signed_download_test.sh UNSIGNED.exe
set -euo pipefail
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
unsigned=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Kestrevel throw-away signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$tools/sign" --cert "$work/cert.pem" --key "$work/key.pem" --ca "$work/cert.pem" \
    "$unsigned" "$work/Kestrevel.exe"
cmp -s "$unsigned" "$work/Kestrevel.exe" && { echo "FAILED: signing changed nothing"; exit 1; }
"$tools/check-download" --ca "$work/cert.pem" "$work/Kestrevel.exe" "$unsigned"

# One byte of the code changed.
cp "$work/Kestrevel.exe" "$work/changed.exe"
printf '\x90' | dd of="$work/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
if "$tools/check-download" --ca "$work/cert.pem" "$work/changed.exe" "$unsigned"; then
    echo "FAILED: a changed download passed the check"
    exit 1
fi
echo "passed"
