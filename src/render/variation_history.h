// variation_history.h — every sound a layer had, and stepping back and forth
// through them.
//
// Index
//   kVariationHistoryLimit      entries a layer keeps (the oldest goes first)
//   ApplyVariationToResult      a stored sound choice back into a layer
//   PushVariationHistory        store the layer's current sound as the newest entry
//   CanStepVariationBack / CanStepVariationForward   what the two buttons may do
//   StepVariationBack / StepVariationForward         one step on a result record
//
// variationIndex -1 means live: the layer shows its current choice, which
// need not be in the history. 0 <= index < count means entry `index` is
// applied. Stepping never returns to live: the newest entry is the state that
// was live when browsing began.
#pragma once

#include <cstddef>

struct RenderResult;
struct ResultVariation;

inline constexpr size_t kVariationHistoryLimit = 20;

// Name, file, id, source offset and duration, fades and sync offset from the
// variation, and its placement when it holds one; the layer is unmuted, is a
// sketch exactly when the variation has no file, and a fill whose file or
// region changes loses its chunk plan.
void ApplyVariationToResult(RenderResult& result, const ResultVariation& variation);

// Entries from the browsing index on are dropped (the one shown is replaced
// by the state pushed); the current name, file, id, region, fades, sync
// offset and placement are appended; the oldest entry goes when the history
// would exceed the limit; the layer becomes live.
void PushVariationHistory(RenderResult& result);

// Live: any entry at all. Browsing: an entry before the one shown.
bool CanStepVariationBack(const RenderResult& result);
// Browsing, and not at the newest entry.
bool CanStepVariationForward(const RenderResult& result);

// One step over the record alone (history, index and the applied sound).
// Stepping back from live first pushes the live state, then shows the entry
// that was newest before it. False (nothing changed) when the step is not
// possible.
bool StepVariationBack(RenderResult& result);
bool StepVariationForward(RenderResult& result);
