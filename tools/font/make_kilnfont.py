#!/usr/bin/env python3
"""Writes runtime/font/kilnfont.bin, the runtime's built-in 8 x 16 bitmap font, from the glyph
drawings below. Run by hand after changing a drawing and commit the result; the build only embeds
the committed file.

    python3 tools/font/make_kilnfont.py [out.bin]     # default: runtime/font/kilnfont.bin
    python3 tools/font/make_kilnfont.py --show TEXT   # print TEXT in the font instead

Output layout: 16 pixel rows x 96 glyphs (codes 32..127); byte y * 96 + i is row y (0 = top) of
glyph i, bit b (least significant first) is column b (0 = left).

Drawings: a block starts with ": NAME FIRST_ROW" (NAME is the character, or "space" / "del") and
the rows follow from FIRST_ROW down; missing rows are blank. A 6-column row is a thin drawing that
is emboldened: its column k inks columns k + 1 and k + 2, so vertical strokes come out two pixels
wide, horizontal ones one pixel high, and column 0 stays blank between characters. An 8-column row
is taken as it is (for glyphs whose strokes would merge when emboldened). Capitals stand on rows
2..10, small letters on rows 4..10, descenders reach row 13.

The drawings were made for this project and are dedicated to the public domain (CC0 1.0); see
runtime/font/kilnfont.LICENSE.txt.
"""

import os
import sys

GLYPHS = r"""
: space 0

: ! 2
..#...
..#...
..#...
..#...
..#...
..#...
......
..#...
..#...

: " 2
.#..#.
.#..#.
.#..#.

: # 2
..##.##.
..##.##.
.#######
..##.##.
..##.##.
..##.##.
.#######
..##.##.
..##.##.

: $ 1
...##...
..#####.
.##...##
.##.....
.##.....
..#####.
......##
......##
.##...##
..#####.
...##...

: % 2
#....#
#...#.
....#.
...#..
..#...
..#...
.#....
.#...#
#....#

: & 2
.##...
#..#..
#..#..
.##...
#.#..#
#..##.
#...#.
#..#.#
.##..#

: ' 2
..#...
..#...
.#....

: ( 1
...#..
..#...
.#....
.#....
.#....
.#....
.#....
.#....
.#....
..#...
...#..

: ) 1
.#....
..#...
...#..
...#..
...#..
...#..
...#..
...#..
...#..
..#...
.#....

: * 4
...##...
.#.##.#.
..####..
.#.##.#.
...##...

: + 4
..#...
..#...
#####.
..#...
..#...

: , 9
..#...
..#...
.#....

: - 6
#####.

: . 9
..#...
..#...

: / 1
.....#
.....#
....#.
....#.
...#..
...#..
..#...
..#...
.#....
.#....
#.....

: 0 2
.###..
#...#.
#...#.
#..##.
#.#.#.
##..#.
#...#.
#...#.
.###..

: 1 2
..#...
.##...
..#...
..#...
..#...
..#...
..#...
..#...
.###..

: 2 2
.###..
#...#.
....#.
...#..
..#...
.#....
#.....
#.....
#####.

: 3 2
.###..
#...#.
....#.
....#.
..##..
....#.
....#.
#...#.
.###..

: 4 2
...#..
..##..
.#.#..
#..#..
#..#..
#####.
...#..
...#..
...#..

: 5 2
#####.
#.....
#.....
####..
....#.
....#.
....#.
#...#.
.###..

: 6 2
..##..
.#....
#.....
#.....
####..
#...#.
#...#.
#...#.
.###..

: 7 2
#####.
....#.
....#.
...#..
...#..
..#...
..#...
..#...
..#...

: 8 2
.###..
#...#.
#...#.
#...#.
.###..
#...#.
#...#.
#...#.
.###..

: 9 2
.###..
#...#.
#...#.
#...#.
.####.
....#.
....#.
...#..
.##...

: : 4
..#...
..#...
......
......
......
..#...
..#...

: ; 4
..#...
..#...
......
......
......
..#...
..#...
.#....

: < 3
....#.
...#..
..#...
.#....
..#...
...#..
....#.

: = 5
#####.
......
#####.

: > 3
.#....
..#...
...#..
....#.
...#..
..#...
.#....

: ? 2
.###..
#...#.
....#.
...#..
..#...
..#...
......
..#...
..#...

: @ 2
..#####.
.##...##
.##.####
.##.#.##
.##.#.##
.##.####
.##.....
.##...##
..#####.

: A 2
..##..
.#..#.
#....#
#....#
#....#
######
#....#
#....#
#....#

: B 2
#####.
#....#
#....#
#....#
#####.
#....#
#....#
#....#
#####.

: C 2
.####.
#....#
#.....
#.....
#.....
#.....
#.....
#....#
.####.

: D 2
####..
#...#.
#....#
#....#
#....#
#....#
#....#
#...#.
####..

: E 2
######
#.....
#.....
#.....
####..
#.....
#.....
#.....
######

: F 2
######
#.....
#.....
#.....
####..
#.....
#.....
#.....
#.....

: G 2
.####.
#....#
#.....
#.....
#..###
#....#
#....#
#....#
.####.

: H 2
#....#
#....#
#....#
#....#
######
#....#
#....#
#....#
#....#

: I 2
.###..
..#...
..#...
..#...
..#...
..#...
..#...
..#...
.###..

: J 2
...###
.....#
.....#
.....#
.....#
.....#
.....#
#....#
.####.

: K 2
#....#
#...#.
#..#..
#.#...
##....
#.#...
#..#..
#...#.
#....#

: L 2
#.....
#.....
#.....
#.....
#.....
#.....
#.....
#.....
######

: M 2
.##...##
.###.###
.#######
.##.#.##
.##.#.##
.##...##
.##...##
.##...##
.##...##

: N 2
#....#
##...#
#.#..#
#.#..#
#..#.#
#..#.#
#...##
#....#
#....#

: O 2
.####.
#....#
#....#
#....#
#....#
#....#
#....#
#....#
.####.

: P 2
#####.
#....#
#....#
#....#
#####.
#.....
#.....
#.....
#.....

: Q 2
.####.
#....#
#....#
#....#
#....#
#....#
#..#.#
#...#.
.###.#

: R 2
#####.
#....#
#....#
#....#
#####.
#..#..
#...#.
#....#
#....#

: S 2
.####.
#....#
#.....
#.....
.####.
.....#
.....#
#....#
.####.

: T 2
#####.
..#...
..#...
..#...
..#...
..#...
..#...
..#...
..#...

: U 2
#....#
#....#
#....#
#....#
#....#
#....#
#....#
#....#
.####.

: V 2
#....#
#....#
#....#
#....#
.#..#.
.#..#.
.#..#.
..##..
..##..

: W 2
.##...##
.##...##
.##...##
.##...##
.##.#.##
.##.#.##
.#######
.###.###
.##...##

: X 2
#....#
.#..#.
.#..#.
..##..
..##..
..##..
.#..#.
.#..#.
#....#

: Y 2
#....#
#....#
.#..#.
.#..#.
..##..
..##..
..##..
..##..
..##..

: Z 2
######
.....#
....#.
...#..
..#...
.#....
#.....
#.....
######

: [ 1
.###..
.#....
.#....
.#....
.#....
.#....
.#....
.#....
.#....
.#....
.###..

: \ 1
#.....
#.....
.#....
.#....
..#...
..#...
...#..
...#..
....#.
....#.
.....#

: ] 1
.###..
...#..
...#..
...#..
...#..
...#..
...#..
...#..
...#..
...#..
.###..

: ^ 2
..##..
.#..#.
#....#

: _ 12
######

: ` 2
.#....
..#...

: a 4
.####.
.....#
.....#
.#####
#....#
#....#
.#####

: b 2
#.....
#.....
#####.
#....#
#....#
#....#
#....#
#....#
#####.

: c 4
.####.
#....#
#.....
#.....
#.....
#....#
.####.

: d 2
.....#
.....#
.#####
#....#
#....#
#....#
#....#
#....#
.#####

: e 4
.####.
#....#
#....#
######
#.....
#.....
.####.

: f 2
..###.
.#....
####..
.#....
.#....
.#....
.#....
.#....
.#....

: g 4
.#####
#....#
#....#
#....#
#....#
#....#
.#####
.....#
.....#
.####.

: h 2
#.....
#.....
#####.
#....#
#....#
#....#
#....#
#....#
#....#

: i 2
..#...
......
.##...
..#...
..#...
..#...
..#...
..#...
.###..

: j 2
....#.
......
...##.
....#.
....#.
....#.
....#.
....#.
....#.
....#.
#...#.
.###..

: k 2
#.....
#.....
#...#.
#..#..
#.#...
##....
#.#...
#..#..
#...#.

: l 2
.##...
..#...
..#...
..#...
..#...
..#...
..#...
..#...
.###..

: m 4
.######.
.##.#.##
.##.#.##
.##.#.##
.##.#.##
.##.#.##
.##.#.##

: n 4
#####.
#....#
#....#
#....#
#....#
#....#
#....#

: o 4
.####.
#....#
#....#
#....#
#....#
#....#
.####.

: p 4
#####.
#....#
#....#
#....#
#....#
#....#
#####.
#.....
#.....
#.....

: q 4
.#####
#....#
#....#
#....#
#....#
#....#
.#####
.....#
.....#
.....#

: r 4
#.###.
##...#
#.....
#.....
#.....
#.....
#.....

: s 4
.#####
#.....
#.....
.####.
.....#
.....#
#####.

: t 2
.#....
.#....
####..
.#....
.#....
.#....
.#....
.#....
..##..

: u 4
#....#
#....#
#....#
#....#
#....#
#....#
.#####

: v 4
#....#
#....#
#....#
.#..#.
.#..#.
..##..
..##..

: w 4
.##...##
.##...##
.##.#.##
.##.#.##
.##.#.##
.##.#.##
..##.##.

: x 4
#....#
#....#
.#..#.
..##..
.#..#.
#....#
#....#

: y 4
#....#
#....#
#....#
#....#
#....#
#....#
.#####
.....#
.....#
.####.

: z 4
######
....#.
...#..
..#...
.#....
#.....
######

: { 1
...##.
..#...
..#...
..#...
..#...
##....
..#...
..#...
..#...
..#...
...##.

: | 1
..#...
..#...
..#...
..#...
..#...
..#...
..#...
..#...
..#...
..#...
..#...
..#...

: } 1
.##...
...#..
...#..
...#..
...#..
....##
...#..
...#..
...#..
...#..
.##...

: ~ 5
.##..#
#..##.

: del 2
######
#....#
#....#
#....#
#....#
#....#
#....#
#....#
######
"""

FIRST_CODE = 32
GLYPH_COUNT = 96
ROWS = 16


def parse():
    """Returns the 96 glyphs as lists of 16 row bytes."""
    names = {"space": " ", "del": "\x7f"}
    glyphs = {}
    current = None
    for number, line in enumerate(GLYPHS.splitlines(), 1):
        if not line.strip():
            continue
        if line.startswith(": "):
            name, first = line[2:].rsplit(" ", 1)
            char = names.get(name, name)
            if len(char) != 1 or not FIRST_CODE <= ord(char) < FIRST_CODE + GLYPH_COUNT:
                sys.exit(f"line {number}: no glyph slot for {name!r}")
            if char in glyphs:
                sys.exit(f"line {number}: {name!r} drawn twice")
            current = glyphs[char] = {"row": int(first), "rows": [0] * ROWS, "width": None}
            continue
        if current is None or set(line) - set(".#"):
            sys.exit(f"line {number}: expected a glyph header or a row of '.' and '#'")
        if current["width"] is None:
            current["width"] = len(line)
        if len(line) != current["width"] or len(line) not in (6, 8):
            sys.exit(f"line {number}: rows of one glyph are all 6 (thin) or all 8 (as drawn) wide")
        if current["row"] >= ROWS:
            sys.exit(f"line {number}: glyph runs below row {ROWS - 1}")
        bits = 0
        for column, cell in enumerate(line):
            if cell == "#":
                bits |= (0b11 << (column + 1)) if len(line) == 6 else (1 << column)
        current["rows"][current["row"]] = bits
        current["row"] += 1
    missing = [c for c in map(chr, range(FIRST_CODE, FIRST_CODE + GLYPH_COUNT)) if c not in glyphs]
    if missing:
        sys.exit(f"no drawing for {missing!r}")
    return [glyphs[chr(FIRST_CODE + i)]["rows"] for i in range(GLYPH_COUNT)]


def encode(glyphs):
    out = bytearray(ROWS * GLYPH_COUNT)
    for i, rows in enumerate(glyphs):
        for y, bits in enumerate(rows):
            out[y * GLYPH_COUNT + i] = bits
    return bytes(out)


def show(glyphs, text):
    for y in range(ROWS):
        line = ""
        for char in text:
            code = ord(char)
            rows = glyphs[code - FIRST_CODE] if FIRST_CODE <= code < FIRST_CODE + GLYPH_COUNT else [0] * ROWS
            line += "".join("#" if rows[y] >> b & 1 else "." for b in range(8))
        print(line)


def main():
    glyphs = parse()
    if len(sys.argv) > 2 and sys.argv[1] == "--show":
        show(glyphs, " ".join(sys.argv[2:]))
        return
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "runtime", "font", "kilnfont.bin")
    data = encode(glyphs)
    with open(out, "wb") as f:
        f.write(data)
    print(f"wrote {len(data)} bytes to {out}")


if __name__ == "__main__":
    main()
