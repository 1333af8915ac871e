#!/usr/bin/env python3
"""Writes zip archives made by Python's zipfile, a writer other than the tests' own, into
the folder given: what the zip check must take as whole.

  deflated.zip   deflated entries, a folder entry, a nested file
  commented.zip  an archive comment of 1000 bytes
  appended.jar   a zip appended to a launcher stub (offsets counted from the file's start)
  zip64.zip      with a zip64 end record and locator
  one.zip        a single small entry (the tests cut it at every length)
"""
import os
import sys
import zipfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def entries(z):
    z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n")
    z.writestr(zipfile.ZipInfo("lib/"), b"")
    z.writestr("lib/Lib.class", bytes(range(256)) * 40)
    z.writestr("lib/deep/readme.txt", "a library of the tests\n" * 50)


with zipfile.ZipFile(os.path.join(out, "deflated.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    entries(z)

with zipfile.ZipFile(os.path.join(out, "commented.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    entries(z)
    z.comment = b"comment " * 125

with open(os.path.join(out, "appended.jar"), "wb") as f:
    f.write(b"#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n")
with zipfile.ZipFile(os.path.join(out, "appended.jar"), "a", zipfile.ZIP_DEFLATED) as z:
    entries(z)

# zipfile writes the zip64 end records only past 65535 entries; a lower limit gives them
# to a small archive.
limit = zipfile.ZIP_FILECOUNT_LIMIT
zipfile.ZIP_FILECOUNT_LIMIT = 1
with zipfile.ZipFile(os.path.join(out, "zip64.zip"), "w", zipfile.ZIP_STORED) as z:
    entries(z)
zipfile.ZIP_FILECOUNT_LIMIT = limit

with zipfile.ZipFile(os.path.join(out, "one.zip"), "w", zipfile.ZIP_STORED) as z:
    z.writestr("a.txt", "one entry\n")
