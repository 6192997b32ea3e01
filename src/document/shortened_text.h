// shortened_text.h — where a text may be cut and the one rule that shortens
// a name to the room it has.
//
// Index
//   AppendCodePoint  one code point as UTF-8
//   GlyphCutPoints   where a text may be cut without splitting a character as read
//   ShortenedText    the longest start of a name that fits, with "…" where its reading ends
//   CodePointCount   how many characters (code points) a text holds
//
// Names are stored in logical order (the order they are typed and read). The
// core shortens stored names by these rules too (an event's display name, a
// preset's name field), so they live here with ICU's character breaks; the
// display order itself (app/visual_text.h) is the interface's. Thread-safe
// (no state but a per-thread break iterator).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_direction.h"  // HasRightToLeft, IsolatedText

// Appends code point `c` to `out` as UTF-8.
void AppendCodePoint(std::string& out, uint32_t c);

// The byte offsets, ascending, at which `utf8` may be cut and every
// character as a reader sees it stays whole: the boundaries of its extended
// grapheme clusters (ICU's character break rules), and the text's end. 0 is
// not listed. A cut anywhere else would part a letter from its marks, an
// emoji sequence after its joiner or before its skin tone, a flag's two
// halves, or the jamo of one Hangul syllable. Malformed UTF-8 counts a byte
// at a time, never inside a well-formed sequence. Thread-safe.
std::vector<size_t> GlyphCutPoints(std::string_view utf8);

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
// the display order (VisualText) drops the mark. A cut inside a direction
// isolate (IsolatedText) keeps the "…" inside it and closes it again, so the
// marks after the name stay in their place. `fits` is asked about O(log n) candidates.
std::string ShortenedText(std::string_view text, const std::function<bool(const std::string&)>& fits);

// The number of code points of `utf8` (a malformed byte counts as one).
size_t CodePointCount(std::string_view utf8);
