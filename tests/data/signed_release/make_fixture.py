#!/usr/bin/env python3
"""Makes the signed patch directory the C interface test checks, with
Python's gzip, hashlib and the cryptography package: an implementation of
its own, so the library is tested against what another signer writes.
Run it in this folder; the keys are fixed, so its output never changes."""
import gzip
import hashlib

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey

TRUSTED_SEED = bytes(range(1, 33))
OTHER_SEED = bytes(range(101, 133))


def public_line(seed):
    key = Ed25519PrivateKey.from_private_bytes(seed).public_key()
    raw = key.public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)
    return "ed25519-public " + raw.hex() + "\n"


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


files = {".\\readme.txt": b"read me\r\n", ".\\bin\\tool": b"#!/bin/sh\necho tool\n"}
compressed = {p: gzip.compress(b, mtime=0) for p, b in files.items()}
version_list = "".join(
    "%s,%s,%d\r\n" % (p, hashlib.md5(b).hexdigest(), len(compressed[p])) for p, b in files.items()
).encode()
vercomp = gzip.compress(version_list, mtime=0)
ver = gzip.compress((hashlib.md5(version_list).hexdigest() + "\r\n").encode(), mtime=0)
write("VerComp.dat", vercomp)
write("Ver", ver)

lines = [
    "filedist-manifest 1",
    "sequence 5",
    "built 2026-12-07T12:00:00Z",
    "vercomp %s %d" % (hashlib.sha256(vercomp).hexdigest(), len(vercomp)),
    "ver %s %d" % (hashlib.sha256(ver).hexdigest(), len(ver)),
]
for path, body in files.items():
    mode = "x" if path.endswith("tool") else "-"
    lines.append("file %s %d %d %s %s" % (hashlib.sha256(body).hexdigest(), len(body),
                                          len(compressed[path]), mode, path))
lines.append("end %d" % len(files))
manifest = ("\n".join(lines) + "\n").encode()
write("Manifest", manifest)
signature = Ed25519PrivateKey.from_private_bytes(TRUSTED_SEED).sign(manifest)
write("Manifest.sig", ("ed25519-signature " + signature.hex() + "\n").encode())
write("trusted.pub", public_line(TRUSTED_SEED).encode())
write("other.pub", public_line(OTHER_SEED).encode())
