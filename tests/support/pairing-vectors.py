#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Prints the test vectors of the key hand-off that docs/pairing.md lists.

An implementation apart from the application's: Python's cryptography package does X25519,
HKDF-SHA256 and AES-256-GCM, and this file spells out the rest (the QR text, the inputs of the
key derivation, the record's wire JSON) from the protocol as docs/pairing.md describes it.
It first checks the package against the published answers of RFC 7748 and RFC 5869, then
derives the vectors from fixed inputs, opens the record again as the desktop does, and prints
the block that docs/pairing.md shows:

    python3 tests/support/pairing-vectors.py
"""

import base64
import datetime
import hashlib
import hmac
import json
import sys

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric.x25519 import X25519PrivateKey, X25519PublicKey
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

INFO = b"zorvik key hand-off v1"

# The fixed inputs. Real hand-offs take every one of them from a secure random source, except
# expiresAt, which the phone sets at most 10 minutes ahead.
DESKTOP_PRIVATE = bytes(range(0x10, 0x30))
PHONE_PRIVATE = bytes(range(0x30, 0x50))
PAIRING_ID = bytes(range(0xA0, 0xB0))
NONCE = bytes(range(0xC0, 0xCC))
SYNC_KEY = bytes(range(0xE0, 0x100))
NOW = datetime.datetime(2026, 3, 1, 12, 0, 0, tzinfo=datetime.timezone.utc)
EXPIRES_AT = NOW + datetime.timedelta(minutes=10)


def public_of(private_bytes):
    return (
        X25519PrivateKey.from_private_bytes(private_bytes)
        .public_key()
        .public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)
    )


def x25519(private_bytes, public_bytes):
    return X25519PrivateKey.from_private_bytes(private_bytes).exchange(
        X25519PublicKey.from_public_bytes(public_bytes)
    )


def hkdf_sha256(ikm, salt, info, length):
    return HKDF(algorithm=hashes.SHA256(), length=length, salt=salt, info=info).derive(ikm)


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode("ascii")


def b64(data):
    return base64.b64encode(data).decode("ascii")


def milliseconds(instant):
    return int(instant.timestamp()) * 1000


def check_published_answers():
    # RFC 7748, section 6.1.
    alice = bytes.fromhex("77076d0a7318a57d3c16c17251b26645df4c2f87ebc0992ab177fba51db92c2a")
    bob = bytes.fromhex("5dab087e624a8a4b79e17f8b83800ee66f3bb1292618b6fd1c2f8b27ff88e0eb")
    alice_public = public_of(alice)
    bob_public = public_of(bob)
    assert alice_public.hex() == "8520f0098930a754748b7ddcb43ef75a0dbf3a0d26381af4eba4a98eaa9b4e6a"
    assert bob_public.hex() == "de9edb7d7b7dc1b4d35b61c2ece435373f8343c85b78674dadfc7e146f882b4f"
    shared = "4a5d9d5ba4ce2de1728e3bf480350f25e07e21c947d19e3376f09b3c1e161742"
    assert x25519(alice, bob_public).hex() == shared
    assert x25519(bob, alice_public).hex() == shared

    # RFC 5869, test case 1: the pseudorandom key of the extract step, then the output.
    ikm = bytes.fromhex("0b" * 22)
    salt = bytes.fromhex("000102030405060708090a0b0c")
    prk = hmac.new(salt, ikm, hashlib.sha256).digest()
    assert prk.hex() == "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5"
    okm = hkdf_sha256(ikm, salt, bytes.fromhex("f0f1f2f3f4f5f6f7f8f9"), 42)
    assert okm.hex() == (
        "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"
    )


def main():
    check_published_answers()

    # The desktop's offer.
    desktop_public = public_of(DESKTOP_PRIVATE)
    qr_text = f"zorvik://pair?v=1&id={b64url(PAIRING_ID)}&pk={b64url(desktop_public)}"

    # The phone's answer.
    phone_public = public_of(PHONE_PRIVATE)
    shared = x25519(PHONE_PRIVATE, desktop_public)
    key = hkdf_sha256(shared, PAIRING_ID, INFO + desktop_public + phone_public, 32)
    sealed = NONCE + AESGCM(key).encrypt(NONCE, SYNC_KEY, PAIRING_ID)
    assert len(sealed) == 60
    record = {
        "recordName": "key-handoff",
        "recordType": "KeyHandoff",
        "fields": {
            "pairingID": {"type": "BYTES", "value": b64(PAIRING_ID)},
            "phoneKey": {"type": "BYTES", "value": b64(phone_public)},
            "sealedKey": {"type": "BYTES", "value": b64(sealed)},
            "expiresAt": {"type": "TIMESTAMP", "value": milliseconds(EXPIRES_AT)},
        },
    }

    # The desktop's side: the same secret from the other half of each pair, and the seal opens
    # with the pairing ID as associated data only.
    assert x25519(DESKTOP_PRIVATE, phone_public) == shared
    assert AESGCM(key).decrypt(sealed[:12], sealed[12:], PAIRING_ID) == SYNC_KEY

    rows = [
        ("desktop private key", DESKTOP_PRIVATE.hex()),
        ("phone private key", PHONE_PRIVATE.hex()),
        ("pairing ID", PAIRING_ID.hex()),
        ("nonce", NONCE.hex()),
        ("sync key", SYNC_KEY.hex()),
        ("now", NOW.strftime("%Y-%m-%dT%H:%M:%SZ") + f" ({milliseconds(NOW)} ms)"),
        ("expiresAt", EXPIRES_AT.strftime("%Y-%m-%dT%H:%M:%SZ") + f" ({milliseconds(EXPIRES_AT)} ms)"),
        ("desktop public key", desktop_public.hex()),
        ("QR text", qr_text),
        ("phone public key", phone_public.hex()),
        ("shared secret", shared.hex()),
        ("HKDF info", (INFO + desktop_public + phone_public).hex()),
        ("K", key.hex()),
        ("sealedKey", sealed.hex()),
        ("sealedKey (base64)", b64(sealed)),
    ]
    width = max(len(name) for name, _ in rows)
    for name, value in rows:
        print(f"{name.ljust(width)}  {value}")
    print()
    print(json.dumps(record, indent=2))
    return 0


if __name__ == "__main__":
    sys.exit(main())
