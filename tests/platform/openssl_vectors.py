#!/usr/bin/env python3
"""Makes fresh keys and signatures with the openssl command line, an implementation
independent of the launcher's own use of CNG or libcrypto, for crypto_tests to check.

Usage: openssl_vectors.py OUT_FOLDER

Writes into OUT_FOLDER:
  sec1.pem, pkcs8.pem          P-256 keys as `openssl ecparam -genkey` / `openssl genpkey` write them
  p384.pem, ed25519.pem,
  encrypted.pem, public.pem    key files the launcher's tools must refuse
  vectors.txt                  "key NAME HEX(X||Y)" for each P-256 key file, then
                               "sig HEX(message) HEX(r||s)" made with sec1.pem
"""
import os
import shutil
import subprocess
import sys


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=True).stdout


def public_xy(pem):
    der = openssl("pkey", "-in", pem, "-pubout", "-outform", "DER")
    assert der[-65] == 4, "an uncompressed point ends the public key"
    return der[-64:]


def der_to_raw(sig):
    """ECDSA-Sig-Value (SEQUENCE of two INTEGERs) to r||s, each left-padded to 32 bytes."""
    assert sig[0] == 0x30 and sig[1] == len(sig) - 2, sig.hex()
    out, at = b"", 2
    for _ in range(2):
        assert sig[at] == 0x02
        length = sig[at + 1]
        value = sig[at + 2: at + 2 + length].lstrip(b"\0")
        assert len(value) <= 32
        out += value.rjust(32, b"\0")
        at += 2 + length
    assert at == len(sig)
    return out


def main():
    out = sys.argv[1]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)

    def path(name):
        return os.path.join(out, name)

    openssl("ecparam", "-genkey", "-name", "prime256v1", "-out", path("sec1.pem"))
    openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", path("pkcs8.pem"))
    openssl("ecparam", "-genkey", "-name", "secp384r1", "-noout", "-out", path("p384.pem"))
    openssl("genpkey", "-algorithm", "ed25519", "-out", path("ed25519.pem"))
    openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-aes-128-cbc",
            "-pass", "pass:secret", "-out", path("encrypted.pem"))
    openssl("pkey", "-in", path("pkcs8.pem"), "-pubout", "-out", path("public.pem"))

    lines = ["key %s %s" % (name, public_xy(path(name)).hex()) for name in ("sec1.pem", "pkcs8.pem")]
    messages = [b"", b"a", b"abc", os.urandom(1000)] + [os.urandom(37) for _ in range(12)]
    for message in messages:
        sig = openssl("dgst", "-sha256", "-sign", path("sec1.pem"), data=message)
        lines.append("sig %s %s" % (message.hex() or "-", der_to_raw(sig).hex()))
    with open(path("vectors.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
