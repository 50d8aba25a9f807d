#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/...). The files are kept in the
repository; run this again after changing the seeds here. Layouts: see fuzz_harness.h."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
LDAP = "1.3.6.1.4.1.1466.115.121.1."
DIRECTORY_STRING = LDAP + "15"
GENERALIZED_TIME = LDAP + "24"
UTC_TIME = LDAP + "53"
INTEGER = LDAP + "27"
BOOLEAN = LDAP + "7"
OCTET_STRING = LDAP + "40"
DN = LDAP + "12"
NUMERIC = LDAP + "36"
PRINTABLE = LDAP + "44"
LARGE_INTEGER = "1.2.840.113556.1.4.906"
SECURITY_DESCRIPTOR = "1.2.840.113556.1.4.907"
DN_WITH_BINARY = "1.2.840.113556.1.4.903"
DN_WITH_STRING = "1.2.840.113556.1.4.904"


def attribute(syntax, *values):
    return syntax.encode() + b"\n" + b"\x1e".join(values)


def attribute_seeds():
    s = {}
    # Strings: valid and broken UTF-8, NUL bytes, a 1 MiB value.
    s["string-plain"] = attribute(DIRECTORY_STRING, b"Sales", b"North", b"East")
    s["string-invalid-utf8"] = attribute(
        DIRECTORY_STRING, b"\xc3\x28", b"\xff\xfe\xfd", b"\xc0\xaf", b"\xed\xa0\x80", b"\xe2\x82", b"caf\xc3")
    s["string-astral"] = attribute(DIRECTORY_STRING, "😀 Zoë 東京".encode())
    s["string-embedded-nul"] = attribute(DIRECTORY_STRING, b"ab\x00cd", b"\x00", b"\x00\x00tail", b"")
    s["string-1mib"] = attribute(DIRECTORY_STRING, ("Ünïcødé-" * (1 << 17)).encode()[: 1 << 20])
    s["string-1mib-ascii-crlf"] = attribute(DIRECTORY_STRING, (b"line,one\r\n" * (1 << 17))[: 1 << 20])
    s["dn-and-printable"] = attribute(DN, b"cn=Ann Lee,ou=Users,dc=brevonix,dc=test")
    s["printable"] = attribute(PRINTABLE, b"GB", b"\x80\x81")
    s["numeric"] = attribute(NUMERIC, b"0123 456", b"\xf0\x9f")
    # Times.
    s["time-generalized-list"] = attribute(
        GENERALIZED_TIME, b"20090305140709.0Z", b"20240229120000Z", b"19700101000000.123456789Z")
    s["time-too-many-nines"] = attribute(GENERALIZED_TIME, b"99999999999999Z")
    s["time-year-only"] = attribute(GENERALIZED_TIME, b"2024")
    s["time-bad-among-good"] = attribute(GENERALIZED_TIME, b"20240101000000Z", b"20230229120000Z")
    s["time-leap-second"] = attribute(GENERALIZED_TIME, b"20161231235960Z")
    s["time-calendar-ends"] = attribute(
        GENERALIZED_TIME, b"99991231235959-2359", b"00010101000000+2359", b"16010101000000Z", b"16010101000000+0100")
    s["time-fractions-and-zones"] = attribute(
        GENERALIZED_TIME, b"2024010112Z", b"202401011200.5Z", b"20240101120000,5+0530", b"20240101120000.Z",
        b"20240101120000+05", b"20240101120000.99999999999999999999Z")
    s["time-utc"] = attribute(UTC_TIME, b"0903051407Z", b"490101000000Z", b"991231235959+1400", b"500101000000-1200")
    s["time-utc-junk"] = attribute(UTC_TIME, b"09030514", b"0913051407Z", b"090305140799Z")
    # Integers.
    s["integer-ranges"] = attribute(INTEGER, b"512", b"-1", b"2147483648", b"4294967295")
    s["integer-30-digits"] = attribute(INTEGER, b"123456789012345678901234567890")
    s["integer-junk"] = attribute(INTEGER, b"12abc", b" 12", b"+5", b"-", b"", b"0x10", b"1e3", b"\x00")
    s["integer-overflow"] = attribute(INTEGER, b"4294967296", b"-2147483649")
    s["large-integer-ranges"] = attribute(
        LARGE_INTEGER, b"9223372036854775807", b"-9223372036854775808", b"0", b"-0", b"3000000000")
    s["large-integer-30-digits"] = attribute(LARGE_INTEGER, b"-123456789012345678901234567890")
    s["large-integer-junk"] = attribute(LARGE_INTEGER, b"9223372036854775808", b"12 34")
    s["boolean"] = attribute(BOOLEAN, b"TRUE", b"false", b"FALSE")
    s["boolean-junk"] = attribute(BOOLEAN, b"yes", b"TRUE\x00", b"")
    # Octet strings of every length from none to sixteen, and a longer one.
    for n in range(0, 17):
        s["octets-%02d" % n] = attribute(OCTET_STRING, bytes(range(n)))
    s["octets-28"] = attribute(OCTET_STRING, bytes(range(28)))
    s["octets-several"] = attribute(OCTET_STRING, b"", bytes(range(3)), bytes(range(16)))
    s["security-descriptor"] = attribute(SECURITY_DESCRIPTOR, b"\x01\x00\x04\x80" + b"\x00" * 16)
    # DN-with records and their broken forms.
    s["dn-with-binary"] = attribute(DN_WITH_BINARY, b"B:8:0123ABCD:cn=x,dc=y", b"B:0::cn=x")
    s["dn-with-binary-junk"] = attribute(
        DN_WITH_BINARY, b"B:3:abc:cn=x", b"B:4294967295:", b"B:-1:ab:x", b"B:99999999999999999999:x", b"B:2:zz:x")
    s["dn-with-string"] = attribute(DN_WITH_STRING, b"S:5:hello:cn=x", b"S:0::", b"S::", b"S:9:short:")
    # Schemas that lie or are junk.
    s["syntax-junk"] = attribute("1.3.6.1.4.1.1466.115.121.1.27{", b"42")
    s["syntax-negative-arc"] = attribute(LDAP + "-5", b"x")
    s["syntax-huge-arc"] = attribute(LDAP + "99999999999999999999", b"x")
    s["syntax-bound-and-quotes"] = attribute(" '" + INTEGER + "{32}' ", b"7")
    s["syntax-empty"] = attribute("", b"text")
    s["no-values-line"] = INTEGER.encode()
    return s


def schema_seeds():
    s = {}
    s["misbehaving-server"] = "\n".join([
        "( 2.5.4.3 NAME 'cn' SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )",
        "( 2.5.4.13 NAME 'description' SYNTAX 1.3.6.1.4.1.1466.115.121.1.24 )",
        "( 2.5.4.43 NAME 'initials' SYNTAX 1.3.6.1.4.1.1466.115.121.1.27 )"]).encode()
    s["slapd-like-sup-chain"] = "\n".join([
        "( 2.5.4.41 NAME 'name' EQUALITY caseIgnoreMatch SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{32768} )",
        "( 2.5.4.4 NAME ( 'sn' 'surname' ) SUP name )",
        "( 2.5.4.42 NAME ( 'givenName' 'gn' ) SUP name )",
        "( 2.5.4.9 NAME ( 'street' 'streetAddress' ) EQUALITY caseIgnoreMatch "
        "SYNTAX 1.3.6.1.4.1.1466.115.121.1.15{128} )"]).encode()
    s["ad-like"] = "\n".join([
        "( 1.2.840.113556.1.4.2 NAME 'objectGUID' SYNTAX '1.3.6.1.4.1.1466.115.121.1.40' SINGLE-VALUE "
        "NO-USER-MODIFICATION )",
        "( 1.2.840.113556.1.4.96 NAME 'pwdLastSet' SYNTAX '1.2.840.113556.1.4.906' SINGLE-VALUE )",
        "( 1.2.840.113556.2.281 NAME 'nTSecurityDescriptor' SYNTAX '1.2.840.113556.1.4.907' )",
        "( 1.2.840.113556.1.2.2 NAME 'whenCreated' SYNTAX '1.3.6.1.4.1.1466.115.121.1.24' )"]).encode()
    s["sup-loop"] = "\n".join([
        "( 1.1 NAME 'a' SUP b )", "( 1.2 NAME 'b' SUP c )", "( 1.3 NAME 'c' SUP a )",
        "( 1.4 NAME 'self' SUP self )", "( 1.5 NAME 'dangling' SUP nowhere )"]).encode()
    s["names-twice-and-junk"] = "\n".join([
        "( 1.1 NAME 'x' SYNTAX 1.3.6.1.4.1.1466.115.121.1.27 )",
        "( 1.2 NAME 'X' SYNTAX 1.3.6.1.4.1.1466.115.121.1.24 )",
        "( 1.1 NAME 'y' )", "(", "", "( NAME 'noOid' )", "\x00\xff( 1.9 NAME '\xc3\x28' )",
        "( 1.3 NAME 'z' SYNTAX 1.3.6.1.4.1.1466.115.121.1.99999999999999999999 )"]).encode("latin-1")
    return s


def utf16(text):
    return text.encode("utf-16-le", "surrogatepass")


def csv(count, rows):
    """rows: list of lists of str (the first is the headings)."""
    body = "\x1e".join("\x1f".join(cells) for cells in rows)
    return struct.pack("b", count) + utf16(body)


def csv_seeds():
    s = {}
    headings = ["NAME", "FIRST NAME", "INITIAL", "LAST NAME", "DISPLAY NAME", "DESCRIPTION"]
    s["example"] = csv(6, [headings, ["Ann Lee", "Ann", "-", "Lee", "Ann Lee", "Sales"],
                           ["Bob Roe", "Bob", "J", "Roe", "Bob Roe", "-"]])
    s["commas-quotes-newlines"] = csv(2, [["A", "B"], ['a,b', 'say "hi"'], ["x\ny", "cr\ralone"]])
    s["latin1-and-beyond"] = csv(3, [["é", "ÿ", "x"], ["caf\u00e9", "euro \u20ac", "never"], ["z", "z", "z"]])
    s["lone-surrogates"] = csv(2, [["H"], ["\ud800", "\udfff"]])
    s["fewer-cells-than-count"] = csv(3, [["A", "B", "C"], ["one", "two"]])
    s["more-cells-than-count"] = csv(3, [["A"], ["1", "2", "3", "4"]])
    s["count-zero"] = csv(0, [["A"], ["1"]])
    s["count-negative"] = csv(-5, [["A"], ["1"]])
    s["no-headings"] = csv(1, [[], ["1"]])
    s["empty"] = b"\x01"
    # Longer than the writer's 64 KiB buffer once every line feed is two bytes.
    s["crosses-the-buffer"] = csv(2, [["A", "B"], ["\n" * 40000, "x" * 30000], ["after", "buffer"]])
    s["beyond-latin1-after-the-buffer"] = csv(1, [["A"], ["y" * 70000 + "\u0100"]])
    return s


def ber(tag, contents, long_octets=0):
    """One BER element; long_octets > 0 writes the length in that many octets (long form)."""
    n = len(contents)
    if long_octets:
        head = bytes([0x80 | long_octets]) + n.to_bytes(long_octets, "big")
    elif n < 0x80:
        head = bytes([n])
    else:
        size = (n.bit_length() + 7) // 8
        head = bytes([0x80 | size]) + n.to_bytes(size, "big")
    return bytes([tag]) + head + contents


def ber_attribute(name, *values, long_octets=0):
    return ber(0x30, ber(0x04, name) + ber(0x31, b"".join(ber(0x04, v, long_octets) for v in values)))


def ber_seeds():
    s = {}
    s["entry"] = b"".join([
        ber_attribute(b"objectClass", b"top", b"person", b"user"),
        ber_attribute(b"cn", b"Ann Lee"),
        ber_attribute(b"mail", b"ann.lee@brevonix.test"),
        ber_attribute(b"objectGUID", bytes(range(16))),
        ber_attribute(b"description"),  # no values (types only)
    ])
    s["long-form-lengths"] = (ber_attribute(b"cn", b"x" * 200, b"", long_octets=2)
                              + ber_attribute(b"sn", b"Lee", long_octets=4))
    s["value-of-three-length-octets"] = ber_attribute(b"jpegPhoto", b"\xff" * 70000)
    whole = ber_attribute(b"cn", b"Ann Lee", b"Bob Roe")
    s["truncated"] = whole[:-3]
    s["length-beyond-the-end"] = b"\x30\x84\x7f\xff\xff\xff" + whole[2:]
    s["length-of-eight-octets"] = b"\x30\x88" + b"\xff" * 8 + whole[2:]
    s["length-of-nine-octets"] = b"\x30\x89" + b"\x00" * 8 + b"\x05" + whole[2:]
    s["indefinite-length"] = b"\x30\x80" + whole[2:] + b"\x00\x00"
    s["high-tag-number"] = b"\x1f\x81\x01\x02ab" + whole
    s["value-length-beyond-its-set"] = ber(0x30, ber(0x04, b"cn") + ber(0x31, b"\x04\x10abc"))
    s["type-not-a-string"] = ber(0x30, ber(0x02, b"\x01") + ber(0x31, ber(0x04, b"v")))
    s["values-not-a-set"] = ber(0x30, ber(0x04, b"cn") + ber(0x30, ber(0x04, b"v")))
    s["empty-elements"] = b"\x30\x00" + ber(0x30, ber(0x04, b"") + ber(0x31, b"\x04\x00\x04\x00"))
    return s


def write(folder, seeds):
    """Replaces the generated seeds; inputs found by fuzzing (regression-*, upstream-*) stay."""
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name in os.listdir(path):
        if not name.startswith(("regression-", "upstream-")):
            os.remove(os.path.join(path, name))
    for name, data in sorted(seeds.items()):
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("attribute_values", attribute_seeds())
    write("csv_writer", csv_seeds())
    write("ber_attributes", ber_seeds())
    write("schema", schema_seeds())
