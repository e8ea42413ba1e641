#!/usr/bin/env python3
"""Writes the seed corpora of the fast TLS fuzzers (fuzz/corpus/tls_*)."""
import base64
import os
import random
import re

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
random.seed(7)


def hex_constants(path):
    text = open(path).read()
    found = {}
    for name, body in re.findall(r'(k\w+Hex) =\s*((?:\s*"[0-9a-f]*")+);', text):
        found[name] = bytes.fromhex("".join(re.findall(r'"([0-9a-f]*)"', body)))
    return found


certs = hex_constants(os.path.join(ROOT, "tests/tls/test_certificates.h"))
small_key = hex_constants(os.path.join(ROOT, "fuzz/tls/small_key.h"))["kSmallKeyHex"]


def length(n, width):
    return n.to_bytes(width, "big")


def der(tag, content):
    n = len(content)
    head = bytes([n]) if n < 0x80 else b"\x82" + length(n, 2)
    return bytes([tag]) + head + content


def der_integers(data):
    # The integers of a SEQUENCE (RSAPrivateKey).
    def element(buf):
        tag, n, at = buf[0], buf[1], 2
        if n & 0x80:
            count = n & 0x7F
            n = int.from_bytes(buf[2:2 + count], "big")
            at = 2 + count
        return tag, buf[at:at + n], buf[at + n:]

    _, body, _ = element(data)
    values = []
    while body:
        _, content, body = element(body)
        values.append(int.from_bytes(content, "big"))
    return values


def write(target, name, data):
    folder = os.path.join(ROOT, "fuzz/corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


SUITES = [b"\x00\x2f", b"\x00\x35", b"\x00\x04", b"\x00\x05"]

# ServerHello bodies.
for k, suite in enumerate(SUITES):
    write("tls_server_hello", f"suite-{suite.hex()}", b"\x00" + b"\x03\x01" + b"R" * 32 + b"\x00" + suite + b"\x00")
write("tls_server_hello", "resumed-id", b"\x01\x03\x01" + b"R" * 32 + b"\x20" + b"S" * 32 + b"\x00\x2f\x00")
write("tls_server_hello", "ssl3", b"\x00\x03\x00" + b"R" * 32 + b"\x00\x00\x2f\x00")
write("tls_server_hello", "renegotiation-info",
      b"\x00\x03\x01" + b"R" * 32 + b"\x00\x00\x35\x00" + b"\x00\x05\xff\x01\x00\x01\x00")

# Certificate bodies.
def certificate_body(chain):
    listed = b"".join(length(len(c), 3) + c for c in chain)
    return length(len(listed), 3) + listed


write("tls_certificate_message", "chain-verify", b"\x01" + certificate_body([certs["kServerHex"], certs["kCaHex"]]))
write("tls_certificate_message", "chain-parse", b"\x00" + certificate_body([certs["kServerHex"], certs["kCaHex"]]))
write("tls_certificate_message", "md5-verify", b"\x01" + certificate_body([certs["kServerMd5Hex"]])
      if "kServerMd5Hex" in certs else b"\x01" + certificate_body([certs["kServerHex"]]))
write("tls_certificate_message", "empty", b"\x01\x00\x00\x00")

# CertificateRequest bodies: one naming the small identity's issuer (CN=fuzz).
fuzz_name = der(0x31, der(0x30, der(0x06, b"\x55\x04\x03") + der(0x0C, b"fuzz")))
other_name = der(0x31, der(0x30, der(0x06, b"\x55\x04\x03") + der(0x0C, b"Other CA")))
for label, name in (("matching", fuzz_name), ("other", other_name)):
    authority = der(0x30, name)
    write("tls_certificate_request", label,
          b"\x01\x01" + length(len(authority) + 2, 2) + length(len(authority), 2) + authority)
write("tls_certificate_request", "no-authorities", b"\x02\x01\x02\x00\x00")

# ServerHelloDone: flag bytes only.
for flags in (0x00, 0x01, 0x02, 0x04, 0x08, 0x0C):
    write("tls_server_hello_done", f"flags-{flags:02x}", bytes([flags]))

# Finished bodies.
for flags in (0x00, 0x01, 0x02, 0x04, 0x09, 0x20, 0x21):
    size = 36 if flags & 0x20 else 12
    write("tls_finished", f"flags-{flags:02x}", bytes([flags]) + bytes(random.randrange(256) for _ in range(size)))

# ClientHello bodies.
def client_hello(version, session, suites, extensions=b""):
    body = version + b"C" * 32 + bytes([len(session)]) + session
    body += length(len(suites), 2) + suites + b"\x01\x00"
    if extensions:
        body += length(len(extensions), 2) + extensions
    return body


name = b"pbx.example.com"
sni = b"\x00\x00" + length(len(name) + 5, 2) + length(len(name) + 3, 2) + b"\x00" + length(len(name), 2) + name
write("tls_client_hello", "ours", b"\x00" + client_hello(b"\x03\x01", b"", b"".join(SUITES), sni))
write("tls_client_hello", "resume", b"\x01" + client_hello(b"\x03\x01", b"S" * 32, b"".join(SUITES)))
write("tls_client_hello", "unknown-session", b"\x01" + client_hello(b"\x03\x01", b"X" * 32, b"\x00\x35"))
write("tls_client_hello", "ssl3", b"\x00" + client_hello(b"\x03\x00", b"", b"\x00\x04"))
write("tls_client_hello", "ssl2", b"\x00" + client_hello(b"\x02\x00", b"", b"\x00\x2f"))
write("tls_client_hello", "no-common-suite", b"\x00" + client_hello(b"\x03\x01", b"", b"\xc0\x2f\x00\x0a"))

# ClientKeyExchange bodies: a pre-master secret under the small key.
_, n, e, *_ = der_integers(small_key)
k = (n.bit_length() + 7) // 8
for flags, version in ((0x00, b"\x03\x01"), (0x01, b"\x03\x00"), (0x06, b"\x03\x01"), (0x0C, b"\x03\x01")):
    pre_master = version + bytes(random.randrange(256) for _ in range(46))
    padding = bytes(random.randrange(1, 256) for _ in range(k - 3 - len(pre_master)))
    block = b"\x00\x02" + padding + b"\x00" + pre_master
    encrypted = pow(int.from_bytes(block, "big"), e, n).to_bytes(k, "big")
    body = encrypted if flags & 1 else length(k, 2) + encrypted
    write("tls_client_key_exchange", f"flags-{flags:02x}", bytes([flags]) + body)
write("tls_client_key_exchange", "too-large", b"\x00" + length(k, 2) + b"\xff" * k)

# Records: sealed sequences and a raw record per suite.
def sealed(flags, records):
    return bytes([flags | 0x08]) + b"".join(bytes([t]) + length(len(p), 2) + p for t, p in records)


for suite in range(4):
    write("tls_records", f"sealed-data-{suite}", sealed(suite, [(23, b"<invoke/>"), (23, b""), (23, b"x" * 300)]))
    write("tls_records", f"raw-{suite}", bytes([suite]) + b"\x17\x03\x01\x00\x20" + bytes(32))
write("tls_records", "sealed-alerts", sealed(0, [(21, b"\x01\x00"), (21, b"\x02\x28"), (21, b"\x01")]))
write("tls_records", "sealed-handshake", sealed(4, [(22, b"\x00\x00\x00\x00"), (22, b"\x14\x00\x00\x0c" + b"F" * 12)]))
write("tls_records", "sealed-ccs", sealed(1, [(20, b"\x01"), (23, b"after")]))
write("tls_records", "sealed-not-done", sealed(0x10, [(23, b"early"), (99, b"odd")]))
write("tls_records", "sealed-ssl3", sealed(0x22, [(23, b"ssl3 data")]))

# DER.
write("tls_der", "certificate", certs["kServerHex"])
write("tls_der", "name", fuzz_name + other_name)
write("tls_der", "key", small_key)

# Private keys: each test fixture as its PEM text and as bare DER.
fixtures = open(os.path.join(ROOT, "tests/tls/private_key_fixtures.h")).read()
for name, pem in re.findall(r'\{"(\w+)", R"\((.*?)\)"', fixtures, re.S):
    write("tls_private_key", f"pem-{name}", pem.encode())
    body = re.search(r"-----BEGIN [A-Z ]*PRIVATE KEY-----\n(.*?)-----END", pem, re.S)
    if body and "Proc-Type" not in body.group(1):
        write("tls_private_key", f"der-{name}", base64.b64decode(body.group(1)))
