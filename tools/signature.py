"""Reads the signature of a 64-bit Windows program: its certificate table, which Authenticode
does not cover, so nothing may sit there but the one signature; the PKCS#7 signed data of that
signature, whose fields outside what the signer signed must hold what tools/sign makes; and the
certificate that made it. tools/check-download checks downloads with it; tools/pack writes
SIGNER with it.

    python3 signature.py PROGRAM
prints "SHA256 <fingerprint>  <subject>" of the signing certificate, nothing for an unsigned
program, and fails with the reason when the table holds anything but exactly one signature.
"""

import hashlib
import struct
import sys
import unicodedata
from collections import namedtuple

PE32_PLUS = 0x20B
CERTIFICATE_DIRECTORY = 4  # the entry of the optional header's data directories
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2
WIN_CERTIFICATE_HEADER = 8  # dwLength, wRevision, wCertificateType
ENTRY_ALIGNMENT = 8
BOOLEAN, INTEGER, BIT_STRING, OCTET_STRING, NULL, OID, ENUMERATED = 1, 2, 3, 4, 5, 6, 10
SEQUENCE, SET, CONTEXT_0, CONTEXT_1 = 0x30, 0x31, 0xA0, 0xA1
CONSTRUCTED, CLASS, LONG_TAG = 0x20, 0xC0, 0x1F
# Deeper than any certificate or signature nests; bounds the work a crafted table can ask for.
MAX_DEPTH = 24
# More than any chain (and its copies in a time stamp) holds; bounds the search for the chain.
MAX_CERTIFICATES = 16
NAMES = {"2.5.4.3": "CN", "2.5.4.5": "serialNumber", "2.5.4.6": "C", "2.5.4.7": "L",
         "2.5.4.8": "ST", "2.5.4.10": "O", "2.5.4.11": "OU", "1.2.840.113549.1.9.1": "emailAddress"}


def object_identifier(dotted):
    """The content bytes of an OBJECT IDENTIFIER."""
    numbers = [int(part) for part in dotted.split(".")]
    encoded = bytearray([numbers[0] * 40 + numbers[1]])
    for number in numbers[2:]:
        groups = [number & 0x7F]
        while number > 0x7F:
            number >>= 7
            groups.append(number & 0x7F | 0x80)
        encoded += bytes(reversed(groups))
    return bytes(encoded)


def algorithm(dotted, parameters=b"\x05\x00"):
    """An AlgorithmIdentifier as DER writes it, NULL parameters unless told otherwise."""
    body = b"\x06" + bytes([len(object_identifier(dotted))]) + object_identifier(dotted) + parameters
    return bytes([SEQUENCE, len(body)]) + body


SIGNED_DATA = object_identifier("1.2.840.113549.1.7.2")
SPC_INDIRECT_DATA = object_identifier("1.3.6.1.4.1.311.2.1.4")
TST_INFO = object_identifier("1.2.840.113549.1.9.16.1.4")
RFC3161_TIME_STAMP = object_identifier("1.3.6.1.4.1.311.3.3.1")
COUNTERSIGNATURE = object_identifier("1.2.840.113549.1.9.6")
NESTED_SIGNATURE = object_identifier("1.3.6.1.4.1.311.2.4.1")
RSA_KEY = object_identifier("1.2.840.113549.1.1.1")
EC_KEY = object_identifier("1.2.840.10045.2.1")
SHA256 = algorithm("2.16.840.1.101.3.4.2.1")
# What osslsigncode (OpenSSL) writes as the signer's algorithm for the key of its certificate.
SIGNING_ALGORITHMS = {RSA_KEY: algorithm("1.2.840.113549.1.1.1"),
                      EC_KEY: algorithm("1.2.840.10045.4.3.2", b"")}
# A time-stamp service picks its own digest and signature: those in use, with the parameters
# the standards give them.
STAMP_DIGESTS = {algorithm("2.16.840.1.101.3.4.2." + n, p) for n in "123" for p in (b"", b"\5\0")} | \
    {algorithm("1.3.14.3.2.26", p) for p in (b"", b"\5\0")}
STAMP_SIGNATURES = {algorithm("1.2.840.113549.1.1." + n) for n in ("1", "5", "11", "12", "13")} | \
    {algorithm("1.2.840.10045.4.3." + n, b"") for n in "234"}


class Refused(Exception):
    pass


def printable(text):
    """Text from a download as it may be shown on a terminal: control and format characters
    (escape sequences, carriage returns, direction overrides) and backslashes escaped."""
    return "".join(c if c != "\\" and not unicodedata.category(c).startswith("C") else
                   "\\x%02x" % ord(c) if ord(c) < 0x100 else "\\u%04x" % ord(c) for c in text)


def header(data, at, end):
    """(tag, first byte of the content, end of the element) of the DER element at `at`, which
    must end within `end`: one tag byte, a definite length in its shortest form."""
    if at + 2 > end:
        raise Refused("its signature is cut short")
    tag, length, start = data[at], data[at + 1], at + 2
    if tag & LONG_TAG == LONG_TAG:
        raise Refused("its signature has a tag that DER does not write")
    if length == 0x80:
        raise Refused("its signature has an indefinite length, which DER does not allow")
    if length & 0x80:
        count = length & 0x7F
        if count > 4 or start + count > end:
            raise Refused("its signature is cut short")
        length, start = int.from_bytes(data[start:start + count], "big"), start + count
        if data[at + 2] == 0 or length < 0x80:
            raise Refused("its signature has a length not written in its shortest form")
    if start + length > end:
        raise Refused("its signature has an element that runs past the one holding it")
    return tag, start, start + length


class Node(namedtuple("Node", "tag whole content parts")):
    """A DER element: its tag, its bytes, those of its content, and its elements when it is
    constructed (None when it is not)."""

    def expect(self, tag, count=None, what="its signature"):
        if self.tag != tag or (count is not None and len(self.parts or ()) != count):
            raise Refused("%s is not laid out as it must be" % what)
        return self.parts


def primitive_is_der(tag, content):
    """Whether the content of a universal primitive element is in the one form DER allows."""
    if tag == BOOLEAN:
        return content in (b"\0", b"\xff")
    if tag in (INTEGER, ENUMERATED):
        return len(content) == 1 or len(content) > 1 and not (
            content[0] == 0 and content[1] < 0x80 or content[0] == 0xFF and content[1] >= 0x80)
    if tag == BIT_STRING:
        return len(content) >= 1 and content[0] <= 7 and (len(content) > 1 or content[0] == 0) \
            and not content[-1] & ((1 << content[0]) - 1)
    if tag == NULL:
        return not content
    if tag == OID:
        return len(content) >= 1 and content[-1] < 0x80 and all(
            content[i] != 0x80 for i in range(len(content)) if i == 0 or content[i - 1] < 0x80)
    return tag not in (0, 0x10, 0x11)  # the end of contents, SEQUENCE and SET: never primitive


def parse(data, at=0, end=None, depth=0):
    """The DER element at `at` and everything inside it, in canonical DER: definite shortest
    lengths, no bytes after the last element of a constructed one, strings primitive, SET OF in
    DER order, integers, booleans, bit strings, nulls and object identifiers in their one form."""
    end = len(data) if end is None else end
    tag, start, stop = header(data, at, end)
    content = data[start:stop]
    if not tag & CONSTRUCTED:
        if not tag & CLASS and not primitive_is_der(tag, content):
            raise Refused("its signature is not DER: an element of type %d" % tag)
        return Node(tag, data[at:stop], content, None)
    if depth == MAX_DEPTH:
        raise Refused("its signature nests deeper than any signature does")
    if not tag & CLASS and tag not in (SEQUENCE, SET):
        raise Refused("its signature is not DER: a string in pieces")
    parts, offset = [], start
    while offset < stop:
        part = parse(data, offset, stop, depth + 1)
        parts.append(part)
        offset += len(part.whole)
    if tag == SET:
        in_order(parts)
    return Node(tag, data[at:stop], content, parts)


def in_order(parts):
    """A SET OF in the order DER gives it: its elements sorted by their encodings."""
    encodings = [part.whole for part in parts]
    if encodings != sorted(encodings):
        raise Refused("its signature is not DER: a set out of order")


def dotted(raw):
    numbers, number = [raw[0] // 40, raw[0] % 40], 0
    for byte in raw[1:]:
        number = number << 7 | byte & 0x7F
        if not byte & 0x80:
            numbers.append(number)
            number = 0
    return ".".join(map(str, numbers))


def subject(name):
    """A certificate name as /CN=.../O=..., the attributes in their order, control characters
    escaped."""
    parts = []
    for rdn in name.parts:
        for pair in rdn.expect(SET, what="a certificate's name"):
            if pair.tag != SEQUENCE or len(pair.parts) != 2 or pair.parts[0].tag != OID:
                raise Refused("a certificate's name is not X.509")
            oid, value = pair.parts
            text = value.content.decode("utf-16-be" if value.tag == 0x1E else "utf-8", "replace")
            parts.append("/%s=%s" % (NAMES.get(dotted(oid.content), dotted(oid.content)), text))
    return printable("".join(parts))


Certificate = namedtuple("Certificate", "whole serial issuer subject key")


def certificate(node):
    """The fields of an X.509 certificate that say whose it is and who issued it."""
    tbs = node.expect(SEQUENCE, 3, "a certificate of its signature")[0]
    fields = tbs.expect(SEQUENCE, what="a certificate of its signature")
    if fields and fields[0].tag == CONTEXT_0:  # the version, when not 1
        fields = fields[1:]
    if len(fields) < 6 or fields[0].tag != INTEGER or \
            any(field.tag != SEQUENCE for field in fields[1:6]) or \
            not fields[5].parts or fields[5].parts[0].tag != SEQUENCE or \
            not fields[5].parts[0].parts or fields[5].parts[0].parts[0].tag != OID:
        raise Refused("a certificate of its signature is not X.509")
    return Certificate(node.whole, fields[0].whole, fields[2].whole, fields[4],
                       fields[5].parts[0].parts[0].content)


Signer = namedtuple("Signer", "issuer serial digest algorithm stamps")


def signer_info(node, what, stamps_allowed):
    """A SignerInfo named by issuer and serial number, with signed attributes; its unsigned
    attributes, when `stamps_allowed`, hold at most one time stamp and nothing else."""
    fields = node.expect(SEQUENCE, what=what)
    if len(fields) not in (6, 7) or fields[0].whole != b"\x02\x01\x01":
        raise Refused("%s is not of version 1" % what)
    identity, digest, signed, signing, value = fields[1:6]
    if identity.tag != SEQUENCE or len(identity.parts) != 2 or identity.parts[1].tag != INTEGER:
        raise Refused("%s is not named by issuer and serial number" % what)
    if digest.tag != SEQUENCE or signing.tag != SEQUENCE or value.tag != OCTET_STRING or \
            fields[6:] and fields[6].tag != CONTEXT_1:
        raise Refused("%s is not PKCS#7 signed data as Authenticode makes it" % what)
    if signed.tag != CONTEXT_0:
        raise Refused("%s has no signed attributes" % what)
    for attributes in fields[3:4] + fields[6:]:
        in_order(attributes.parts)
        for attribute in attributes.parts:
            if attribute.tag != SEQUENCE or len(attribute.parts) != 2 or \
                    attribute.parts[0].tag != OID or attribute.parts[1].tag != SET or \
                    not attribute.parts[1].parts:
                raise Refused("%s has an attribute that is not one" % what)
    stamps = []
    for attribute in fields[6].parts if len(fields) == 7 else []:
        kind = attribute.parts[0].content
        if kind == NESTED_SIGNATURE:
            raise Refused("it carries a nested second signature (1.3.6.1.4.1.311.2.4.1), "
                          "which this check does not examine")
        if kind not in (RFC3161_TIME_STAMP, COUNTERSIGNATURE) or not stamps_allowed:
            raise Refused("%s carries an attribute that no signature covers (%s)" %
                          (what, dotted(kind)))
        stamps += [(kind, value) for value in attribute.parts[1].parts]
    if len(stamps) > 1:
        raise Refused("its signature carries more than one time stamp")
    return Signer(identity.parts[0].whole, identity.parts[1].whole, digest.whole,
                  signing.whole, stamps)


def chain(certificates, issuer, serial, what):
    """The certificates from the one that issuer and serial number name up the issuers that
    the set holds, each once."""
    found = [c for c in certificates if (c.issuer, c.serial) == (issuer, serial)]
    if not found:
        raise Refused("%s does not carry the certificate that made it" % what)
    links = found[:1]
    while links[-1].issuer != links[-1].subject.whole:
        above = [c for c in certificates if c.subject.whole == links[-1].issuer and c not in links]
        if not above:
            break
        links.append(above[0])
    return links


SignedData = namedtuple("SignedData", "signer certificates stamps")


def signed_data(node, version, content_type, what):
    """The one signature of PKCS#7 (or, for a time stamp, CMS) signed data: of the given
    version, one digest algorithm, the signer's, content of the given type, the certificates of
    the signer's chain only (and of a countersigner's, when there is one), no revocation lists,
    one signer."""
    kind, explicit = node.expect(SEQUENCE, 2, what)
    if kind.tag != OID or kind.content != SIGNED_DATA:
        raise Refused("%s holds no PKCS#7 signed data" % what)
    fields = explicit.expect(CONTEXT_0, 1, what)[0].expect(SEQUENCE, what=what)
    if len(fields) not in (4, 5) or fields[0].tag != INTEGER or fields[1].tag != SET or \
            fields[-1].tag != SET or len(fields) == 5 and fields[3].tag != CONTEXT_0:
        raise Refused("%s is not PKCS#7 signed data as Authenticode makes it (or carries "
                      "revocation lists)" % what)
    if fields[0].whole != b"\x02\x01" + bytes([version]):
        raise Refused("%s is not of version %d" % (what, version))
    content = fields[2].expect(SEQUENCE, 2, what)
    if content[0].tag != OID or content[0].content != content_type or \
            content[1].expect(CONTEXT_0, 1, what)[0].tag not in (SEQUENCE, OCTET_STRING):
        raise Refused("%s signs content of another type than a signature of its kind" % what)
    if len(fields[-1].parts) != 1:
        raise Refused("%s does not have exactly one signer" % what)
    signer = signer_info(fields[-1].parts[0], "the signer of " + what, version == 1)
    if [part.whole for part in fields[1].parts] != [signer.digest]:
        raise Refused("%s lists other digest algorithms than its signer's" % what)
    bag = fields[3].parts if len(fields) == 5 else []
    if len(bag) > MAX_CERTIFICATES:
        raise Refused("%s carries more certificates than a chain has" % what)
    in_order(bag)
    certificates = [certificate(part) for part in bag]
    allowed = chain(certificates, signer.issuer, signer.serial, what)
    stamps = []
    for kind, value in signer.stamps:
        if kind == RFC3161_TIME_STAMP:
            stamps.append(signed_data(value, 3, TST_INFO, "its time stamp"))
        else:
            stamp = signer_info(value, "its countersignature", False)
            stamps.append(SignedData(stamp, chain(certificates, stamp.issuer, stamp.serial,
                                                  "its countersignature"), []))
            allowed += stamps[-1].certificates
        if stamps[-1].signer.digest not in STAMP_DIGESTS or \
                stamps[-1].signer.algorithm not in STAMP_SIGNATURES:
            raise Refused("its time stamp is signed with algorithms time stamps do not use")
    strangers = [c for c in certificates if c not in allowed]
    if strangers:
        raise Refused("%s carries a certificate that is not of its signer's chain: %s" %
                      (what, subject(strangers[0].subject)))
    return SignedData(signer, allowed[:1] + [c for c in certificates if c != allowed[0]], stamps)


Signature = namedtuple("Signature", "fingerprint subject certificates stamp_certificates")


def read_signature(signature):
    """The signing certificate (SHA-256 fingerprint, subject), the certificates of the
    signature and those of its time stamp, when the signature is an Authenticode signature as
    tools/sign makes it and nothing else; Refused otherwise."""
    made = signed_data(parse(signature), 1, SPC_INDIRECT_DATA, "its signature")
    if made.signer.digest != SHA256:
        raise Refused("its signature is not made with SHA-256, as tools/sign makes it")
    own = made.certificates[0]
    if made.signer.algorithm != SIGNING_ALGORITHMS.get(own.key):
        raise Refused("its signature names another algorithm than tools/sign writes for its key")
    stamp = [c.whole for s in made.stamps for c in s.certificates]
    return Signature(hashlib.sha256(own.whole).hexdigest(), subject(own.subject),
                     [c.whole for c in made.certificates], stamp)


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
    tag, content, signature_end = header(data, start, offset + size)
    if tag != SEQUENCE or not data.startswith(b"\x06\x09" + SIGNED_DATA, content):
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


def main():
    table = certificate_table(open(sys.argv[1], "rb").read())
    if table is not None:
        made = read_signature(table)
        print("SHA256 %s  %s" % (made.fingerprint, made.subject))


if __name__ == "__main__":
    try:
        main()
    except Refused as reason:
        sys.exit("[kestrevel] %s: %s" % (printable(sys.argv[1]), reason))
