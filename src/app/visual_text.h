// visual_text.h — text as it is shown on screen: right-to-left runs (Hebrew,
// Arabic, ...) in display order and Arabic letters in their joined forms.
//
// Index
//   VisualText       logical-order UTF-8 → the characters to draw, left to right
//
// Names are stored and edited in logical order (the order they are typed and
// read); the GUI draws characters strictly left to right, one glyph each.
// VisualText turns a stored text into that drawing order with FriBidi: each
// line is one paragraph whose direction its first strong character sets,
// runs are reordered, mirrored characters (brackets) are mirrored, Arabic
// letters take their presentation forms (isolated, initial, medial, final)
// and lam-alef becomes its ligature. Fillers the shaping leaves behind and
// the invisible direction marks are dropped: the GUI would draw a box for
// them. Thread-safe (no state). Where a name may be cut and how it is
// shortened: document/shortened_text.h; a name isolated within a row or a
// message: platform/text_direction.h.
#pragma once

#include <string>
#include <string_view>

#include "document/shortened_text.h"

// The display order of `utf8` (lines split at '\n', kept in place). A text
// without right-to-left characters comes back unchanged; malformed UTF-8 is
// read as FriBidi reads it.
std::string VisualText(std::string_view utf8);
