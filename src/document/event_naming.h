// event_naming.h — what an event is called on the timeline and in lists: its
// label and its shape's name.
//
// Index
//   EventDisplayName   up to three words of the keywords, else the shape's name
//   EventShapeName     the user shape's name, else the built-in shape name
//   WalkKeywordTokens  the words of keyword text that name a sound ("+"/"-" terms skipped)
//
// The names proposed for a recipe or a bounce are in recipes/recipe_naming.h.
// Pure functions of their arguments: safe on any thread.
#pragma once

#include <string>
#include <string_view>

struct Event;
struct Project;

// At most 62 characters (code points): the keywords' first three words that
// are not "+" or "-" terms, each with its first letter in upper case, joined
// by blanks; the shape's name when there are none. Words longer than that are
// cut between whole characters and end in "…" (ShortenedText).
std::string EventDisplayName(const Project& project, const Event& event);

std::string EventShapeName(const Project& project, const Event& event);

// Walks keyword text: blanks and commas separate, "+" and "-" terms are
// skipped whole. Calls take(token) for each other token until it returns
// false. A "+"/"-" term with nothing after it ends the walk.
template <typename Take>
void WalkKeywordTokens(std::string_view keywords, Take take) {
    const char* kSeparators = " \t,";
    size_t i = 0;
    while (i < keywords.size()) {
        i = keywords.find_first_not_of(kSeparators, i);
        if (i == std::string_view::npos) return;
        const size_t end = keywords.find_first_of(kSeparators, i);
        const bool excluded = keywords[i] == '+' || keywords[i] == '-';
        if (excluded && end == std::string_view::npos) return;
        const size_t stop = end == std::string_view::npos ? keywords.size() : end;
        if (!excluded && !take(keywords.substr(i, stop - i))) return;
        i = stop;
    }
}
