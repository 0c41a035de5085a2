"""Reads the signature of a 64-bit Windows program: its certificate table, which Authenticode
does not cover, so nothing may sit there but the one signature; and the certificate that made it.
tools/check-download checks downloads with it; tools/pack writes SIGNER with it.

    python3 signature.py PROGRAM
prints "SHA256 <fingerprint>  <subject>" of the signing certificate, nothing for an unsigned
program, and fails with the reason when the table holds anything but exactly one signature.
"""

import hashlib
import struct
import sys

PE32_PLUS = 0x20B
CERTIFICATE_DIRECTORY = 4  # the entry of the optional header's data directories
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2
WIN_CERTIFICATE_HEADER = 8  # dwLength, wRevision, wCertificateType
ENTRY_ALIGNMENT = 8
SIGNED_DATA_OID = bytes.fromhex("06092a864886f70d010702")  # 1.2.840.113549.1.7.2
SEQUENCE, SET, INTEGER, CONTEXT_0 = 0x30, 0x31, 0x02, 0xA0
NAMES = {"2.5.4.3": "CN", "2.5.4.5": "serialNumber", "2.5.4.6": "C", "2.5.4.7": "L",
         "2.5.4.8": "ST", "2.5.4.10": "O", "2.5.4.11": "OU", "1.2.840.113549.1.9.1": "emailAddress"}


class Refused(Exception):
    pass


def element(data, at, end=None):
    """The DER element at `at`: (tag, first byte of its content, end of it). Definite lengths
    only, and within `end`."""
    end = len(data) if end is None else end
    if at + 2 > end:
        raise Refused("its signature is cut short")
    tag, length, start = data[at], data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        if not 1 <= count <= 4 or start + count > end:
            raise Refused("its signature is not DER")
        length, start = int.from_bytes(data[start:start + count], "big"), start + count
    if start + length > end:
        raise Refused("its signature runs past its certificate entry")
    return tag, start, start + length


def children(data, start, end):
    """The elements inside a constructed one: (tag, content, end, first byte of the element)."""
    found = []
    while start < end:
        begin = start
        tag, content, start = element(data, start, end)
        found.append((tag, content, start, begin))
    return found


def certificate_table(data):
    """The signature (PKCS#7 signed data) of a program, None when it has no certificate table.
    The table must be exactly one WIN_CERTIFICATE entry of revision 2.0 holding PKCS#7 signed
    data, as long as that signature and its header rounded up to 8 bytes, padded with zeros,
    and ending the file, with the data directory saying so."""
    try:
        headers = struct.unpack_from("<I", data, 0x3C)[0]
        optional = headers + 24
        if not data.startswith(b"MZ") or data[headers:headers + 6] != b"PE\0\0\x64\x86" or \
                struct.unpack_from("<H", data, optional)[0] != PE32_PLUS:
            raise struct.error
        directories = struct.unpack_from("<I", data, optional + 108)[0]
        offset, size = struct.unpack_from("<II", data, optional + 112 + 8 * CERTIFICATE_DIRECTORY)
    except struct.error:
        raise Refused("it is not a 64-bit Windows program")
    if directories <= CERTIFICATE_DIRECTORY or size == 0:
        return None
    if offset + size < len(data):
        raise Refused("%d bytes follow its certificate table" % (len(data) - offset - size))
    if offset + size > len(data) or size < WIN_CERTIFICATE_HEADER:
        raise Refused("its certificate table does not fit in the file")
    length, revision, kind = struct.unpack_from("<IHH", data, offset)
    if revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA:
        raise Refused("its certificate entry is not of revision 2.0 with PKCS#7 signed data "
                      "(revision 0x%04x, type %d)" % (revision, kind))
    start = offset + WIN_CERTIFICATE_HEADER
    tag, content, signature_end = element(data, start, offset + size)
    if tag != SEQUENCE or not data.startswith(SIGNED_DATA_OID, content):
        raise Refused("its certificate entry holds no PKCS#7 signed data")
    signature = signature_end - offset
    rounded = -(-signature // ENTRY_ALIGNMENT) * ENTRY_ALIGNMENT
    if length != rounded:
        raise Refused("its certificate entry is %d bytes long, but its signature takes %d "
                      "(%d rounded up to 8 bytes)" % (length, rounded, signature))
    if size > length:
        raise Refused("its certificate table holds more than its one entry (%d bytes, the "
                      "entry %d)" % (size, length))
    if size < length:
        raise Refused("its certificate entry runs past its table")
    if data[signature_end:offset + length].strip(b"\0"):
        raise Refused("the padding after its signature is not zero bytes")
    return data[start:signature_end]


def subject(data, start, end):
    """A certificate name as /CN=.../O=..., the attributes in their order."""
    parts = []
    for _, rdn, rdn_end, _ in children(data, start, end):
        for _, pair, pair_end, _ in children(data, rdn, rdn_end):
            (_, oid, oid_end, _), (kind, value, value_end, _) = children(data, pair, pair_end)[:2]
            raw = data[oid:oid_end]
            numbers, number = [raw[0] // 40, raw[0] % 40], 0
            for byte in raw[1:]:
                number = number << 7 | byte & 0x7F
                if not byte & 0x80:
                    numbers.append(number)
                    number = 0
            dotted = ".".join(map(str, numbers))
            text = data[value:value_end].decode("utf-16-be" if kind == 0x1E else "utf-8", "replace")
            parts.append("/%s=%s" % (NAMES.get(dotted, dotted), text))
    return "".join(parts)


def signer(signature):
    """(SHA-256 fingerprint, subject) of the certificate that made the one signer's signature,
    found among the signature's certificates by its issuer and serial number."""
    content = lambda part: signature[part[1]:part[2]]
    inside = lambda part: children(signature, part[1], part[2])
    try:
        _, signed_data = children(signature, *element(signature, 0)[1:])[:2]
        parts = inside(inside(signed_data)[0])
        if parts[-1][0] != SET or len(inside(parts[-1])) != 1:
            raise Refused("its signature does not have exactly one signer")
        identity = inside(inside(parts[-1])[0])[1]
        if identity[0] != SEQUENCE:
            raise Refused("its signer is not named by issuer and serial number")
        issuer, serial = inside(identity)[:2]
        bags = [part for part in parts if part[0] == CONTEXT_0]
        for certificate in inside(bags[0]) if bags else []:
            fields = inside(inside(certificate)[0])
            if fields[0][0] == CONTEXT_0:  # the version, when not 1
                fields = fields[1:]
            if fields[0][0] == INTEGER and content(fields[0]) == content(serial) and \
                    content(fields[2]) == content(issuer):
                whole = signature[certificate[3]:certificate[2]]
                return hashlib.sha256(whole).hexdigest(), subject(signature, *fields[4][1:3])
    except (IndexError, ValueError):
        raise Refused("its signature is not PKCS#7 signed data as Authenticode makes it")
    raise Refused("its signature does not carry the certificate that made it")


def main():
    table = certificate_table(open(sys.argv[1], "rb").read())
    if table is not None:
        fingerprint, name = signer(table)
        print("SHA256 %s  %s" % (fingerprint, name))


if __name__ == "__main__":
    try:
        main()
    except Refused as reason:
        sys.exit("[kestrevel] %s: %s" % (sys.argv[1], reason))
