#!/usr/bin/python3
"""Appends a certificate table holding DATA to a PE file and points its security directory at
it, as a signature would: a file whose bytes are there, but not in the image.

Usage: append_certificate.py IN DATA OUT
"""

import struct
import sys

import pefile


def main():
    source, data_path, out = sys.argv[1:4]
    pe = pefile.PE(source)
    with open(data_path, "rb") as handle:
        data = handle.read()
    image = pe.write()
    image += b"\0" * (-len(image) % 8)
    # WIN_CERTIFICATE: length, revision 2.0, PKCS#7 signed data, then the bytes, padded to 8.
    certificate = struct.pack("<IHH", 8 + len(data), 0x0200, 0x0002) + data
    certificate += b"\0" * (-len(certificate) % 8)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    offset = security.get_file_offset()
    image = bytearray(image + certificate)
    struct.pack_into("<II", image, offset, len(image) - len(certificate), len(certificate))
    with open(out, "wb") as handle:
        handle.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
