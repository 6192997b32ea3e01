// voice_builds.h — building many voices at once, on every core, nearest the
// playhead first.
//
// Index
//   ResultsNearestFirst     the order voices are built in
//   BuildVoicesOnEveryCore  one thread per usable core, each new voice in place of its stale one
//                           (each voice waits for the observer's voiceBuildPace when a test holds it)
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "operations/document_context.h"

struct RenderResult;

// The order voices are built in: result indices by the distance of their
// span from `seconds` (0 inside it), equal distances in index order.
std::vector<size_t> ResultsNearestFirst(const std::vector<RenderResult>& results, double seconds);

// A voice built for each result at the indices of `order`, taken in that
// order by one thread per usable core (each build writes back only into its
// own result and installs its voice when done). With `slots` (per result
// index), a new voice takes the place of the voice at its slot when that is
// still its result's, else it is appended, so new voices come out in
// finishing order. Stops when `cancel` (may be null) is raised; `bar` (may be
// null) gets the share built, and with countProgress the engine's
// buildProgress counts them. False when it stopped short. With the context's
// observer asking for reverseVoiceBuilds, one thread builds them in reverse.
bool BuildVoicesOnEveryCore(const DocumentContext& ctx, const std::vector<size_t>& order, bool quickRebuild,
                            const std::atomic<bool>* cancel, std::atomic<float>* bar, bool countProgress,
                            const std::vector<int>* slots = nullptr);

