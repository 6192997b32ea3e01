// widget_logic.h — the plain rules behind the shared widgets (no GUI calls).
//
// Index
//   TabIconPart        a tab label's shown part while labels are hidden
//   TabNamePart        the name after the icon (the tooltip of a hidden label)
//   SelectableRowLabel "first  second##r<id>", the visible part cut, the id kept;
//                      a right-to-left part isolated, so the row keeps its order
//   TabRevealTarget    1 while the full labels fit the room, else 0
//   EaseTabReveal      one frame of the label-reveal factor's easing
//   kTabLabelsShownAbove   labels show while the factor is above this
//
// Texts are UTF-8 and are only ever cut at a character boundary.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Tab labels read icon glyph, two blanks, name ("\uF013  Settings").
constexpr size_t kTabIconPartMaxBytes = 15;
constexpr size_t kSelectableRowTextMaxBytes = 127;
constexpr float kTabLabelsShownAbove = 0.55f;

// The part before the first double blank (the whole label when there is
// none), at most kTabIconPartMaxBytes bytes.
std::string TabIconPart(std::string_view label);

// The text after the first double blank; the whole label when there is none.
// Points into `label`.
const char* TabNamePart(const char* label);

// "%s  %s##r%d": first, two blanks, second, then the id suffix. Each part
// that holds right-to-left characters is isolated (IsolatedText): a Hebrew
// or Arabic name keeps its place after the bullet. The visible text is cut
// to kSelectableRowTextMaxBytes, then to `fits` when given (the room of the
// row, as drawn), by ShortenedText: with "…", between whole characters, an
// isolate closed again. The suffix always follows, so rows with long texts
// keep distinct ids. Null texts count as empty.
std::string SelectableRowLabel(const char* first, const char* second, int id,
                               const std::function<bool(const std::string&)>& fits = nullptr);

float TabRevealTarget(float fullRowWidth, float room);

// Moves `t` towards `target` (exponentially, about 12 per second) and snaps
// it there once it is within 0.004. `moving` tells whether it still moves.
float EaseTabReveal(float t, float target, float deltaSeconds, bool* moving);
