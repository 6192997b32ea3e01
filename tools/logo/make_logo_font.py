#!/usr/bin/python3
# Builds the logo font: one glyph, U+E400, from the one-colour mark.
#
#   make_logo_font.py MARK.svg OUT.ttf
#
# The glyph stands on the baseline and reaches the height of a capital
# letter, so that merged into a text face at the text's size it reads as
# one more letter before the product's name.
import sys

import fontforge
import psMat

EM = 1000
CAP_HEIGHT = 720      # of a text face with a 1000-unit em, near enough
SIDE_BEARING = 60


def main(mark, out):
    font = fontforge.font()
    font.fontname = "tl_logo"
    font.familyname = "tl_logo"
    font.fullname = "tl_logo"
    font.encoding = "UnicodeFull"
    font.em = EM
    font.ascent = 800
    font.descent = 200
    glyph = font.createChar(0xE400, "tllogo")
    glyph.importOutlines(mark)
    glyph.removeOverlap()
    glyph.correctDirection()
    # Scale the mark's box to the cap height, on the baseline.
    xmin, ymin, xmax, ymax = glyph.boundingBox()
    scale = CAP_HEIGHT / (ymax - ymin)
    glyph.transform(psMat.compose(psMat.translate(-xmin, -ymin), psMat.scale(scale)))
    glyph.transform(psMat.translate(SIDE_BEARING, 0))
    xmin, ymin, xmax, ymax = glyph.boundingBox()
    glyph.width = int(round(xmax + SIDE_BEARING))
    glyph.round()
    font.generate(out)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.stderr.write("usage: make_logo_font.py MARK.svg OUT.ttf\n")
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
