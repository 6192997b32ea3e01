// recipe_naming.h — the descriptive name proposed for a recipe or a bounce.
//
// Index
//   AutoNameEvent      "<tone> <noun>" or "<words> Bed", unique among the recipes
//
// Pure functions of their arguments: safe on any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct Event;
struct EventPreset;

// A Bed with layer files: two words from their file names and " Bed".
// Otherwise a tone word from the weight curve ("Sub" .. "Air", or "Dynamic"
// when it moves) and a noun from the keywords, the library filter's sound
// category, the recipe name, the filter's longest word or the shape. A name a
// recipe already has gets the first free " 2" .. " 99". Lengths count
// characters: words of at most 30 (31 in a Bed's name), the name at most 63;
// a longer word or name is cut between whole characters and ends in "…".
std::string AutoNameEvent(const Event& event, const std::vector<EventPreset>& recipes);
// The same, written into out[outSize] (cut by the same rule, with "…", when
// the field is too small for it).
void AutoNameEvent(const Event& event, const std::vector<EventPreset>& recipes, char* out, size_t outSize);
