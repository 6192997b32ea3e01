// text_direction.h — which way a text reads, and a name that keeps its own
// direction among the words of a row or a message.
//
// Index
//   HasRightToLeft   whether a text holds anything that reordering or shaping changes
//   IsolatedText     a name that keeps its own direction inside a row of other marks
//   QuotedName       “name” as every message writes a name (isolated when it needs it)
//
// Names are stored in logical order (the order they are typed and read);
// the display order is the interface's (app/visual_text.h), which drops the
// marks these add. How a message with a name is fitted to a line:
// document/named_message.h. Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

// True when `utf8` holds a character of a right-to-left script, an Arabic
// presentation form, a right-to-left mark or an isolate's mark (a name
// isolated within a message); texts without one are drawn as they are
// stored, the others are put into display order, which drops the marks.
bool HasRightToLeft(std::string_view utf8);

// A name set among other marks of a row (a bullet before it, a count after
// it) keeps its own direction without taking them along: a right-to-left
// name is wrapped in a first-strong isolate (U+2068 … U+2069), so the row
// reads left to right around it. A name without right-to-left characters
// comes back as it is.
std::string IsolatedText(std::string_view name);

// “name”, the way a message names a file or a folder ("“Reel.mov” is a named
// pipe, not a file"). A name that holds right-to-left letters, or a closing
// quote of its own, is isolated inside the quotes: the message keeps its own
// direction around a Hebrew folder's name, and the name's end is found
// whatever it holds (MessageNames, document/named_message.h).
std::string QuotedName(std::string_view name);
