// visual_text.h — text as it is shown on screen: right-to-left runs (Hebrew,
// Arabic, ...) in display order and Arabic letters in their joined forms.
//
// Index
//   HasRightToLeft   whether a text holds anything that reordering or shaping changes
//   VisualText       logical-order UTF-8 → the characters to draw, left to right
//   GlyphCutPoints   where a text may be cut without splitting a character as read
//   IsolatedText     a name that keeps its own direction inside a row of other marks
//   ShortenedText    the longest start of a name that fits, with "…" where its reading ends
//   CodePointCount   how many characters (code points) a text holds
//
// Names are stored and edited in logical order (the order they are typed and
// read); the GUI draws characters strictly left to right, one glyph each.
// VisualText turns a stored text into that drawing order with FriBidi: each
// line is one paragraph whose direction its first strong character sets,
// runs are reordered, mirrored characters (brackets) are mirrored, Arabic
// letters take their presentation forms (isolated, initial, medial, final)
// and lam-alef becomes its ligature. Fillers the shaping leaves behind and
// the invisible direction marks are dropped: the GUI would draw a box for
// them. Thread-safe (no state).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// True when `utf8` holds a character of a right-to-left script, an Arabic
// presentation form or an explicit direction mark; texts without one are
// drawn as they are stored.
bool HasRightToLeft(std::string_view utf8);

// The display order of `utf8` (lines split at '\n', kept in place). A text
// without right-to-left characters comes back unchanged; malformed UTF-8 is
// read as FriBidi reads it.
std::string VisualText(std::string_view utf8);

// The byte offsets, ascending, at which `utf8` may be cut and every
// character as a reader sees it stays whole: the boundaries of its extended
// grapheme clusters (ICU's character break rules), and the text's end. 0 is
// not listed. A cut anywhere else would part a letter from its marks, an
// emoji sequence after its joiner or before its skin tone, a flag's two
// halves, or the jamo of one Hangul syllable. Malformed UTF-8 counts a byte
// at a time, never inside a well-formed sequence. Thread-safe.
std::vector<size_t> GlyphCutPoints(std::string_view utf8);

// A name set among other marks of a row (a bullet before it, a count after
// it) keeps its own direction without taking them along: a right-to-left
// name is wrapped in a first-strong isolate (U+2068 … U+2069), so the row
// reads left to right around it. A name without right-to-left characters
// comes back as it is (the GUI would draw the marks as boxes).
std::string IsolatedText(std::string_view name);

// The one rule for every label drawn in a bounded space (lanes, rows, menus,
// buttons, cards) and for names kept in a bounded field: `text` itself when
// `fits` accepts it; else its longest start, cut between whole characters
// (GlyphCutPoints) and without the blanks before the cut, that `fits` accepts
// with "…" after it, returned with the "…"; "" when not even "…" alone fits.
// The "…" is stored after the kept part, so drawn in display order it stands
// beside the word that was cut, where the reading ends: a kept part with
// right-to-left characters gets a direction mark after the "…" that binds it
// to the direction of the last letter kept (in a right-to-left name with an
// English word last, the "…" follows that word, not the paragraph's far end);
// VisualText drops the mark. A cut inside a direction isolate (IsolatedText)
// keeps the "…" inside it and closes it again, so the marks after the name
// stay in their place. `fits` is asked about O(log n) candidates.
std::string ShortenedText(std::string_view text, const std::function<bool(const std::string&)>& fits);

// The number of code points of `utf8` (a malformed byte counts as one).
size_t CodePointCount(std::string_view utf8);
