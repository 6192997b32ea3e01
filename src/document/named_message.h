// named_message.h — messages that name a file or a folder: the name kept
// apart from the words around it, so that a message too long for its line
// gives up letters of the name, never a word of its reason.
//
// Index
//   MessageName / MessageNames   where the names of a message stand
//   ShortenedMessage  a message fitted to its room: its names shortened first,
//                     by the one rule of ShortenedText, then (only when even
//                     "…" names do not fit) the message itself
//
// A name in a message stands between “ and ”, as QuotedName writes it
// (platform/text_direction.h: "“Reel.mov” is a named pipe, not a file"),
// inside a first-strong isolate (U+2068 … U+2069) when it holds right-to-left
// letters or a closing quote: the message keeps its own direction around a
// Hebrew folder's name, and the name's end is found whatever it holds. A
// name quoted without the isolate is still read by its quotes.
// Messages with the name in another place ("Scanning folder: NAME", a scan
// note "NAME: 3 files skipped") hand the three parts over themselves.
// Pure functions of their arguments; any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_direction.h"

// The bytes of one name within a message: its letters only, without the
// quotes and without its isolate's marks (`isolated` says it has them).
struct MessageName {
    size_t begin = 0;
    size_t end = 0;
    bool isolated = false;
};
// Every name of `message`, in order: the text between an opening “ and its
// closing ” (the one after the isolate's end when the name has one). An
// opening quote that is never closed names nothing.
std::vector<MessageName> MessageNames(std::string_view message);

// `message` as it fits `fits`: itself when it fits (a name with right-to-left
// letters isolated when it was not); else its names shortened with "…", the
// first name first, each by ShortenedText with the rest of the message whole;
// only when the message does not fit with every name down to "…" is the
// message cut at its end by the same rule. Never cuts inside a character.
std::string ShortenedMessage(std::string_view message, const std::function<bool(const std::string&)>& fits);

// The same for a message whose name is not quoted: before + name + after,
// the name (isolated when it holds right-to-left letters) shortened first.
std::string ShortenedMessage(std::string_view before, std::string_view name, std::string_view after,
                             const std::function<bool(const std::string&)>& fits);
