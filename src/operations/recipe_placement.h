// recipe_placement.h — a recipe or a chain placed on the timeline at the
// playhead, each as one undo step.
//
// Index
//   PlaceRecipeAtPlayhead   the recipe as one new event, selected alone
//   PlaceChainAtPlayhead    the chain's events as a new linked group
//   InstantiateChain        the chain's events at a given time (after the undo step)
//   ChainGroupName          the chain's name, numbered until no event's folder has it
//
// The forms over a DocumentContext act on its objects at its current time;
// the short forms act on the program's document and lists. Everything refuses
// (changing nothing, pushing no undo step) for an index outside the list and
// while the document may not change. Interface thread.
#pragma once

#include <string>
#include <vector>

#include "operations/document_context.h"

struct Chain;
struct Event;
struct EventPreset;

// A Spot, Bloom, Contour, Fill or Scatter is only added (it sounds after the
// next render). A Clip with a file gets its layer and voice at once and takes
// the layer's length. A Bed with files gets a brightness per layer where the
// recipe left the weights automatic, is locked, gets its layers, and is handed
// to the interface as the Bed whose audio to load. Returns the new index, or -1.
int PlaceRecipeAtPlayhead(const DocumentContext& ctx, const std::vector<EventPreset>& recipes, int index);
int PlaceRecipeAtPlayhead(int index);

// Undo step, then InstantiateChain at the current time. Returns the index of
// the first new event, or -1 (also for a chain without events).
int PlaceChainAtPlayhead(const DocumentContext& ctx, const std::vector<Chain>& chains, int index);
int PlaceChainAtPlayhead(int index);

// Appends the chain's events at t + their relative times in one folder of
// their own (a new linked group), builds the layers and voices of its Clips,
// moves the playhead to the current time and selects the new events, the
// first as primary. Takes no undo step. Returns the first new index, or -1.
int InstantiateChain(const DocumentContext& ctx, const Chain& chain, float t);

// `name` when no event's folder is called so, else "name 2", "name 3", ...,
// the name cut at a character boundary so that the whole fits a 64-byte
// folder field.
std::string ChainGroupName(const std::vector<Event>& events, const char* name);
