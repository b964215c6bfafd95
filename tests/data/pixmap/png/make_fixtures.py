#!/usr/bin/env python3
"""Writes the PNG fixtures of this folder (run from this folder)."""
import struct
import zlib


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(width, height, depth, colour_type, rows, extra=b"", interlace=0):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, interlace)
    raw = b"".join(b"\x00" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def save(name, data):
    with open(name, "wb") as f:
        f.write(data)


# 1-bit grey, 10x2: row 0 alternates 1,0,...; row 1 is all set then all clear.
save("grey1.png", png(10, 2, 1, 0, [bytes([0b10101010, 0b10000000]), bytes([0b11111000, 0b00000000])]))
# grey with alpha: (200, 50), (0, 255), (255, 0)
save("grey_alpha.png", png(3, 1, 8, 4, [bytes([200, 50, 0, 255, 255, 0])]))
# 2-bit palette of four colours, the first two made partly transparent by tRNS.
plte = chunk(b"PLTE", bytes([255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30]))
trns = chunk(b"tRNS", bytes([0, 128]))
save("palette_trns.png", png(4, 1, 2, 3, [bytes([0b00011011])], plte + trns))
# 8-bit palette without transparency.
save("palette.png", png(2, 1, 8, 3, [bytes([3, 0])], plte))
# 16-bit RGB, 2x1: (0x1234, 0x5678, 0x9ABC), (0xFFFF, 0x0000, 0x8000)
save("rgb16.png", png(2, 1, 16, 2, [struct.pack(">6H", 0x1234, 0x5678, 0x9ABC, 0xFFFF, 0x0000, 0x8000)]))
# 8-bit grey and RGB whose tRNS chunk makes one value transparent: both come out with alpha.
save("grey_trns.png", png(3, 1, 8, 0, [bytes([10, 20, 30])], chunk(b"tRNS", struct.pack(">H", 20))))
save("rgb_trns.png", png(2, 1, 8, 2, [bytes([1, 2, 3, 4, 5, 6])], chunk(b"tRNS", struct.pack(">3H", 4, 5, 6))))
# 8-bit RGBA, 3x2
save("rgba.png", png(3, 2, 8, 6, [bytes(range(0, 12)), bytes(range(100, 112))]))
# 8-bit RGB 3x1, Adam7 interlaced
full = png(3, 1, 8, 2, [bytes([1, 2, 3, 4, 5, 6, 7, 8, 9])])
# Interlaced 3x1: pass 1 holds x=0, pass 4 holds x=2... build by hand: passes with pixels in row 0:
# pass1 x0; pass2 none (x starts 4); pass3 none (y starts 4); pass4 x2; pass5 none; pass6 x1; pass7 none.
raw = b"\x00" + bytes([1, 2, 3]) + b"\x00" + bytes([7, 8, 9]) + b"\x00" + bytes([4, 5, 6])
ihdr = struct.pack(">IIBBBBB", 3, 1, 8, 2, 0, 0, 1)
save("interlaced.png", b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw)) +
     chunk(b"IEND", b""))
# The signature and a cut-off header chunk.
save("cut_in_first_chunk.png", full[:8 + 4 + 4 + 5])
# A header chunk whose checksum is wrong: libpng reports a fatal error.
bad = bytearray(full)
bad[8 + 4 + 4 + 13] ^= 0xFF
save("bad_crc.png", bytes(bad))
# The picture data ends inside the compressed stream.
rgba = png(3, 2, 8, 6, [bytes(range(0, 12)), bytes(range(100, 112))])
idat = rgba.find(b"IDAT")
length = struct.unpack(">I", rgba[idat - 4:idat])[0]
short = zlib.compress(b"\x00" + bytes(range(0, 12)) + b"\x00" + bytes(range(100, 112)), 0)[:10]
save("short_idat.png", rgba[:idat - 4] + chunk(b"IDAT", short) + chunk(b"IEND", b""))
