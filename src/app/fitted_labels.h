// fitted_labels.h — labels of widgets and menus fitted to the room they are
// drawn in, by the one rule of ShortenedText (document/shortened_text.h): cut
// between whole characters, with "…" where the reading ends.
//
// Index
//   kPopupLabelEms / kPopupLabelDisplayShare / PopupLabelRoom   the widest a menu or pop-up row may be
//   FittedText       a text shortened to a room in the current font
//   FittedLabel      a widget's "text##id" with its text shortened, its id kept
//
// UI thread, inside a frame (they measure with the current font).
#pragma once

#include <string>
#include <string_view>

// Menus and pop-ups take the width of their widest row, and nothing holds
// them inside the display: a row's label is kept within this many font
// sizes and this share of the display's width.
constexpr float kPopupLabelEms = 24.0f;
constexpr float kPopupLabelDisplayShare = 0.45f;
float PopupLabelRoom();

// `text` shortened to `room` points in the current font, as drawn.
std::string FittedText(std::string_view text, float room);

// `label` ("text" or "text##id") with its text shortened to `room` points.
// The id stays the one the whole label gave: a cut label without "##"
// carries its whole text as "###" id, the same whatever the room.
std::string FittedLabel(const char* label, float room);
