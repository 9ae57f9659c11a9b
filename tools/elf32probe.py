#!/usr/bin/env python3
"""Writes the smallest 32-bit x86 Linux program: it exits with status 0.

Running it tells whether this kernel runs 32-bit programs at all, before any
32-bit package is installed.
"""
import struct
import sys

BASE = 0x08048000
# mov eax, 1 (exit); xor ebx, ebx (status 0); int 0x80
CODE = bytes([0xB8, 0x01, 0x00, 0x00, 0x00, 0x31, 0xDB, 0xCD, 0x80])
EHDR_SIZE, PHDR_SIZE = 52, 32
entry = BASE + EHDR_SIZE + PHDR_SIZE
size = EHDR_SIZE + PHDR_SIZE + len(CODE)

ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)  # 32-bit, little endian
ehdr = ident + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, entry, EHDR_SIZE, 0, 0,
                           EHDR_SIZE, PHDR_SIZE, 1, 0, 0, 0)
# One loadable segment, read and execute, holding the whole file.
phdr = struct.pack("<IIIIIIII", 1, 0, BASE, BASE, size, size, 5, 0x1000)

with open(sys.argv[1], "wb") as out:
    out.write(ehdr + phdr + CODE)
