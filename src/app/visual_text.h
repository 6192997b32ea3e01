// visual_text.h — text as it is shown on screen: right-to-left runs (Hebrew,
// Arabic, ...) in display order and Arabic letters in their joined forms.
//
// Index
//   VisualText       logical-order UTF-8 → the characters to draw, left to right
//   IsolatedText     a name that keeps its own direction inside a row of other marks
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
// shortened: document/shortened_text.h.
#pragma once

#include <string>
#include <string_view>

#include "document/shortened_text.h"

// The display order of `utf8` (lines split at '\n', kept in place). A text
// without right-to-left characters comes back unchanged; malformed UTF-8 is
// read as FriBidi reads it.
std::string VisualText(std::string_view utf8);

// A name set among other marks of a row (a bullet before it, a count after
// it) keeps its own direction without taking them along: a right-to-left
// name is wrapped in a first-strong isolate (U+2068 … U+2069), so the row
// reads left to right around it. A name without right-to-left characters
// comes back as it is (the GUI would draw the marks as boxes).
std::string IsolatedText(std::string_view name);
