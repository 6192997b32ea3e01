// glyph_use.h — which characters the interface draws, and the characters
// beyond U+FFFF (emoji, rarer ideographs) that the GUI's 16-bit characters
// cannot hold.
//
// Index
//   Wide slots            kFirstWideSlot .. kLastWideSlot, kMissingGlyph
//   DecodeUtf8ForGui      one character, as the GUI decodes it, wide ones in slots
//   GuiCharCodePoint / EncodeGuiChar
//   Glyph use             NoteGlyphUse, RequestGlyphs, GlyphRequested,
//                         TakeNewGlyphs, NewGlyphsWaiting, RequestedGlyphs
//
// The installed Dear ImGui keeps characters in 16 bits and its UTF-8 decoder
// turns anything beyond U+FFFF into U+FFFD. Its text routines (decoding,
// the text field's conversions both ways and the typed characters) are
// wrapped at link time (GNU ld's --wrap, see glyph_use.cpp and CMakeLists):
//   - a character beyond U+FFFF takes a slot in U+D800..DFFE: surrogate
//     halves never come out of valid UTF-8, so a slot means nothing else,
//     and a text field writes the slot back as the original character;
//   - every character decoded for drawing or measuring is noted, so that the
//     font atlas can add the glyphs it has not rasterised yet (fonts.cpp)
//     before the next frame.
// U+DFFF is the replacement box: the glyph drawn for a character that no
// installed face holds.
//
// UI thread only (the GUI's own thread).
#pragma once

#include <imgui.h>

#include <cstdint>
#include <vector>

inline constexpr uint32_t kFirstWideSlot = 0xD800;
inline constexpr uint32_t kLastWideSlot = 0xDFFE;
inline constexpr ImWchar kMissingGlyph = 0xDFFF;

// Decodes the character at `text` (up to `end`, or a terminating zero when
// end is null) exactly as the GUI's decoder does — the same number of bytes,
// U+FFFD for malformed input — except that a valid character beyond U+FFFF
// yields its slot (U+FFFD once every slot is taken). Returns the bytes read.
int DecodeUtf8ForGui(unsigned int* out, const char* text, const char* end);

// The character a GUI character stands for: the original of a slot, the
// character itself otherwise.
uint32_t GuiCharCodePoint(ImWchar c);

// UTF-8 of a GUI character (slots as their original); the byte count, 0 for
// the replacement box or a slot never handed out. `out` holds 4 bytes.
int EncodeGuiChar(char* out, ImWchar c);

// Marks `c` as drawn; a character not requested before is kept for
// TakeNewGlyphs.
void NoteGlyphUse(ImWchar c);
// Requests every character of `utf8`, or of first..last, at once (the
// start-up set).
void RequestGlyphs(const char* utf8);
void RequestGlyphRange(ImWchar first, ImWchar last);
bool GlyphRequested(ImWchar c);
// The characters noted since the last call that were not requested before;
// they count as requested from now on.
std::vector<ImWchar> TakeNewGlyphs();
// How many such characters wait for the next TakeNewGlyphs: a frame that
// met some drew them without their glyphs (the atlas takes them before the
// next frame).
size_t NewGlyphsWaiting();
// Every requested character, ascending.
std::vector<ImWchar> RequestedGlyphs();
// Forgets every request and slot (tests).
void ResetGlyphUse();
