// event_naming.h — what an event is called: its label, its shape's name and
// the descriptive name proposed for a recipe or a bounce.
//
// Index
//   EventDisplayName   up to three words of the keywords, else the shape's name
//   EventShapeName     the user shape's name, else the built-in shape name
//   AutoNameEvent      "<tone> <noun>" or "<words> Bed", unique among the recipes
//
// Pure functions of their arguments: safe on any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct Event;
struct EventPreset;
struct Project;

// At most 62 bytes: the keywords' first three words that are not "+" or "-"
// terms, each with its first letter in upper case, joined by blanks; the
// shape's name when there are none.
std::string EventDisplayName(const Project& project, const Event& event);

std::string EventShapeName(const Project& project, const Event& event);

// A Bed with layer files: two words from their file names and " Bed".
// Otherwise a tone word from the weight curve ("Sub" .. "Air", or "Dynamic"
// when it moves) and a noun from the keywords, the library filter's sound
// category, the recipe name, the filter's longest word or the shape. A name a
// recipe already has gets the first free " 2" .. " 99". At most 63 bytes.
std::string AutoNameEvent(const Event& event, const std::vector<EventPreset>& recipes);
// The same, written into out[outSize] (cut at a character boundary).
void AutoNameEvent(const Event& event, const std::vector<EventPreset>& recipes, char* out, size_t outSize);
