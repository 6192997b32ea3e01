// chain_file.h — a saved group of events as a ".tlchain" JSON file.
//
// Index
//   ChainEvent / Chain     one saved event (its preset plus placement), the group
//   kChainExtension        ".tlchain"
//   ChainFromEvents        the chain of the listed events, timed from the earliest
//   ChainFileText          the file's text for a chain
//   ChainFileName          the file a chain of a given name is saved as
//   SaveChainFile          write into a given folder (headless), or into the user's chains folder
//   ReadChainFile          lenient reader; never fails
//
// Unlike a recipe, each chain event keeps its gain, hero and alloy flags and
// its time relative to the group; it carries no clip weight, and its preset's
// own syncOffset stays 0 (the chain event's syncOffset is used).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "recipes/event_preset.h"
#include "recipes/preset_json.h"

struct ChainEvent {
    EventPreset preset;   // name and sourcePath empty
    float relTime = 0;    // seconds after the chain's earliest event
    float syncOffset = 0;
    bool hero = false;
    bool alloy = false;
};

struct Chain {
    char name[64] = {};
    std::vector<ChainEvent> events;  // file order
    std::string sourcePath;
};

inline constexpr const char kChainExtension[] = ".tlchain";

// The listed events in the order given; indices outside `events` are skipped.
Chain ChainFromEvents(std::string_view name, const std::vector<Event>& events,
                      const std::vector<int>& indices);

std::string ChainFileText(const Chain& chain);

// "<stem>.tlchain" for the name as a chain keeps it (64 bytes at most).
std::string ChainFileName(std::string_view name);

// Writes folder/<stem>.tlchain ("group" when the name leaves no stem). With
// no valid index nothing is written (kPresetNothingToSave); a file there that
// belongs to another name gives kPresetNameTaken unless `replaceOtherName`.
PresetSaveResult SaveChainFile(const std::string& folder, std::string_view name,
                               const std::vector<Event>& events, const std::vector<int>& indices,
                               bool replaceOtherName = false);

// The user's save into ChainsDir().
PresetSaveResult SaveChainFile(std::string_view name, const std::vector<Event>& events,
                               const std::vector<int>& indices, bool replaceOtherName = false);

// An empty chain (no events, empty name) with sourcePath = path for a file
// that cannot be read; otherwise what the file holds.
Chain ReadChainFile(const std::string& path);
