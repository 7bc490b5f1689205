#!/usr/bin/env python3
"""Writes the known-answer files of the CA file format (src/protocol/ca/CryptFile.h)
from the format's table alone, with Python's `cryptography` package as an
independent implementation. Both builds must write these bytes for the same
inputs and read them back. Run from this directory; the outputs are committed.

    kat_keyfile.bin     key file kind, 2500 bytes of plaintext (three chunks of 1024)
    kat_passphrase.bin  passphrase kind, 1000 rounds, 2048 bytes (two full chunks)
    kat_plain.txt       the plaintext (GBK text) of both, cut to their lengths
"""
import struct
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC

KEY = bytes(range(32))
PASSPHRASE = "口令-测试".encode("utf-8")
SALT = bytes(range(0x10, 0x20))
PREFIX = bytes(range(0xA0, 0xA8))
CHUNK = 1024
PLAIN = ("你好,世界!NUVA交易数据。" * 200).encode("gbk")


def seal(kind, secret, iterations, plain):
    auth = b"NUVA-GCM" + bytes([1, kind, 0, 0]) + struct.pack(">II", CHUNK, iterations) + SALT + PREFIX
    key = PBKDF2HMAC(hashes.SHA256(), 32, SALT, iterations).derive(secret)
    aes = AESGCM(key)
    check = aes.encrypt(PREFIX + b"\xff\xff\xff\xff", b"", auth)
    out = auth + check
    chunks = [plain[i:i + CHUNK] for i in range(0, len(plain), CHUNK)] or [b""]
    for index, chunk in enumerate(chunks):
        final = 1 if index == len(chunks) - 1 else 0
        nonce = PREFIX + struct.pack(">I", index)
        out += aes.encrypt(nonce, chunk, auth + struct.pack(">IB", index, final))
    return out


open("kat_plain.txt", "wb").write(PLAIN[:2500])
open("kat_keyfile.bin", "wb").write(seal(1, KEY, 1, PLAIN[:2500]))
open("kat_passphrase.bin", "wb").write(seal(2, PASSPHRASE, 1000, PLAIN[:2048]))
