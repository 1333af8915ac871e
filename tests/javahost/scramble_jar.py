#!/usr/bin/env python3
"""Scrambles a jar as the server publishes it and the launcher stores it: every byte
XOR-ed with the one-byte jar key.  Usage: scramble_jar.py PLAIN OUT KEY (KEY like 0x5A)"""
import sys

plain, out, key = sys.argv[1], sys.argv[2], int(sys.argv[3], 16)
with open(plain, "rb") as f:
    data = f.read()
with open(out, "wb") as f:
    f.write(bytes(b ^ key for b in data))
